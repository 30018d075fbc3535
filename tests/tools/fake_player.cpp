// Stands in for the desktop's media player in tests: opened with a file (a
// path or a file:// address, as a desktop launcher hands it over), it shows a
// window named after the file's path, plays the file into the default sink
// with paplay, and ends when its window is asked to close. It notes both in
// the file named by FAKE_PLAYER_LOG ("opened PATH", "closed PATH").
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QUrl>

namespace {

void Note(const QString& line)
{
    QFile log(qEnvironmentVariable("FAKE_PLAYER_LOG"));
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write((line + "\n").toUtf8());
}

class PlayerWindow : public QLabel {
public:
    explicit PlayerWindow(const QString& path) : QLabel("Playing " + path), path_(path)
    {
        setWindowTitle(path);
        resize(300, 60);
        player_.start("paplay", {path});
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        player_.kill();
        player_.waitForFinished(2000);
        Note("closed " + path_);
        event->accept();
    }

private:
    QString path_;
    QProcess player_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString given = QString::fromLocal8Bit(argv[1]);
    const QUrl url(given);
    const QString path = url.isLocalFile() ? url.toLocalFile() : given;
    PlayerWindow window(path);
    window.show();
    Note("opened " + path);
    return app.exec();
}
