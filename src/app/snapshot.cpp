#include "app/snapshot.h"

#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "platform/atomicfile.h"
#include "platform/dialogs.h"
#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cmath>
#include <cstdio>

std::optional<SnapshotRequest> SnapshotArguments(const std::vector<std::string>& args, std::string* error)
{
    SnapshotRequest request;
    bool asked = false, waitGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--snapshot" && hasValue) {
            request.folder = args[++i];
            asked = true;
        } else if (args[i] == "--after" && hasValue) {
            const std::string& text = args[++i];
            char* end = nullptr;
            request.seconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(request.seconds) || request.seconds < 0 ||
                request.seconds > 3600) {
                *error = "--after wants a number of seconds from 0 to 3600, not \"" + text + "\"";
                return std::nullopt;
            }
            waitGiven = true;
        } else if (args[i] == "--snapshot" || args[i] == "--after") {
            *error = args[i] + " wants a value";
            return std::nullopt;
        }
    }
    if (waitGiven && !asked) {
        *error = "--after goes with --snapshot DIR";
        return std::nullopt;
    }
    if (!asked)
        return std::nullopt;
    if (request.folder.empty()) {
        *error = "--snapshot wants a folder";
        return std::nullopt;
    }
    return request;
}

void PrintMessagesInstead()
{
    platform::SetMessagePresenter([](const std::string& caption, const std::string& text, platform::MsgIcon) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    });
}

int WriteSnapshot(const std::string& folder)
{
    if (CapturedBlocks.load() == 0) {
        std::fprintf(stderr, "Sonalyx: no device could be started; nothing was captured, no snapshot written\n");
        return 1;
    }
    const QDir dir(QString::fromStdString(folder));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "Sonalyx: the folder %s could not be made\n", folder.c_str());
        return 1;
    }
    int code = 0;
    const auto report = [&code](const QString& path, const std::string& why) {
        if (why.empty())
            return;
        std::fprintf(stderr, "Sonalyx: could not save %s: %s\n", qPrintable(path), why.c_str());
        code = 1;
    };
    for (TViewForm* view :
         {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect), static_cast<TViewForm*>(FormSpTm)}) {
        const QString path = dir.filePath(view->FileBaseName() + ".png");
        report(path, view->SavePicture(path));
    }
    const QString csv = dir.filePath("spectrum.csv");
    report(csv, FormSpect->SaveSpectrum(csv));
    const QString summary = dir.filePath("snapshot.json");
    report(summary, WriteSnapshotSummary(summary.toStdString()));
    return code;
}

std::string SnapshotSummary()
{
    QJsonObject summary;
    summary["device"] = QString::fromStdString(DeviceName);
    summary["captured_blocks"] = static_cast<qint64>(CapturedBlocks.load());
    summary["dropped_frames"] = static_cast<qint64>(DeviceDroppedFrames());
    return QJsonDocument(summary).toJson(QJsonDocument::Indented).toStdString();
}

std::string WriteSnapshotSummary(const std::string& path)
{
    return platform::ReplaceFileAtomically(path, SnapshotSummary());
}

void ScheduleSnapshot(const SnapshotRequest& request)
{
    QTimer::singleShot(static_cast<int>(std::lround(request.seconds * 1000)), qApp, [folder = request.folder] {
        const int code = WriteSnapshot(folder);
        WaveInClose();
        QCoreApplication::exit(code);
    });
}
