#include "platform/shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {
// An address has a scheme of two or more letters; "C:" or a bare path has not.
bool IsAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme().size() > 1;
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

SoundSettingsCommand SoundSettingsFor(SoundSettingsPage page)
{
    // pavucontrol's tabs: 1 playback streams, 2 recording streams, 3 output
    // devices, 4 input devices.
    switch (page) {
    case SoundSettingsPage::RecordingDevices:
        return {"pavucontrol", "--tab=4"};
    case SoundSettingsPage::PlaybackDevices:
        return {"pavucontrol", "--tab=3"};
    case SoundSettingsPage::VolumeMixer:
        break;
    }
    return {"pavucontrol", "--tab=1"};
}

bool OpenSoundSettings(SoundSettingsPage page, std::string* why)
{
    const SoundSettingsCommand command = SoundSettingsFor(page);
    const QString program = QStandardPaths::findExecutable(QString::fromStdString(command.program));
    if (program.isEmpty()) {
        if (why)
            *why = "The sound settings tool (" + command.program +
                   ") is not installed. Install the package " + command.program + " to change devices and volumes.";
        return false;
    }
    if (!QProcess::startDetached(program, {QString::fromStdString(command.tabArgument)})) {
        if (why)
            *why = "The sound settings tool (" + command.program + ") could not be started.";
        return false;
    }
    return true;
}

} // namespace platform
