#include "tiplabel.h"

#include "tipdialog.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>

// The resources are compiled into this static library, whose registration object would not be
// linked in on its own; register them from code every user of the widgets runs. Must stay outside
// any namespace.
static void initWidgetResources()
{
    Q_INIT_RESOURCE(resources);
}

TipLabel::TipLabel(QWidget *parent)
    : QLabel(parent)
{
    initWidgetResources();
    setText(QString());
    // Through QIcon, so that a 200 % screen gets the double-size drawing.
    setPixmap(QIcon(QStringLiteral(":/rc/help.png")).pixmap(QSize(12, 12)));
    setCursor(Qt::PointingHandCursor);
}

void TipLabel::mouseReleaseEvent(QMouseEvent *)
{
    emit clicked();
}

void TipLabel::setTip(QString tip)
{
    TipDialog *dialog = new TipDialog(tip, this);
    connect(this, &TipLabel::clicked, dialog, &QWidget::show);
}
