#include "namepattern.h"

NamePattern::NamePattern(const QString &pattern)
{
    const int length = pattern.length();
    int run = 0;
    bool inStars = false;
    QString literal;
    auto closeStars = [&]() {
        m_widths.append(run);
        m_template += QLatin1Char('%') + QString::number(m_widths.size());
        m_literals.append(literal);
        literal.clear();
    };

    for (int i = 0; i < length; ++i) {
        const bool star = pattern.at(i) == QLatin1Char('*');
        if (star && !inStars) {
            literal = pattern.mid(i - run, run);
            m_template += literal;
            run = 0;
        }
        if (!star && inStars) {
            closeStars();
            run = 0;
        }
        ++run;
        inStars = star;
    }
    if (inStars) {
        closeStars();
    } else {
        literal = pattern.mid(length - run);
        m_template += literal;
    }
    m_literals.append(literal);
}

QString NamePattern::fileName(const QString &folder, int index) const
{
    QString name = m_literals.value(0);
    for (int k = 0; k < m_widths.size(); ++k) {
        name += QStringLiteral("%1").arg(index, m_widths.at(k), 10, QLatin1Char('0'));
        name += m_literals.value(k + 1);
    }
    // One pass over the template, so a '%' in the folder or the name is never taken for a placeholder.
    return QStringLiteral("%1/%2").arg(folder, name);
}
