#include "desktop/messagebox.h"

#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace desktop {
namespace {
QMessageBox::Icon ToQt(platform::MsgIcon icon)
{
    switch (icon) {
    case platform::MsgIcon::Information: return QMessageBox::Information;
    case platform::MsgIcon::Warning: return QMessageBox::Warning;
    case platform::MsgIcon::Error: return QMessageBox::Critical;
    case platform::MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

void ShowBox(const std::string& caption, const std::string& text, platform::MsgIcon icon)
{
    QWidget* owner = QApplication::activeWindow();
    // The texts break their lines with CR or CR LF; Qt's labels break on LF.
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n").replace('\r', '\n');
    QMessageBox box(ToQt(icon), QString::fromStdString(caption), shown, QMessageBox::Ok, owner);
    box.exec();
}
} // namespace

void InstallMessageBoxes()
{
    platform::SetMessagePresenter(ShowBox);
}

} // namespace desktop
