#include "dialogs/controls/ColorComboBox.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "framework/Forms.h"

namespace lumora {

namespace {

struct TNamedColor {
    const char* Name;
    TColor Color;
};

// Entry 0 is the custom colour; its value lives in the control.
constexpr TNamedColor kColors[TColorComboBox::kColorCount] = {
    {"ｶｽﾀﾑ色", clBlack},   {"黒色", 0x000000},   {"茶色", 0x000080},   {"緑色", 0x008000},
    {"黄土色", 0x008080},  {"紺色", 0x800000},   {"紫色", 0x800080},   {"青緑色", 0x808000},
    {"灰色", 0x808080},    {"明灰色", 0xC0C0C0}, {"赤色", 0x0000FF},   {"黄緑色", 0x00FF00},
    {"黄色", 0x00FFFF},    {"青色", 0xFF0000},   {"赤紫色", 0xFF00FF}, {"水色", 0xFFFF00},
    {"白色", 0xFFFFFF},    {"ﾃﾞｽｸﾄｯﾌﾟ色", clBackground},
};

QColor ToQColor(TColor color) {
    TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

} // namespace

TColorComboBox::TColorComboBox(QWidget* parent) : QComboBox(parent) {
    setIconSize(QSize(22, 12));
    for (int i = 0; i < kColorCount; ++i) addItem(QString::fromUtf8(kColors[i].Name));
    for (int i = 0; i < kColorCount; ++i) UpdateSwatch(i);
    setCurrentIndex(-1);
    connect(this, QOverload<int>::of(&QComboBox::activated), this, [this](int) { Changed(); });
}

const char* TColorComboBox::ColorName(int index) {
    return index >= 0 && index < kColorCount ? kColors[index].Name : "";
}

TColor TColorComboBox::ColorOfIndex(int index) const {
    if (index == 0) return customColor_;
    if (index > 0 && index < kColorCount) return kColors[index].Color;
    return Color;
}

int TColorComboBox::IndexOfColor(TColor color) const {
    for (int i = 1; i < kColorCount; ++i)
        if (kColors[i].Color == color) return i;
    return color == customColor_ ? 0 : -1;
}

void TColorComboBox::UpdateSwatch(int index) {
    QPixmap swatch(iconSize());
    swatch.fill(Qt::transparent);
    QPainter p(&swatch);
    p.setPen(Qt::black);
    p.setBrush(ToQColor(ColorOfIndex(index)));
    p.drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
    p.end();
    setItemIcon(index, QIcon(swatch));
}

void TColorComboBox::SetSelectColor(TColor color) {
    if (color == selectColor_ && currentIndex() >= 0) return;
    selectColor_ = color;
    int index = IndexOfColor(color);
    if (index < 0) {
        customColor_ = color;
        UpdateSwatch(0);
        index = 0;
    }
    setCurrentIndex(index);
    if (OnChange) Application().Guard(OnChange);
}

void TColorComboBox::SetCustomColor(TColor color) {
    if (color == customColor_) return;
    customColor_ = color;
    UpdateSwatch(0);
    if (currentIndex() == 0) {
        selectColor_ = color;
        if (OnChange) Application().Guard(OnChange);
    }
    update();
}

void TColorComboBox::Changed() {
    selectColor_ = ColorOfIndex(currentIndex());
    if (OnChange) Application().Guard(OnChange);
}

bool TColorComboBox::OnArrow(int x) const {
    return x > width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 4;
}

void TColorComboBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !OnArrow(event->position().toPoint().x())) {
        setFocus(Qt::MouseFocusReason);
        if (OnClick) Application().Guard(OnClick);
        event->accept();
        return;
    }
    QComboBox::mousePressEvent(event);
}

void TColorComboBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !OnArrow(event->position().toPoint().x())) {
        if (OnDblClick) Application().Guard(OnDblClick);
        event->accept();
        return;
    }
    QComboBox::mouseDoubleClickEvent(event);
}

} // namespace lumora
