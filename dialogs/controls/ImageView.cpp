#include "dialogs/controls/ImageView.h"

#include <QPainter>

#include "framework/Forms.h"
#include "pictures/gif/GIFImage.h"

namespace lumora {

TImageView::TImageView(QWidget* parent) : QWidget(parent) { canvas_.SetPixelFormat(TPixelFormat::pf32bit); }

// The picture goes first: a GIF stops and waits for its painters while the control still exists.
TImageView::~TImageView() { picture_.reset(); }

QSize TImageView::SetPicture(TPicture& picture) {
    Clear();
    TGraphic* graphic = picture.Graphic();
    if (!graphic) return QSize(0, 0);
    if (auto* gif = dynamic_cast<TGIFImage*>(graphic)) {
        // The first frame is rendered now, so a picture that cannot be shown fails here, where the
        // caller reports it, and not later while painting.
        if (!gif->Empty()) gif->Images()[0]->Bitmap();
        picture_ = std::make_unique<TPicture>(std::move(picture));
        picture_->Graphic()->OnChange = [this] { update(); };
        update();
        return QSize(picture_->Width(), picture_->Height());
    }
    // A still picture's transparent parts show the panel behind it, as an animation's do.
    TBitmap bitmap;
    AssignOverBackground(bitmap, graphic, PanelColor());
    still_ = bitmap.AsQImage().copy();
    update();
    return QSize(bitmap.Width(), bitmap.Height());
}

TColor TImageView::PanelColor() const {
    const QColor panel = palette().color(backgroundRole());
    return RGB(uint8_t(panel.red()), uint8_t(panel.green()), uint8_t(panel.blue()));
}

void TImageView::Clear() {
    picture_.reset();
    still_ = QImage();
    update();
}

void TImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!still_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), still_);
        return;
    }
    TGraphic* graphic = Animated();
    if (!graphic || width() <= 0 || height() <= 0) return;
    // The picture is drawn over what the panel shows, so its transparent pixels let that through.
    if (canvas_.Width() != width() || canvas_.Height() != height()) canvas_.SetSize(width(), height());
    canvas_.Canvas().Brush.Color = PanelColor();
    canvas_.Canvas().FillRect(TRect{0, 0, width(), height()});
    try {
        graphic->Draw(canvas_.Canvas(), TRect{0, 0, width(), height()});
    } catch (const std::exception& e) {
        // No exception goes into Qt: the picture is dropped and the error shown once.
        picture_.reset();
        Application().HandleException(e);
        return;
    }
    painter.drawImage(0, 0, canvas_.AsQImage());
}

void TImageView::Stop() {
    if (auto* gif = dynamic_cast<TGIFImage*>(Animated())) gif->StopAllPainters();
}

void TImageView::hideEvent(QHideEvent* event) {
    // A hidden control plays nothing.
    Stop();
    QWidget::hideEvent(event);
}

} // namespace lumora
