#include "app/main.h"

#include <QApplication>

int RunSonalyx(int argc, char** argv)
{
    QApplication app(argc, argv);
    return app.exec();
}
