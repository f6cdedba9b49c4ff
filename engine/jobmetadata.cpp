#include "jobmetadata.h"

#include <algorithm>

JobMetadata::JobMetadata(const QStringList &sourceImages, int stackMethod, const QString &condition)
    : m_sourceImages(sourceImages)
    , m_method(methodName(stackMethod))
    , m_condition(condition)
{
}

DestinationMetadata JobMetadata::forImage(const QSet<QPair<int, double>> &sources, int width, int height)
{
    if (!m_baseRead) {
        m_base = SourceMetadata::read(m_sourceImages.value(0));
        m_baseRead = true;
        if (m_base.records())
            m_captures.insert(0, m_base.capture());
    }
    if (m_base.isEmpty())
        return DestinationMetadata();
    DestinationMetadata::Stack stack;
    stack.sourceCount = sources.size();
    stack.method = m_method;
    stack.condition = m_condition;
    // Capture times only matter where there are EXIF and XMP to carry them.
    if (m_base.records() && !sources.isEmpty()) {
        int first = sources.begin()->first;
        int last = first;
        for (const auto &pair : sources) {
            first = std::min(first, pair.first);
            last = std::max(last, pair.first);
        }
        stack.first = capture(first);
        stack.last = capture(last);
    }
    return DestinationMetadata(m_base, stack, width, height);
}

SourceMetadata::Capture JobMetadata::capture(int source)
{
    const auto found = m_captures.constFind(source);
    if (found != m_captures.constEnd())
        return *found;
    const SourceMetadata::Capture capture = SourceMetadata::read(m_sourceImages.value(source)).capture();
    m_captures.insert(source, capture);
    return capture;
}

QString JobMetadata::methodName(int stackMethod)
{
    switch (stackMethod) {
    case 0: return QStringLiteral("Lighten only");
    case 1: return QStringLiteral("Darken only");
    case 2: return QStringLiteral("Mean");
    default: return QString();
    }
}

QString JobMetadata::condition(const StackSettings &settings)
{
    QString text;
    switch (settings.condition) {
    case 0: text = QStringLiteral("All images"); break;
    case 1: text = QStringLiteral("All previous images"); break;
    case 2:
    case 3:
        text = QStringLiteral("%1 (%2 images per group, step %3)")
                   .arg(settings.condition == 2 ? QStringLiteral("Groups of images")
                                                : QStringLiteral("Groups of images (loop)"))
                   .arg(settings.conditionOption1)
                   .arg(settings.conditionOption2);
        break;
    case 4:
        text = QStringLiteral("Disjoint groups of images (%1 groups)").arg(settings.conditionOption1);
        break;
    default: break;
    }
    switch (settings.fadeMethod) {
    case 1: text += QStringLiteral(", Fade in (%1 %)").arg(settings.fadeOption1); break;
    case 2: text += QStringLiteral(", Fade out (%1 %)").arg(settings.fadeOption2); break;
    case 3:
        text += QStringLiteral(", Fade in and out (%1 % in, %2 % out)")
                    .arg(settings.fadeOption1)
                    .arg(settings.fadeOption2);
        break;
    default: break;
    }
    return text;
}
