#pragma once
// The theme manager: lists the base settings and the themes, and adds, renames and deletes themes.
// It works on copies of the theme list; only its OK touches the registry and the settings dialog.

#include <array>
#include <functional>
#include <string>

#include <QDialog>

#include "framework/Classes.h"

namespace Ui {
class ExtSetup;
}

namespace lumora {

class TSaverSettings;

class TExtSetup : public QDialog {
public:
    TExtSetup(TSaverSettings& settings, QWidget* parent = nullptr);
    ~TExtSetup() override;

    Ui::ExtSetup* ui;
    TStringList Ids;   // theme ids in the order of ListBox1 entries 1..
    TStringList Names; // parallel to Ids
    std::array<bool, 10> InUse{};
    std::array<bool, 10> Existed{};
    std::array<bool, 10> Deleted{};
    int DefaultSlot = 0; // the default theme as id + 1; 0 = base settings

    // Asks for a name starting from `name`; true with the new name on OK. Shows the name input
    // modally unless replaced (tests answer here).
    std::function<bool(std::string& name, bool allowEmpty)> AskName;

    void FormCreate();
    void FormShow();
    void Button1Click();
    void Button5Click();
    void Button2Click();
    void Button3Click();
    void ListBox1Click();
    void SetAddKey();
    void SetDefKey();

protected:
    void showEvent(QShowEvent* event) override;

private:
    int SelectedEntry() const;
    TSaverSettings& settings_;
};

} // namespace lumora
