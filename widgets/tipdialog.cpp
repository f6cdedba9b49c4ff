#include "tipdialog.h"

#include "ui_tipdialog.h"

TipDialog::TipDialog(QString tip, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TipDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    // The trailing break leaves an empty line between the text and the button.
    ui->tip->setText(QStringLiteral("%1<br>").arg(tip));
}

TipDialog::~TipDialog()
{
    delete ui;
}
