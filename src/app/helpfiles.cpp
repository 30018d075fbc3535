#include "app/helpfiles.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string HelpFileBeside(const std::string& programPath)
{
    fs::path help(programPath);
    help.replace_extension(".chm");
    return help.string();
}

std::vector<std::string> ManualCandidates(const std::string& programPath, const std::string& installedDocDir)
{
    const fs::path folder = fs::path(programPath).parent_path();
    std::vector<std::string> candidates = {
        (folder / "docs" / "manual" / "index.html").lexically_normal().string(),
        (folder / ".." / "share" / "doc" / "sonalyx" / "manual" / "index.html").lexically_normal().string(),
    };
    if (!installedDocDir.empty()) {
        const std::string installed = (fs::path(installedDocDir) / "manual" / "index.html").lexically_normal().string();
        if (installed != candidates.back())
            candidates.push_back(installed);
    }
    return candidates;
}

std::string FirstExisting(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        std::error_code error;
        if (fs::is_regular_file(path, error))
            return path;
    }
    return {};
}
