#ifndef VELUMEN_WINDOWTESTHELPERS_H
#define VELUMEN_WINDOWTESTHELPERS_H

// Shared by the main window tests: the window with its widgets by object name (the destination
// dialog's too, as it is the window's child), a source choice as the chooser sends it, the run
// controls, message boxes.

#include "executethread.h"
#include "mainwindow.h"
#include "selectimagesbutton.h"
#include "widgettesthelpers.h"

template <typename T>
T *child(const QObject *root, const char *name)
{
    T *widget = root->findChild<T *>(QLatin1String(name));
    return widget ? widget : (qFatal("no widget %s", name), nullptr);
}

class WindowFixture
{
protected:
    std::unique_ptr<MainWindow> window;

    void newWindow() { window.reset(), window.reset(new MainWindow), window->show(); }
    template <typename T = QComboBox>
    T *get(const char *name) const { return child<T>(window.get(), name); }
    void click(const char *name = "executeButton") const { get<QPushButton>(name)->click(); }
    ExecuteThread *worker() const { return window->findChild<ExecuteThread *>(); }

    // The new folder (unless the folder stayed the same), the files, their number.
    void chooseSources(const QString &folder, const QStringList &files, bool newFolder = true) const
    {
        auto *button = get<SelectImagesButton>("sourceImagesButton");
        if (newFolder)
            emit button->pathChanged(folder);
        emit button->selected(files);
        emit button->inputCountChanged(files.size());
    }

    // Begin's text, whether Begin and Cancel are enabled, and the bar: "Begin|1|0|0" when idle.
    QString controls() const
    {
        const auto *begin = get<QPushButton>("executeButton");
        return QStringLiteral("%1|%2|%3|%4").arg(begin->text()).arg(begin->isEnabled())
            .arg(get<QPushButton>("cancelButton")->isEnabled()).arg(get<QProgressBar>("progressBar")->value());
    }
};

// While it lives, closes every message box (they are modal) and keeps "title|text|number of buttons";
// `whileOpen` runs first, inside the box's own event loop.
struct BoxCatcher : QObject
{
    QStringList seen;
    QTimer timer;
    explicit BoxCatcher(std::function<void()> whileOpen = {})
    {
        connect(&timer, &QTimer::timeout, this, [this, whileOpen] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->windowTitle() + '|' + box->text() + '|' + QString::number(box->buttons().size());
            timer.stop(); // whileOpen may wait in an event loop of its own
            if (whileOpen)
                whileOpen();
            timer.start();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(20);
    }
};

#endif
