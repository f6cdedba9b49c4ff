#include "toolwarnings.h"

#include <QList>
#include <QRegularExpression>

namespace {

// ImageMagick writes each report as "client: reason `file' @ severity/module.c/function/line.".
// The quoted part is the user's own path and may hold any word ("truncated shots/"), so only the
// reason and the severity are judged. Returns the reason, lower case, and sets *severity.
QByteArray reasonOf(QByteArray line, QByteArray *severity)
{
    static const QRegularExpression tail(QStringLiteral("^([a-z]+)/[^/\\s]+/[^/\\s]+/\\d+\\.?\\s*$"));
    severity->clear();
    const int at = line.lastIndexOf(" @ ");
    if (at >= 0) {
        const QRegularExpressionMatch match = tail.match(QString::fromLatin1(line.mid(at + 3)));
        if (match.hasMatch()) {
            *severity = match.captured(1).toLatin1();
            line.truncate(at);
        }
    }
    // The client name is one word ("convert", "identify-im6.q16"); a reason never starts that way.
    const int colon = line.indexOf(": ");
    if (colon > 0 && !line.left(colon).contains(' ') && !line.left(colon).contains('`'))
        line.remove(0, colon + 2);
    const int quote = line.indexOf('`');
    if (quote >= 0)
        line.truncate(quote);
    return line.toLower();
}

} // namespace

bool reportsDamage(const QByteArray &errorOutput)
{
    static const char *const damage[] = {
        "premature end", "premature eof", "unexpected end", "unexpected eof", "truncat", "corrupt",
        "bad huffman", "inconsistent progression", "insufficient image data", "not enough image data",
        "read error", "read exception", "crc error", "unable to read", "cannot read", "damaged",
    };
    const QList<QByteArray> lines = errorOutput.split('\n');
    for (const QByteArray &line : lines) {
        QByteArray severity;
        const QByteArray reason = reasonOf(line, &severity);
        if (severity == "error" || severity == "fatal")
            return true;
        // Stray bytes between JPEG markers leave every pixel intact; some cameras write them.
        if (reason.contains("extraneous bytes before marker"))
            continue;
        for (const char *text : damage) {
            if (reason.contains(text))
                return true;
        }
    }
    return false;
}
