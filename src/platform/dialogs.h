// Message boxes. Tests install a hook that records the messages instead of
// showing modal boxes.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MsgIcon { None, Information, Warning, Error };

using MessageHook = std::function<void(const std::string& caption, const std::string& text, MsgIcon icon)>;

// Modal message box owned by the main window (when there is one).
void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon);
// Plain information message with the program's name as caption.
void ShowMessage(const std::string& text);
// Replaces the modal boxes by a call to hook; an empty hook restores them.
void SetMessageHook(MessageHook hook);

} // namespace platform
