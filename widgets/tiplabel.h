#ifndef VELUMEN_TIPLABEL_H
#define VELUMEN_TIPLABEL_H

#include <QLabel>
#include <QString>

class QMouseEvent;

// A small clickable help icon; a tip given with setTip opens in a modal help window on click.
class TipLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TipLabel(QWidget *parent = nullptr);

signals:
    void clicked();

public slots:
    void setTip(QString tip);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

#endif
