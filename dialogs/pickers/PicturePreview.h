#pragma once
// A movable window that shows one picture at its own size: dragging the picture with the left
// button moves the window, and its pop-up menu closes it.

#include <string>

#include <QDialog>
#include <QPoint>

class QMenu;

namespace Ui {
class ImagePrev;
}

namespace lumora {

class TPicture;

class TIPrev : public QDialog {
public:
    explicit TIPrev(QWidget* owner);
    ~TIPrev() override;

    Ui::ImagePrev* ui;
    QMenu* PopupMenu1;

    // Shows the picture (taking it over) with the file name as caption; the window takes its size.
    void SetPicture(const std::string& fileName, TPicture& picture);

    void Image1MouseDown(const QPoint& globalPos);
    void Image1MouseMove(const QPoint& globalPos, bool leftDown);
    void N1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPoint grab_;
};

} // namespace lumora
