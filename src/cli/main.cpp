// sonalyx-measure: the analyzer's measurements from the command line, for
// scripts, production tests and noise monitoring. No window and no display:
// it links only the libraries without Qt. Answers are JSON on standard
// output; a failure is one line on standard error and its own exit code.
#include "cli/bands.h"
#include "cli/devicelist.h"
#include "cli/distortion.h"
#include "cli/levels.h"
#include "cli/options.h"
#include "cli/response.h"
#include "platform/soundserver.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* NoServerText = "the sound server does not answer";

int Fail(int code, const std::string& why)
{
    std::fprintf(stderr, "sonalyx-measure: %s\n", why.c_str());
    return code;
}

cli::Outcome RunRecording(const cli::Options& options)
{
    switch (options.command) {
    case cli::Command::Levels: return cli::RunLevels(options);
    case cli::Command::Distortion: return cli::RunDistortion(options);
    case cli::Command::Response: return cli::RunResponse(options);
    default: return cli::RunBands(options);
    }
}

int Run(const cli::Options& options)
{
    if (options.command == cli::Command::Help) {
        std::fputs(cli::UsageText, stdout);
        return cli::ExitOk;
    }
    if (!platform::Server().connected())
        return Fail(cli::ExitNoServer, NoServerText);
    if (options.command == cli::Command::Devices) {
        std::fputs(cli::DevicesJson(cli::PlaybackDevices(), cli::RecordingDevices()).c_str(), stdout);
        return cli::ExitOk;
    }
    const cli::Outcome outcome = RunRecording(options);
    // A clipped response is still printed: the script decides what it is worth.
    std::fputs(outcome.json.c_str(), stdout);
    if (outcome.exitCode != cli::ExitOk)
        return Fail(outcome.exitCode, outcome.error);
    if (!outcome.warning.empty())
        std::fprintf(stderr, "sonalyx-measure: %s\n", outcome.warning.c_str());
    return cli::ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    const cli::Parsed parsed = cli::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "sonalyx-measure: %s\n%s", parsed.error.c_str(), cli::UsageText);
        return cli::ExitUsage;
    }
    const int code = Run(*parsed.options);
    std::fflush(stdout);
    platform::ResetServer();
    return code;
}
