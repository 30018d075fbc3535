#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <mutex>

namespace platform {
namespace {
std::mutex hookLock;
MessageHook installedHook;

MessageHook currentHook()
{
    std::lock_guard<std::mutex> guard(hookLock);
    return installedHook;
}

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon)
{
    if (MessageHook hook = currentHook()) {
        hook(caption, text, icon);
        return;
    }
    QWidget* owner = QApplication::activeWindow();
    // The texts break their lines with CR or CR LF; Qt's labels break on LF.
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n").replace('\r', '\n');
    QMessageBox box(toQt(icon), QString::fromStdString(caption), shown, QMessageBox::Ok, owner);
    box.exec();
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

} // namespace platform
