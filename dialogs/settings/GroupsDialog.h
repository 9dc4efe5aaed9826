#pragma once
// The groups dialog: links picture files to sound files of the two folders. In group mode the
// saver plays the groups' tracks and shows only the pictures linked to the track playing.

#include <memory>
#include <string>
#include <vector>

#include <QDialog>

#include "framework/Classes.h"
#include "framework/Graphics.h"

namespace Ui {
class Group;
}

namespace lumora {

class TSaverSettings;

class TGroup : public QDialog {
public:
    TGroup(TSaverSettings& settings, QWidget* parent = nullptr);
    ~TGroup() override;

    Ui::Group* ui;
    // The pictures linked to each sound, one list per ListBox1 entry (same index), names relative to
    // the picture folder.
    std::vector<std::unique_ptr<TStringList>> LinkLists;
    bool SoundChosen = false;
    // Set by the caller before showing.
    std::string SoundFolder, PictureFolder;

    void FormCreate();
    void FormShow();
    void FormClose();
    void ListBox1Click();
    void ListBox2Click();
    void ListBox3Click();
    void SpeedButton1Click(); // link
    void SpeedButton2Click(); // unlink
    void BitBtn4Click();      // clear all
    void OkButtonClick();
    // Background of sound entry `index` as ListBox1DrawItem paints it.
    TColor ListBox1ItemColor(int index, bool selected) const;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    int SelectedSound() const;
    TSaverSettings& settings_;
};

} // namespace lumora
