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

// Messages from threads other than the UI thread (the sound server's, the
// recording library's): a box must not be opened there, and a hook must not
// be called there. With a waker installed the message waits in a queue and
// the waker asks the UI thread to call ShowPostedMessages(); without one it
// is shown at once, on the calling thread.
void PostMessageBox(const std::string& caption, const std::string& text, MsgIcon icon);
// UI thread: shows the messages posted so far, oldest first.
void ShowPostedMessages();
// The waker must only queue a call to ShowPostedMessages() on the UI thread
// and return (it runs on the posting thread, possibly under the sound
// server's lock). An empty waker uninstalls it; messages still queued are
// shown at once.
void SetPostedMessageWaker(std::function<void()> waker);

} // namespace platform
