#ifndef VELUMEN_NAMEPATTERN_H
#define VELUMEN_NAMEPATTERN_H

#include <QList>
#include <QString>
#include <QStringList>

// A destination name pattern such as "output****.jpg": each maximal run of '*' stands for the
// destination image's 0-based number, padded with zeros to the run's length. The window and the
// batch front end both make their destination paths here, so they name files alike.
class NamePattern
{
public:
    explicit NamePattern(const QString &pattern = QString());

    // The pattern with run k of '*' (from the left, from 1) replaced by %k.
    QString nameTemplate() const { return m_template; }
    // The length of each run, in order.
    QList<int> nameWidths() const { return m_widths; }

    // The folder, a '/', and the name of image index, with no other separator handling. A '%'
    // in the folder or the pattern stays literal.
    QString fileName(const QString &folder, int index) const;
    // The pattern with its runs of '*' left out ("output****.jpg" gives "output.jpg").
    QString withoutNumbers() const { return m_literals.join(QString()); }

private:
    QString m_template;
    QList<int> m_widths;
    // The literal text around each run of '*' (one more entry than m_widths).
    QStringList m_literals;
};

#endif
