#ifndef VELUMEN_CONSOLE_H
#define VELUMEN_CONSOLE_H

#include <QString>

// Lines for the terminal or a script: results on standard output, messages on standard error.
class Console
{
public:
    static void out(const QString &line);
    // One message line, after the program's name.
    static void error(const QString &message);
    // True when standard error is a terminal, where a progress line can be redrawn in place.
    static bool errorIsTerminal();
    // Text without a line end, written at once.
    static void errorText(const QString &text);
};

#endif
