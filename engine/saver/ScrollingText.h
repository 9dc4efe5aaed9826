#pragma once
// A one-line ticker whose text fades into the box colour at both edges: the track name on the
// saver's logo and the title in the sound previews.

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace lumora {

enum class TTextLayout { tlTop, tlCenter, tlBottom };
enum class TTextDirection { tdLeftToRight, tdRightToLeft };
enum class TMouseButton { mbLeft, mbRight, mbMiddle };
// A mouse button going down or up at (x, y) in the control.
using TMouseEvent = std::function<void(TMouseButton button, int x, int y)>;

class TScrollingText : public QWidget {
public:
    explicit TScrollingText(QWidget* parent = nullptr);
    ~TScrollingText() override;

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    int Speed() const { return speed_; }
    void SetSpeed(int ms); // 0 or below stops the timer instead of spinning
    TColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(TColor color);
    int EdgeFadeWidth() const { return edgeFadeWidth_; }
    void SetEdgeFadeWidth(int width);
    TTextLayout Layout() const { return layout_; }
    void SetLayout(TTextLayout layout);
    TTextDirection TextDirection() const { return direction_; }
    void SetTextDirection(TTextDirection direction);
    int PixelJump() const { return pixelJump_; }
    void SetPixelJump(int pixels) { pixelJump_ = pixels; }
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // The text font; Font.Color is the text colour. An edit shows at the next frame and ends
    // ParentFont; FontChanged shows it at once.
    TFont Font;
    void FontChanged();
    // While on, Font follows the parent widget's font (face, size, bold, italic).
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool on);

    // Passed through from the control. With none of them set, presses and releases go on to the
    // parent widget.
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnClick;

    // Called once the control's properties are set up, as after loading a stored form.
    void Loaded();
    // Draws the current frame into the buffer (what paintEvent shows).
    const TBitmap& Frame();
    int Position() const { return position_; }
    int StripWidth() const { return stripWidth_; }
    void Tick(); // one timer step

    // Colour Index (1..Count) of a fade from From to To; throws ERangeError outside that range.
    static TColor FadeColor(TColor from, TColor to, int index, int count);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Render();
    void UpdateTimer();
    void TakeParentFont();
    bool HandlesMouse() const;

    std::string text_ = "Text";
    int speed_ = 50;
    TColor backgroundColor_ = clBtnFace;
    int edgeFadeWidth_ = 15;
    TTextLayout layout_ = TTextLayout::tlCenter;
    TTextDirection direction_ = TTextDirection::tdLeftToRight;
    int pixelJump_ = 1;
    bool visible_ = true;
    bool enabled_ = true;
    bool parentFont_ = true;
    TFont renderedFont_;   // the font the strip was last drawn with
    bool pressed_ = false; // a left press inside, waiting for its release to click

    TTimer timer_;
    TBitmap background_; // the text colour with the fade at both edges
    TBitmap buffer_;     // the frame being shown
    std::vector<uint8_t> stripMask_; // glyph coverage 0..255, stripWidth_ x height
    int stripWidth_ = 0;
    int position_ = 0;
};

} // namespace lumora
