#pragma once
// The image control of the picture previews: shows a still picture scaled to the control, or draws a
// picture that animates itself (a GIF) through its own Draw; either way transparent parts show the
// colour of the panel behind it.
// An animation's painter tells the control to repaint; hiding or freeing the control stops it.

#include <memory>

#include <QImage>
#include <QWidget>

#include "framework/Graphics.h"

namespace lumora {

class TImageView : public QWidget {
public:
    explicit TImageView(QWidget* parent = nullptr);
    ~TImageView() override;

    // Takes the loaded picture: a GIF is kept and drawn through its Draw (and so animates); any other
    // picture is turned into a bitmap once. Returns the picture's width and height.
    QSize SetPicture(TPicture& picture);
    void Clear();
    bool Empty() const { return !picture_ && still_.isNull(); }
    // The picture drawn through Draw, or none.
    TGraphic* Animated() const { return picture_ ? picture_->Graphic() : nullptr; }
    // Stops the animation's painters and waits for them; the next paint starts the play anew.
    void Stop();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The colour of the panel behind the control, which a picture's transparent parts let through.
    TColor PanelColor() const;

    std::unique_ptr<TPicture> picture_;
    QImage still_;
    TBitmap canvas_;
};

} // namespace lumora
