#include "platform/dialogs.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {
std::mutex hookLock;
MessageHook installedHook;
MessageHook installedPresenter;

MessageHook currentHandler()
{
    std::lock_guard<std::mutex> guard(hookLock);
    return installedHook ? installedHook : installedPresenter;
}
} // namespace

void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon)
{
    if (MessageHook handler = currentHandler()) {
        handler(caption, text, icon);
        return;
    }
    // No window to show it in: the terminal is the only place left.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void ShowMessage(const std::string& text)
{
    MessageBox("Sonalyx", text, MsgIcon::None);
}

void SetMessageHook(MessageHook hook)
{
    std::lock_guard<std::mutex> guard(hookLock);
    installedHook = std::move(hook);
}

void SetMessagePresenter(MessageHook presenter)
{
    std::lock_guard<std::mutex> guard(hookLock);
    installedPresenter = std::move(presenter);
}

} // namespace platform
