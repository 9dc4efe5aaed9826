#include "audio/tagforms/TagItemDialog.h"

#include <QPushButton>

#include "ui_TagItemDialog.h"

namespace lumora {

std::function<int(QDialog&)>& InfoFormModalRunner() {
    static std::function<int(QDialog&)> runner = [](QDialog& dialog) { return dialog.exec(); };
    return runner;
}

int ShowInfoFormModal(QDialog& dialog) { return InfoFormModalRunner()(dialog); }

TTAGEditForm::TTAGEditForm(QWidget* owner) : QDialog(owner), ui(new Ui::TAGEditForm) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    connect(ui->btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

TTAGEditForm::~TTAGEditForm() { delete ui; }

std::string TTAGEditForm::TagName() const { return ui->TAGName->text().toUtf8().toStdString(); }
std::string TTAGEditForm::TagValue() const { return ui->TAGMemo->toPlainText().toUtf8().toStdString(); }

void TTAGEditForm::SetTag(const std::string& name, const std::string& value) {
    ui->TAGName->setText(QString::fromUtf8(name));
    ui->TAGMemo->setPlainText(QString::fromUtf8(value));
}

void TTAGEditForm::btnOKClick() {
    Result = 1;
    accept();
}

void TTAGEditForm::btnCancelClick() {
    Result = 2;
    reject();
}

} // namespace lumora
