#pragma once
// The settings dialog: five tabs that edit the base settings and up to ten themes. Each theme shown
// is loaded on first use and kept, with its edits, until OK saves all of them together.

#include <array>
#include <functional>
#include <memory>
#include <string>

#include <QDialog>
#include <QPointer>

#include "audio/midi/MidiOut.h"
#include "engine/settings/Settings.h"

namespace Ui {
class SaverSettings;
}

namespace lumora {

class TSaverSettings;

// What a folder picker is asked and what it answers.
struct TFolderPick {
    std::string StartFolder;
    std::string Mask;
    std::string Caption;
    bool SubFolders = false;
    std::string Chosen; // set by the picker on OK
};

// The dialogs the settings dialog opens. The theme manager, groups, picture-size dialog and folder
// pickers are modules of their own that plug in here; a button whose dialog is not plugged in stays
// disabled. The colour, font, logo-picture and about dialogs have working defaults, replaceable so
// tests never wait in a modal loop. Each returns true on OK.
struct TSettingsDialogHooks {
    std::function<bool(TSaverSettings&)> ThemeManager;
    // Gets the sound and picture folder texts; edits the current record's groups and Grouping.
    std::function<bool(TSaverSettings&, const std::string& soundFolder, const std::string& pictureFolder)> Groups;
    std::function<bool(TSaverSettings&, int& mode, int& x, int& y)> PictureSize;
    std::function<bool(TSaverSettings&, TFolderPick&)> PictureFolder;
    std::function<bool(TSaverSettings&, TFolderPick&)> SoundFolder;
    std::function<bool(TSaverSettings&, TColor& color)> PickColor;
    std::function<bool(TSaverSettings&, TFont& font)> PickFont;
    std::function<bool(TSaverSettings&, const std::string& initialFolder, std::string& file)> PickLogo;
    std::function<void(TSaverSettings&)> About;
    // Plays a file chosen in the sound folder picker in the sound or the MIDI preview, modally
    // over owner (the picker).
    std::function<void(TSaverSettings&, QWidget* owner, const std::string& file)> SoundPreview;
};
TSettingsDialogHooks& SettingsDialogHooks();

class TSaverSettings : public QDialog {
public:
    static constexpr int kSlotCount = 11;

    // owner: the window that owns the dialog; none given, the application's active window.
    explicit TSaverSettings(QWidget* owner = nullptr);
    ~TSaverSettings() override;

    Ui::SaverSettings* ui;
    TMidiOutput MidiOutput1;
    // Live equalizer gains in decibels for the sound preview, band 0..9.
    std::array<float, 10> EqGains{};
    // Disabled while the dialog exists.
    QPointer<QWidget> OwnerWindow;
    std::string PictStartFolder;
    std::string SndStartFolder;
    bool MidiOutOpen = false;

    TRegCommon& Common() { return *common_; }
    int CurrentSlot() const { return currentSlot_; }
    const std::string& CurrentThemeId() const { return currentThemeId_; }
    bool SlotLoaded(int slot) const { return slot >= 0 && slot < kSlotCount && slots_[slot] != nullptr; }
    TRegData* ThemeSlot(int slot) { return SlotLoaded(slot) ? slots_[slot].get() : nullptr; }
    TRegData& CurrentData() { return *slots_[currentSlot_]; }
    // Loads the slot when it is not loaded yet.
    TRegData& EnsureSlot(int slot);
    // Drops a slot's record with its edits (the theme manager, for a deleted theme).
    void FreeSlot(int slot);

    void SelectTheme(int index);
    void StoreSettings(int slot);
    void LoadSettings();
    static std::string SizeText(int mode, int x, int y);
    void OpenMidiOut();
    void CloseMidiOut();
    // Refills the theme list from the theme names and selects the theme shown.
    void RefreshThemeList();

    // Event handlers, named after the components.
    void FormShow();
    void OkButtonClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void Button1Click();
    void Button2Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton5Click();
    void ComboBox2Change();
    void ComboBox4Change();
    void ComboBox9Change();
    void FontNameChange();
    void FontBtnClick();
    void ColorComboBox1DblClick();
    void CheckKeyClick();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox7Click();
    void CheckBox1Click();
    void CheckBox5Click();
    void CheckBox10Click();
    void CheckBox11Click();
    void CheckBox12Click();
    void RadioButton1Click();
    void Slider1Change(int tag);
    void MidiDeviceChange();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Bind();
    void FillEffectList();
    void SetMethod(const TMethodSwitches& method);
    void EnableIfHooked(QWidget* widget, bool enabled, bool hooked);
    void PickFolder(bool pictures);
    void UpdateEnabledStates();

    std::unique_ptr<TRegCommon> common_;
    std::array<std::unique_ptr<TRegData>, kSlotCount> slots_;
    int currentSlot_ = 0;
    std::string currentThemeId_;
    bool loading_ = false;
};

// The dialog while it exists (sub-dialogs reach it through this).
extern TSaverSettings* SettingsForm;

// Mode "C": shows the dialog modally; returns when it is closed.
int RunSettingsDialog();

} // namespace lumora
