#include "languagetext.h"

#include <QtTest>

class TestLanguageText : public QObject
{
    Q_OBJECT

private slots:
    // English, Polish and back: a missing, repeated, untranslated or shifted text, a table read in the
    // wrong encoding (stray characters such as U+00C3) or a placeholder filled too early shows up here.
    void table()
    {
        // Exact samples from both ends of the table and with every Polish letter.
        const QMap<int, QString> samples[2] = {
            {{0, "See <a href=\"#readme\">README.TXT</a> for details."}, {1, "Language"}, {48, "Close"},
             {31, "Processing image #%1 (operation %2 of %3)..."}},
            {{0, "Szczegóły w pliku <a href=\"#readme\">README.TXT</a>."}, {2, "Obrazy źródłowe"},
             {25, "Otwórz folder docelowy po zakończeniu"}, {39, "Ładowanie obrazu..."}, {47, "Jakość"},
             {31, "Przetwarzanie obrazu nr %1 (operacja %2 z %3)..."}, {48, "Zamknij"},
             {41, "Wszystkie istniejące pliki zostaną nadpisane bez ostrzeżenia."}}};
        QStringList texts[2];
        QCOMPARE(currentLanguage(), 0);
        for (int language : {0, 1, 0}) {
            setCurrentLanguage(language);
            const QRegularExpression foreign(language ? "[^\\x{0}-\\x{7f}ąćęłńóśźżŁ]" : "[^\\x{0}-\\x{7f}]");
            texts[language].clear();
            for (int id = 0; id <= 50; ++id) {
                const QString text = languageText(id);
                QVERIFY2(!text.trimmed().isEmpty() && !texts[language].contains(text) && !text.contains(foreign)
                             && (language == 0 || text != texts[0].at(id)), QByteArray::number(id));
                QCOMPARE(text, samples[language].value(id, text)); // a text without a sample passes
                texts[language] << text;
            }
            for (int id : {49, 50}) // one placeholder, for the failing file's path in bold
                QCOMPARE(languageText(id).count('%') + languageText(id).count("<b>%1</b>"), 2);
        }
    }
};

QTEST_APPLESS_MAIN(TestLanguageText)
#include "tst_languagetext.moc"
