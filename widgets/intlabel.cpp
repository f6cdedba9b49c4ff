#include "intlabel.h"

IntLabel::IntLabel(QWidget *parent)
    : QLabel(parent)
{
}

void IntLabel::setValue(int value)
{
    setText(QString::number(value, 10));
}
