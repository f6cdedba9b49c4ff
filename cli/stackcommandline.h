#ifndef VELUMEN_STACKCOMMANDLINE_H
#define VELUMEN_STACKCOMMANDLINE_H

#include "stackjob.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

// The batch front end's options, read into the same settings the window keeps, and the job they
// make through the engine's own functions, so that both front ends write the same files.
class StackCommandLine
{
public:
    enum Action { Run, DryRun, ShowHelp, ShowVersion, UsageError };

    // Reads the arguments (the program name first). "--from -" reads standard input.
    Action parse(const QStringList &arguments);

    // What is wrong, for UsageError.
    QString errorText() const { return m_error; }
    // Only after Run or DryRun.
    const StackJob &job() const { return m_job; }
    QString outputFolder() const { return m_outputFolder; }
    bool quiet() const { return m_quiet; }
    // What was left out of folders given as sources, or empty.
    QString leftOutNotice() const { return m_leftOutNotice; }

    static QString helpText();

private:
    bool readChoices(const QCommandLineParser &parser);
    bool readNumbers(const QCommandLineParser &parser);
    bool readPattern(const QCommandLineParser &parser);
    bool readSources(const QCommandLineParser &parser);
    bool makeJob(const QCommandLineParser &parser);
    bool readVideo(const QCommandLineParser &parser);
    bool addSource(const QString &path);
    bool readList(const QString &listName, QStringList *paths);
    bool fail(const QString &error);

    QString m_error;
    StackJob m_job;
    StackSettings m_settings;
    QStringList m_sources;
    QString m_outputFolder;
    QString m_pattern;
    QString m_leftOutNotice;
    int m_stackMethod = 0;
    int m_format = 0;
    int m_compression = 92;
    int m_group = 1;
    int m_groups = 1;
    bool m_quiet = false;
};

#endif
