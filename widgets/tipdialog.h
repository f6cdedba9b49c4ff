#ifndef VELUMEN_TIPDIALOG_H
#define VELUMEN_TIPDIALOG_H

#include <QDialog>
#include <QString>

namespace Ui {
class TipDialog;
}

// The modal help window of a TipLabel.
class TipDialog : public QDialog
{
    Q_OBJECT

public:
    TipDialog(QString tip, QWidget *parent);
    ~TipDialog() override;

private:
    Ui::TipDialog *ui;
};

#endif
