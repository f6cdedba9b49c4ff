#ifndef VELUMEN_WINDOWTESTHELPERS_H
#define VELUMEN_WINDOWTESTHELPERS_H

// A widget of a window (or of its dialogs, the window's children) by object name.

#include "mainwindow.h"
#include "selectimagesbutton.h"

#include <QtWidgets>

template <typename T>
T *child(const QObject *root, const char *name)
{
    T *widget = root->findChild<T *>(QLatin1String(name));
    return widget ? widget : (qFatal("no widget %s", name), nullptr);
}

#endif
