#pragma once
// The picture-size dialog: the size mode and the box a picture is fitted into, with a small
// picture of the box on the screen.

#include <QDialog>

namespace Ui {
class ImgSSet;
}

namespace lumora {

class TImgSSet : public QDialog {
public:
    // Boxes are never smaller than this many pixels.
    static constexpr int kMinBox = 64;

    explicit TImgSSet(QWidget* parent = nullptr);
    ~TImgSSet() override;

    Ui::ImgSSet* ui;
    int ScreenW = 0, ScreenH = 0; // monitor 0, taken when shown
    // In: set before showing; out: set when the dialog closes (used by the caller after OK only).
    int Mode = 0, BoxX = 0, BoxY = 0;
    // The box before a switch to mode 0, restored when the user leaves mode 0; -1 = none.
    int SavedX = -1, SavedY = -1;

    void FormShow();
    void FormClose();
    void RadioGroup1Click();
    void TrackBarXChange();
    void TrackBarYChange();
    void IntEditXExit();
    void IntEditYExit();
    void Button3Click(); // "100%"
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    int ItemIndex() const;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetItemIndex(int index);
    void SetPreset(int percent);
    void BarChanged(bool width);
    int shownMode_ = -1;
};

} // namespace lumora
