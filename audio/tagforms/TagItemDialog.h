#pragma once
// A small dialog that edits one tag item: its name and its value.

#include <functional>
#include <string>

#include <QDialog>

namespace Ui {
class TAGEditForm;
}

namespace lumora {

// Shows a tag form modally and returns its result. Tests replace it so that no modal loop runs.
std::function<int(QDialog&)>& InfoFormModalRunner();
int ShowInfoFormModal(QDialog& dialog);

class TTAGEditForm : public QDialog {
public:
    explicit TTAGEditForm(QWidget* owner);
    ~TTAGEditForm() override;

    Ui::TAGEditForm* ui;
    // 1 after OK, 2 after Cancel, 0 before either.
    int Result = 0;

    std::string TagName() const;
    std::string TagValue() const;
    void SetTag(const std::string& name, const std::string& value);

    void btnOKClick();
    void btnCancelClick();
};

} // namespace lumora
