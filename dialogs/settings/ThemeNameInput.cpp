#include "dialogs/settings/ThemeNameInput.h"

#include <QPushButton>

#include "framework/Forms.h"
#include "ui_ThemeNameInput.h"

namespace lumora {

TGetString::TGetString(QWidget* parent) : QDialog(parent), ui(new Ui::GetString) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    connect(ui->Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(ui->Button3, &QPushButton::clicked, this, [this] { Application().Guard([this] { Button3Click(); }); });
    connect(ui->Button4, &QPushButton::clicked, this, &QDialog::reject);
    FormCreate();
}

TGetString::~TGetString() { delete ui; }

void TGetString::FormCreate() { AllowEmpty = false; }

void TGetString::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TGetString::FormShow() {
    ui->Edit1->setText(QString::fromStdString(Name));
    ui->Edit1->selectAll();
    Edit1Change();
}

void TGetString::Edit1Change() { ui->Button3->setEnabled(!ui->Edit1->text().isEmpty() || AllowEmpty); }

void TGetString::Button3Click() {
    Name = ui->Edit1->text().toStdString();
    accept();
}

} // namespace lumora
