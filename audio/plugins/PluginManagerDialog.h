#pragma once
// The plug-in manager dialog: lists the input plug-in files in the program's "Plugins" folder and the
// plug-ins loaded into the host; loads, unloads, configures and queries them, and chooses whether
// plug-ins take precedence over the audio library.

#include <QDialog>

#include <memory>
#include <string>

#include "framework/Forms.h"

class QCheckBox;
class QPushButton;
class QTableWidget;
namespace Ui {
class PluginConfigForm;
}

namespace lumora {

class TPluginConfigForm : public QDialog {
public:
    explicit TPluginConfigForm(QWidget* parent = nullptr);
    ~TPluginConfigForm() override;

    void SetPlayerWindow(HWND window) { playerWindow_ = window; }
    // The plug-in the player is using ("" for none).
    void SetInUsePlugin(const std::string& name);

    // Event handlers, named after the components.
    void FormCreate();
    void FormShow();
    void btnLoadClick();
    void btnUnloadClick();
    void btnAboutClick();
    void btnConfigureClick();
    void btnCloseClick();
    void PluginFirstClick();
    bool PluginGridSelectCell(int col, int row);
    void ClearPluginGrid();
    void FillPluginGrid();

    QCheckBox* PluginFirst;
    QTableWidget* PluginList;
    QTableWidget* PluginGrid;
    QPushButton* btnLoad;
    QPushButton* btnUnload;
    QPushButton* btnAbout;
    QPushButton* btnConfigure;
    QPushButton* btnClose;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Inform(const std::string& text);
    void UpdateUnloadButton();
    void PaintList();
    void PaintGrid();
    std::string SelectedGridName() const;

    std::unique_ptr<Ui::PluginConfigForm> ui_;
    HWND playerWindow_ = 0;
    int detected_ = 0;
    int loadedShown_ = 0;
    std::string inUse_;
};

} // namespace lumora
