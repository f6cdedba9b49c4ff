#include "toolwarnings.h"

#include <QList>

bool reportsDamage(const QByteArray &errorOutput)
{
    static const char *const damage[] = {
        "premature end", "premature eof", "unexpected end", "unexpected eof", "truncat", "corrupt",
        "bad huffman", "inconsistent progression", "insufficient image data", "not enough image data",
        "read error", "read exception", "crc error", "unable to read", "cannot read", "damaged",
    };
    const QList<QByteArray> lines = errorOutput.toLower().split('\n');
    for (const QByteArray &line : lines) {
        if (line.contains("@ error/") || line.contains("@ fatal/"))
            return true;
        // Stray bytes between JPEG markers leave every pixel intact; some cameras write them.
        if (line.contains("extraneous bytes before marker"))
            continue;
        for (const char *text : damage) {
            if (line.contains(text))
                return true;
        }
    }
    return false;
}
