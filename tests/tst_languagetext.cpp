#include "languagetext.h"

#include <QSet>
#include <QtTest>

class TestLanguageText : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setCurrentLanguage(0); }

    void startsInEnglishAndSwitchesBack();
    void everyTextPresentInBothLanguages();
    void placeholdersLeftForTheCaller();
    void polishLettersSurvive();
};

void TestLanguageText::startsInEnglishAndSwitchesBack()
{
    QCOMPARE(currentLanguage(), 0);
    QCOMPARE(languageText(23), QStringLiteral("Begin"));
    setCurrentLanguage(1);
    QCOMPARE(currentLanguage(), 1);
    QCOMPARE(languageText(23), QStringLiteral("Rozpocznij"));
    QCOMPARE(languageText(0), QStringLiteral("Szczeg\u00f3\u0142y w pliku <a href=\"#readme\">README.TXT</a>."));
    QCOMPARE(languageText(50).left(21), QStringLiteral("B\u0142\u0105d w zapisie obrazu"));
    setCurrentLanguage(0);
    QCOMPARE(languageText(23), QStringLiteral("Begin"));
    QCOMPARE(languageText(0), QStringLiteral("See <a href=\"#readme\">README.TXT</a> for details."));
    // The ends of the table, to catch a list shifted by one.
    QCOMPARE(languageText(1), QStringLiteral("Language"));
    QCOMPARE(languageText(48), QStringLiteral("Close"));
}

void TestLanguageText::everyTextPresentInBothLanguages()
{
    for (int language = 0; language < 2; ++language) {
        setCurrentLanguage(language);
        QSet<QString> seen;
        for (int id = 0; id <= 50; ++id) {
            const QString text = languageText(id);
            QVERIFY2(!text.trimmed().isEmpty(), qPrintable(QStringLiteral("text %1 empty").arg(id)));
            QVERIFY2(!seen.contains(text), qPrintable(QStringLiteral("text %1 repeated").arg(id)));
            seen.insert(text);
        }
    }
    // Every text differs between the languages, so none was left untranslated.
    for (int id = 0; id <= 50; ++id) {
        setCurrentLanguage(0);
        const QString english = languageText(id);
        setCurrentLanguage(1);
        QVERIFY2(languageText(id) != english, qPrintable(QString::number(id)));
    }
}

void TestLanguageText::placeholdersLeftForTheCaller()
{
    for (int language = 0; language < 2; ++language) {
        setCurrentLanguage(language);
        const QString progress = languageText(31);
        QVERIFY(progress.contains(QLatin1String("%1")));
        QVERIFY(progress.contains(QLatin1String("%2")));
        QVERIFY(progress.contains(QLatin1String("%3")));
        const QString filled = progress.arg(7).arg(2).arg(9);
        QVERIFY(!filled.contains(QLatin1Char('%')));
        QVERIFY(filled.contains(QLatin1String("7")) && filled.contains(QLatin1String("9")));
        for (int id : {49, 50}) {
            const QString message = languageText(id);
            QCOMPARE(message.count(QLatin1String("%1")), 1);
            QVERIFY(!message.contains(QLatin1String("%2")));
            QVERIFY(message.arg(QStringLiteral("/x/y.tif")).contains(QLatin1String("<b>/x/y.tif</b>")));
        }
    }
    setCurrentLanguage(0);
    QCOMPARE(languageText(31).arg(3).arg(1).arg(4), QStringLiteral("Processing image #3 (operation 1 of 4)..."));
}

void TestLanguageText::polishLettersSurvive()
{
    // English is plain ASCII; Polish uses exactly the Polish letters beyond ASCII. A table read in the
    // wrong encoding shows up here as stray characters such as U+00C3.
    const QString polishLetters = QStringLiteral("\u0105\u0107\u0119\u0142\u0144\u00f3\u015b\u017a\u017c\u0141");
    QSet<QChar> used;
    for (int language = 0; language < 2; ++language) {
        setCurrentLanguage(language);
        for (int id = 0; id <= 50; ++id) {
            for (const QChar c : languageText(id)) {
                if (c.unicode() < 128)
                    continue;
                QVERIFY2(language == 1, qPrintable(QStringLiteral("non-ASCII in English text %1").arg(id)));
                QVERIFY2(polishLetters.contains(c),
                         qPrintable(QStringLiteral("text %1: unexpected U+%2").arg(id).arg(c.unicode(), 4, 16)));
                used.insert(c);
            }
        }
    }
    for (const QChar c : polishLetters)
        QVERIFY2(used.contains(c), qPrintable(QStringLiteral("U+%1 missing").arg(c.unicode(), 4, 16)));

    setCurrentLanguage(1);
    QCOMPARE(languageText(1), QStringLiteral("J\u0119zyk"));
    QCOMPARE(languageText(2), QStringLiteral("Obrazy \u017ar\u00f3d\u0142owe"));
    QCOMPARE(languageText(25), QStringLiteral("Otw\u00f3rz folder docelowy po zako\u0144czeniu"));
    QCOMPARE(languageText(39), QStringLiteral("\u0141adowanie obrazu..."));
    QCOMPARE(languageText(41),
             QStringLiteral("Wszystkie istniej\u0105ce pliki zostan\u0105 nadpisane bez ostrze\u017cenia."));
    QCOMPARE(languageText(46), QStringLiteral("16 bit\u00f3w/kana\u0142"));
    QCOMPARE(languageText(47), QStringLiteral("Jako\u015b\u0107"));
}

QTEST_APPLESS_MAIN(TestLanguageText)
#include "tst_languagetext.moc"
