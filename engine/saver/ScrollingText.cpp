#include "engine/saver/ScrollingText.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace lumora {

namespace {
// QPainter cannot address images wider than this; longer titles are cut to fit.
constexpr int kMaxStripWidth = 32000;

QFont QtFont(const TFont& font) {
    // Render the mask through the framework canvas's font mapping so names like "ＭＳ Ｐゴシック" work.
    std::string family = font.Name;
    if (family == "ＭＳ Ｐゴシック" || family == "MS PGothic" || family == "MS UI Gothic") family = "IPAPGothic";
    QFont f(QString::fromStdString(family));
    f.setPixelSize(std::max(1, font.Height() < 0 ? -font.Height() : font.Height() * 4 / 5));
    f.setBold(font.Style & fsBold);
    f.setItalic(font.Style & fsItalic);
    return f;
}

bool SameFont(const TFont& a, const TFont& b) {
    return a.Name == b.Name && a.Charset == b.Charset && a.Color == b.Color && a.Style == b.Style &&
           a.Pitch == b.Pitch && a.Height() == b.Height();
}

TMouseButton ToMouseButton(Qt::MouseButton button) {
    return button == Qt::RightButton    ? TMouseButton::mbRight
           : button == Qt::MiddleButton ? TMouseButton::mbMiddle
                                        : TMouseButton::mbLeft;
}
} // namespace

TScrollingText::TScrollingText(QWidget* parent) : QWidget(parent) {
    Font.Color = clWindowText;
    resize(50, 18);
    timer_.SetInterval(static_cast<uint32_t>(speed_));
    timer_.OnTimer = [this] { Tick(); };
    timer_.SetEnabled(true);
    position_ = -width();
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (parent) TakeParentFont();
}

TScrollingText::~TScrollingText() = default;

TColor TScrollingText::FadeColor(TColor from, TColor to, int index, int count) {
    if (index < 1 || index > count)
        throw ERangeError("ColorIndex can't be less than 1 or greater than " + std::to_string(count));
    TColor a = ColorToRGB(from), b = ColorToRGB(to);
    if (count == 1) return a; // a single fade line takes the box colour
    auto channel = [&](int shift) {
        int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        // MulDiv rounds half away from zero.
        int64_t num = static_cast<int64_t>(index - 1) * (cb - ca);
        int den = count - 1;
        int64_t q = (2 * num + (num >= 0 ? den : -den)) / (2 * den);
        return static_cast<TColor>((ca + q) & 0xFF) << shift;
    };
    return channel(0) | channel(8) | channel(16);
}

void TScrollingText::Render() {
    // An edit of Font makes it the control's own: the parent's font no longer replaces it.
    if (!SameFont(Font, renderedFont_)) parentFont_ = false;
    renderedFont_ = Font;
    int w = std::max(0, width()), h = std::max(0, height());
    QFont f = QtFont(Font);
    QFontMetrics fm(f);
    QString s = QString::fromStdString(text_);
    int textWidth = fm.horizontalAdvance(s);
    if (textWidth + 2 * w > kMaxStripWidth) {
        s = fm.elidedText(s, Qt::ElideRight, std::max(0, kMaxStripWidth - 2 * w));
        textWidth = std::min(fm.horizontalAdvance(s), kMaxStripWidth - 2 * w);
    }
    stripWidth_ = textWidth + 2 * w;
    stripMask_.assign(static_cast<size_t>(stripWidth_) * h, 0);
    if (h > 0 && stripWidth_ > 0 && !s.isEmpty()) {
        // The glyphs are kept as coverage, so antialiased edges blend instead of missing a key colour.
        QImage mask(stripWidth_, h, QImage::Format_Alpha8);
        mask.fill(0);
        QPainter p(&mask);
        p.setFont(f);
        p.setPen(Qt::black);
        int y = layout_ == TTextLayout::tlTop      ? 0
                : layout_ == TTextLayout::tlBottom ? h - fm.height()
                                                   : h / 2 - fm.height() / 2;
        p.drawText(w, y + fm.ascent(), s);
        p.end();
        for (int row = 0; row < h; ++row)
            std::copy_n(mask.constScanLine(row), stripWidth_, stripMask_.begin() + static_cast<size_t>(row) * stripWidth_);
    }
    background_.SetPixelFormat(TPixelFormat::pf32bit);
    background_.SetSize(w, h);
    background_.Canvas().Brush.Color = Font.Color;
    background_.Canvas().FillRect(TRect{0, 0, w, h});
    for (int i = 0; i < edgeFadeWidth_; ++i) {
        uint32_t c = ColorToPixel(FadeColor(backgroundColor_, Font.Color, i + 1, edgeFadeWidth_));
        for (int y = 0; y < h; ++y) {
            if (i < w) background_.Row32(y)[i] = c;
            if (w - i - 1 >= 0) background_.Row32(y)[w - i - 1] = c;
        }
    }
    buffer_.SetPixelFormat(TPixelFormat::pf32bit);
    buffer_.SetSize(w, h);
    update();
}

