#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    // The resources live in a static library, so they are registered by hand. The executable carries
    // no icon resource of its own, so the window icon comes from them on every platform.
    Q_INIT_RESOURCE(resources);
    application.setWindowIcon(QIcon(QStringLiteral(":/rc/velumen.png")));

    MainWindow window;
    window.show();
    return application.exec();
}
