#include "desktop/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace desktop {

namespace {
// An address has a scheme of two or more letters; "C:" or a bare path has not.
bool IsAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme().size() > 1;
}

// pavucontrol's tabs: 1 playback streams, 2 recording streams, 3 output
// devices, 4 input devices.
QString TabArgument(SoundSettingsPage page)
{
    switch (page) {
    case SoundSettingsPage::RecordingDevices: return "--tab=4";
    case SoundSettingsPage::PlaybackDevices: return "--tab=3";
    case SoundSettingsPage::VolumeMixer: break;
    }
    return "--tab=1";
}
} // namespace

bool OpenDocument(const std::string& pathOrAddress)
{
    const QString text = QString::fromStdString(pathOrAddress);
    if (text.isEmpty())
        return false;
    if (IsAddress(text))
        return QDesktopServices::openUrl(QUrl(text));
    const QFileInfo file(text);
    if (!file.exists())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
}

bool OpenSoundSettings(SoundSettingsPage page, std::string* why)
{
    const QString program = QStandardPaths::findExecutable("pavucontrol");
    if (program.isEmpty()) {
        if (why)
            *why = "The sound settings tool (pavucontrol) is not installed. Install the package pavucontrol to "
                   "change devices and volumes.";
        return false;
    }
    if (!QProcess::startDetached(program, {TabArgument(page)})) {
        if (why)
            *why = "The sound settings tool (pavucontrol) could not be started.";
        return false;
    }
    return true;
}

} // namespace desktop