const TBitmap& TScrollingText::Frame() {
    // Font is a plain member: an edit shows from the next frame on.
    if (!SameFont(Font, renderedFont_)) Render();
    int w = buffer_.Width(), h = buffer_.Height();
    uint32_t box = ColorToPixel(backgroundColor_);
    for (int y = 0; y < h; ++y) {
        const uint32_t* bg = background_.Row32(y);
        uint32_t* out = buffer_.Row32(y);
        const uint8_t* mask = stripMask_.data() + static_cast<size_t>(y) * stripWidth_;
        for (int x = 0; x < w; ++x) {
            int sx = x - position_;
            if (sx < 0 || sx >= stripWidth_) {
                out[x] = bg[x]; // outside the strip the background shows
                continue;
            }
            // Coverage lets the faded text colour through; the rest is the box colour.
            out[x] = BlendPixel(bg[x], box, mask[sx]);
        }
    }
    return buffer_;
}

void TScrollingText::Tick() {
    if (!enabled_) return;
    int w = width();
    if (direction_ == TTextDirection::tdRightToLeft) {
        position_ -= pixelJump_;
        if (position_ <= w - stripWidth_) position_ = 0;
    } else {
        position_ += pixelJump_;
        if (position_ >= 0) position_ = w - stripWidth_;
    }
    repaint();
}

void TScrollingText::Loaded() {
    Render();
    position_ = direction_ == TTextDirection::tdRightToLeft ? 0 : width() - stripWidth_;
}

void TScrollingText::SetText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    Render();
}

void TScrollingText::SetSpeed(int ms) {
    if (ms == speed_) return;
    speed_ = ms;
    UpdateTimer();
}

void TScrollingText::UpdateTimer() {
    timer_.SetInterval(speed_ > 0 ? static_cast<uint32_t>(speed_) : 0);
    timer_.SetEnabled(enabled_ && speed_ > 0);
}

void TScrollingText::SetBackgroundColor(TColor color) {
    if (color == backgroundColor_) return;
    backgroundColor_ = color;
    Render();
}

void TScrollingText::SetEdgeFadeWidth(int width) {
    if (width == edgeFadeWidth_) return;
    edgeFadeWidth_ = std::max(0, width);
    Render();
}

void TScrollingText::SetLayout(TTextLayout layout) {
    if (layout == layout_) return;
    layout_ = layout;
    Render();
}

void TScrollingText::SetTextDirection(TTextDirection direction) {
    if (direction == direction_) return;
    direction_ = direction;
    position_ = direction_ == TTextDirection::tdRightToLeft ? 0 : width() - stripWidth_;
    Render();
}

void TScrollingText::SetVisible(bool visible) {
    if (visible == visible_) {
        QWidget::setVisible(visible);
        return;
    }
    visible_ = visible;
    SetEnabled(visible);
    QWidget::setVisible(visible);
}

void TScrollingText::SetEnabled(bool enabled) {
    enabled_ = enabled;
    UpdateTimer();
}

void TScrollingText::paintEvent(QPaintEvent*) {
    const TBitmap& frame = Frame();
    if (frame.Width() <= 0 || frame.Height() <= 0) return;
    QImage image(static_cast<const uchar*>(frame.ScanLine(0)), frame.Width(), frame.Height(), frame.BytesPerLine(),
                 QImage::Format_RGB32);
    QPainter(this).drawImage(0, 0, image);
}

void TScrollingText::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Render();
}

void TScrollingText::FontChanged() {
    Render();
}

void TScrollingText::SetParentFont(bool on) {
    parentFont_ = on;
    if (on) TakeParentFont();
}

void TScrollingText::TakeParentFont() {
    const QWidget* parent = parentWidget();
    if (!parent) return;
    const QFont& f = parent->font();
    Font.Name = f.family().toStdString();
    if (f.pixelSize() > 0)
        Font.SetHeight(-f.pixelSize());
    else
        Font.SetSize(static_cast<int>(f.pointSizeF() + 0.5));
    Font.Style = static_cast<TFontStyles>((Font.Style & ~(fsBold | fsItalic)) | (f.bold() ? fsBold : 0) |
                                          (f.italic() ? fsItalic : 0));
    renderedFont_ = Font;
    Render();
}

void TScrollingText::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The parent's font reaches this control as a font change (and so does a new parent).
    if ((event->type() == QEvent::FontChange || event->type() == QEvent::ParentChange) && parentFont_)
        TakeParentFont();
}

bool TScrollingText::HandlesMouse() const { return OnMouseDown || OnMouseUp || OnClick; }

void TScrollingText::mousePressEvent(QMouseEvent* event) {
    // Without a handler of its own the ticker is only a picture: the press goes on to the widget
    // below it, as it would anywhere else on that widget.
    if (!HandlesMouse()) {
        event->ignore();
        return;
    }
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) pressed_ = true;
    if (OnMouseDown) OnMouseDown(ToMouseButton(event->button()), p.x(), p.y());
}

void TScrollingText::mouseReleaseEvent(QMouseEvent* event) {
    if (!HandlesMouse()) {
        event->ignore();
        return;
    }
    const QPoint p = event->position().toPoint();
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(p);
    if (event->button() == Qt::LeftButton) pressed_ = false;
    if (OnMouseUp) OnMouseUp(ToMouseButton(event->button()), p.x(), p.y());
    if (click && OnClick) OnClick();
}

} // namespace lumora
