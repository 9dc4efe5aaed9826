#pragma once
// Asks for one theme name.

#include <string>

#include <QDialog>

namespace Ui {
class GetString;
}

namespace lumora {

class TGetString : public QDialog {
public:
    explicit TGetString(QWidget* parent = nullptr);
    ~TGetString() override;

    Ui::GetString* ui;
    // In: the text to start from; out (after OK): the text entered.
    std::string Name;
    // An empty name may be confirmed (renaming the base settings back to their standard name).
    bool AllowEmpty = false;

    void FormCreate();
    void FormShow();
    void Edit1Change();
    void Button3Click();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace lumora
