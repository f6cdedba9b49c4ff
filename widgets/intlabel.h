#ifndef VELUMEN_INTLABEL_H
#define VELUMEN_INTLABEL_H

#include <QLabel>

// A label that shows a whole number in decimal.
class IntLabel : public QLabel
{
    Q_OBJECT

public:
    explicit IntLabel(QWidget *parent = nullptr);

public slots:
    void setValue(int value);
};

#endif
