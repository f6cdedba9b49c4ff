// Both programs from a terminal: a folder's earlier results left out of the sources (and said so),
// -q beside --quiet, and velumen-stack's bash completion against its --help.

#include "testtools.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString printed, errors;

    QString path(const QString &name) const { return dir.filePath(name); }

    int stack(const QStringList &arguments)
    {
        QProcess process;
        process.start(VELUMEN_STACK, arguments);
        const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
        printed = process.readAllStandardOutput();
        errors = process.readAllStandardError();
        return ended ? process.exitCode() : -1;
    }

    // The sources of the one destination image of a dry run, by file name.
    QStringList plannedSources() const
    {
        QStringList names;
        for (const QString &field : printed.section('\n', 1, 1).split('\t').mid(2))
            names << QFileInfo(field.section(" (", 0, 0)).fileName();
        return names;
    }

    // What the completion offers for the words of a command line (as bash splits it, "=" a word of
    // its own), the last one being completed.
    static QStringList complete(const QStringList &words)
    {
        const QString script = ". /usr/share/bash-completion/bash_completion; . \"$0\"; COMP_LINE=$1; shift; "
                               "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_POINT=${#COMP_LINE}; "
                               "_velumen_stack; printf '%s\\n' \"${COMPREPLY[@]}\"";
        const QString line = words.join(' ').replace(" = ", "=");
        QByteArray output;
        if (!TestTools::ToolSandbox::run("bash", QStringList{"-c", script, VELUMEN_COMPLETION, line} + words,
                                         &output))
            return {"(bash failed)"};
        QStringList offered = QString(output).split('\n', Qt::SkipEmptyParts);
        offered.sort();
        return offered;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid() && QDir(dir.path()).mkpath("night"));
        QDir::setCurrent(dir.path());
        // Frames, the results an earlier run wrote beside them, and names the pattern never makes.
        for (const char *name : {"frame1.jpg", "frame2.jpg", "frame10.jpg", "output0000.jpg", "output0001.jpg",
                                 "output12345.jpg", "output01234.jpg", "output0002.png", "notes.txt"})
            QVERIFY(TestTools::ToolSandbox::run("convert", {"-size", "8x6", "xc:gray", path("night/") + name}));
    }

    // A folder's files named as the pattern in force names destination images are left out, with
    // the count on standard error, the same from velumen; files named one by one are taken as they are.
    void earlierResultsLeftOut()
    {
        const QStringList frames{"frame1.jpg", "frame2.jpg", "frame10.jpg"};
        const QString notice = "left out 3 files whose names the destination pattern output****.jpg makes, "
                               "as from an earlier run\n";
        QCOMPARE(stack({"night", "--dry-run"}), 0);
        QCOMPARE(plannedSources(), frames + QStringList({"output0002.png", "output01234.jpg"}));
        QCOMPARE(errors, "velumen-stack: " + notice);
        // The default name follows the file type: now the PNG is the earlier result.
        QCOMPARE(stack({"night", "-f", "png", "--dry-run"}), 0);
        const QStringList results{"output0000.jpg", "output0001.jpg", "output01234.jpg", "output12345.jpg"};
        QCOMPARE(plannedSources(), frames + results);
        QCOMPARE(errors, QString("velumen-stack: left out 1 file whose names the destination pattern "
                                 "output****.png makes, as from an earlier run\n"));
        QCOMPARE(stack({"-p", "frame*.jpg", "night/output0000.jpg", "night/frame2.jpg", "--dry-run"}), 0);
        QCOMPARE(plannedSources(), QStringList({"output0000.jpg", "frame2.jpg"}));
        QCOMPARE(errors, QString());

        // Quiet either way: no notice, no summary.
        for (const QString quiet : {"-q", "--quiet"}) {
            QVERIFY(QDir(path("out" + quiet)).mkpath("."));
            QCOMPARE(stack({quiet, "night", "-o", path("out" + quiet)}), 0);
            QCOMPARE(printed + errors, QString());
            QVERIFY(QFileInfo::exists(path("out" + quiet + "/output0000.jpg")));
        }
        QVERIFY(QDir(path("out")).mkpath("."));
        QCOMPARE(stack({"night", "-o", path("out")}), 0);
        QVERIFY2(printed.startsWith("1 image written") && errors == "velumen-stack: " + notice,
                 qPrintable(printed + errors));

        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        window.setProcessEnvironment(environment);
        window.start(VELUMEN_APP, {"night"});
        const QByteArray line = "\nvelumen: " + notice.toUtf8();
        QByteArray said = "\n";
        QVERIFY2(QTest::qWaitFor([&] { return (said += window.readAllStandardError()).contains(line); }, 60000),
                 said.constData());
        window.kill();
        window.waitForFinished();
    }

    // Every option of --help is offered, and every value offered is one velumen-stack takes.
    void completion()
    {
        if (!QFileInfo::exists("/usr/share/bash-completion/bash_completion"))
            QSKIP("bash-completion is not installed");
        QCOMPARE(stack({"--help"}), 0);
        QStringList options;
        QRegularExpressionMatchIterator it =
            QRegularExpression("^ {2,6}(?:-., )?(--[a-z-]+)", QRegularExpression::MultilineOption)
                .globalMatch(printed);
        while (it.hasNext())
            options << it.next().captured(1);
        options.sort();
        QCOMPARE(complete({"velumen-stack", "night", "--"}), options);

        const QList<QStringList> values{{"-c", "all disjoint groups loop previous"},
                                        {"--method", "darken lighten mean"},
                                        {"--fade", "in in-out none out"},
                                        {"-f", "jpg png tiff tiff16"}};
        for (const QStringList &option : values) {
            QCOMPARE(complete({"velumen-stack", option[0], ""}).join(' '), option[1]);
            for (const QString &value : option[1].split(' '))
                QVERIFY2(stack({option[0], value, "night", "--dry-run"}) == 0, qPrintable(errors));
        }
        QCOMPARE(complete({"velumen-stack", "--fade", "=", "in"}), QStringList({"in", "in-out"}));
        QCOMPARE(complete({"velumen-stack", "--quality", ""}), QStringList());
        // Sources: image files and folders, not other files.
        const QStringList offered = complete({"velumen-stack", "night/f"});
        QCOMPARE(offered, QStringList({"night/frame1.jpg", "night/frame10.jpg", "night/frame2.jpg"}));
        QCOMPARE(complete({"velumen-stack", "ni"}), QStringList("night"));
        QCOMPARE(complete({"velumen-stack", "night/n"}), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
