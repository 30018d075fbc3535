#include "platform/soundserver.h"

#include "platform/dialogs.h"

#include <mutex>
#include <string_view>

namespace platform {
namespace {
std::mutex serverLock;
std::unique_ptr<SoundServer> current;

constexpr std::string_view ReadFailurePrefix = "Reading from the recording device \"";
constexpr std::string_view WriteFailurePrefix = "Playing to the playback device \"";
} // namespace

SoundServer& Server()
{
    std::lock_guard<std::mutex> guard(serverLock);
    if (!current)
        current = CreatePulseServer();
    return *current;
}

void SetServer(std::unique_ptr<SoundServer> server)
{
    std::lock_guard<std::mutex> guard(serverLock);
    current = std::move(server);
}

void ResetServer()
{
    std::unique_ptr<SoundServer> old;
    {
        std::lock_guard<std::mutex> guard(serverLock);
        old = std::move(current);
    }
}

} // namespace platform

namespace platform {

std::string ReadFailureText(const std::string& source, const std::string& serverText)
{
    return std::string(ReadFailurePrefix) + source + "\" failed: " + serverText;
}

std::string WriteFailureText(const std::string& sink, const std::string& serverText)
{
    return std::string(WriteFailurePrefix) + sink + "\" failed: " + serverText;
}

bool IsReportedStreamFailure(const std::string& why)
{
    return why.starts_with(ReadFailurePrefix) || why.starts_with(WriteFailurePrefix);
}

void ReportStreamFailure(const std::string& why)
{
    if (IsReportedStreamFailure(why))
        PostMessageBox("Sonalyx", why, MsgIcon::Warning);
}

RequestRetry::RequestRetry(std::string failureText) : failureText_(std::move(failureText)) {}

void RequestRetry::failed(const std::string& serverText)
{
    if (failures_.fetch_add(1) + 1 == ReportAfter)
        PostMessageBox("Sonalyx", failureText_ + ": " + serverText, MsgIcon::Warning);
}

void RequestRetry::succeeded()
{
    failures_.store(0);
}

} // namespace platform
