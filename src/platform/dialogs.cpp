#include "platform/dialogs.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace platform {
namespace {
std::mutex hookLock;
MessageHook installedHook;
MessageHook installedPresenter;

struct PostedMessage {
    std::string caption;
    std::string text;
    MsgIcon icon;
};
std::mutex postLock;
std::function<void()> installedWaker;
std::deque<PostedMessage> posted;

std::deque<PostedMessage> TakePosted()
{
    std::lock_guard<std::mutex> guard(postLock);
    std::deque<PostedMessage> taken;
    taken.swap(posted);
    return taken;
}

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

void PostMessageBox(const std::string& caption, const std::string& text, MsgIcon icon)
{
    std::function<void()> waker;
    {
        std::lock_guard<std::mutex> guard(postLock);
        if (installedWaker) {
            posted.push_back({caption, text, icon});
            waker = installedWaker;
        }
    }
    if (waker)
        waker();
    else
        MessageBox(caption, text, icon);
}

void ShowPostedMessages()
{
    for (const PostedMessage& message : TakePosted())
        MessageBox(message.caption, message.text, message.icon);
}

void SetPostedMessageWaker(std::function<void()> waker)
{
    {
        std::lock_guard<std::mutex> guard(postLock);
        installedWaker = std::move(waker);
        if (installedWaker)
            return;
    }
    ShowPostedMessages();
}

} // namespace platform
