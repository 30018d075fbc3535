// Writing a whole file so that it is never found half written: the key
// store's saves and the views' exports go through here. No Qt in here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Replaces the file at `path` (its target, for a symbolic link) by
// `content` by way of a temporary file beside it, flushed
// and renamed over it, so the file is whole or not there. Missing folders
// are made. Empty on success, else why it failed.
std::string ReplaceFileAtomically(const std::string& path, std::string_view content);

} // namespace platform
