#ifndef VELUMEN_WINDOWTESTHELPERS_H
#define VELUMEN_WINDOWTESTHELPERS_H

// Shared by the main window tests: widgets by object name (the destination dialog's too, as it is
// the window's child), a source choice as the chooser sends it, the run controls, message boxes.

#include "selectimagesbutton.h"

#include <QtWidgets>

#include <functional>

template <typename T>
T *child(const QObject *root, const char *name)
{
    T *widget = root->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// The new folder (unless the folder stayed the same), the files, their number.
inline void chooseSources(const QObject *window, const QString &folder, const QStringList &files,
                          bool newFolder = true)
{
    auto *button = child<SelectImagesButton>(window, "sourceImagesButton");
    if (newFolder)
        emit button->pathChanged(folder);
    emit button->selected(files);
    emit button->inputCountChanged(files.size());
}

// Begin's text, whether Begin and Cancel are enabled, and the bar: "Begin|1|0|0" when idle.
inline QString controls(const QObject *window)
{
    auto *begin = child<QPushButton>(window, "executeButton");
    return QStringList{begin->text(), QString::number(begin->isEnabled()),
                       QString::number(child<QPushButton>(window, "cancelButton")->isEnabled()),
                       QString::number(child<QProgressBar>(window, "progressBar")->value())}.join(QLatin1Char('|'));
}

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
