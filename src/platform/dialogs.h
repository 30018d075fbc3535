// Messages to the user, from any layer. The desktop layer presents them as
// modal message boxes (desktop/messagebox.h); tests install a hook that
// records them instead. With neither, a message goes to standard error.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MsgIcon { None, Information, Warning, Error };

using MessageHook = std::function<void(const std::string& caption, const std::string& text, MsgIcon icon)>;

// Shows a message: through the hook when one is installed, else through
// the presenter, else on standard error.
void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon);
// Plain information message with the program's name as caption.
void ShowMessage(const std::string& text);
// Replaces the presenter by a call to hook; an empty hook restores it.
void SetMessageHook(MessageHook hook);
// How messages are shown when no hook is installed; set once at start-up.
void SetMessagePresenter(MessageHook presenter);

} // namespace platform
