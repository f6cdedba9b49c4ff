#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    // The resources live in a static library, so they are registered by hand.
    Q_INIT_RESOURCE(resources);
#ifndef Q_OS_WIN
    // Windows takes the window icon from the executable's icon resource; elsewhere it comes from ours.
    application.setWindowIcon(QIcon(QStringLiteral(":/rc/velumen.png")));
#endif

    MainWindow window;
    window.show();
    return application.exec();
}
