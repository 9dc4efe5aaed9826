#include "framework/Dialogs.h"

#include <algorithm>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace lumora {

namespace {

QColor ToQColor(TColor color) {
    TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

// The sixteen colours the font dialog offers, as the system's font dialog names them.
struct TNamedColor {
    const char* Name;
    TColor Color;
};
constexpr TNamedColor kFontColors[] = {
    {"黒", 0x000000},     {"茶", 0x000080},   {"緑", 0x008000}, {"オリーブ", 0x008080},
    {"紺", 0x800000},     {"紫", 0x800080},   {"青緑", 0x808000}, {"灰色", 0x808080},
    {"シルバー", 0xC0C0C0}, {"赤", 0x0000FF}, {"ライム", 0x00FF00}, {"黄", 0x00FFFF},
    {"青", 0xFF0000},     {"赤紫", 0xFF00FF}, {"水色", 0xFFFF00}, {"白", 0xFFFFFF},
};

QIcon Swatch(TColor color) {
    QPixmap pixmap(24, 14);
    pixmap.fill(ToQColor(color));
    return QIcon(pixmap);
}

} // namespace

bool ExecuteFontDialog(QWidget* parent, TFont& font) {
    QDialog dialog(parent);
    dialog.setObjectName("FontDialog");
    dialog.setWindowTitle(QStringLiteral("フォント"));
    dialog.setWindowFlags(dialog.windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Qt's font dialog serves as the face, style and size part of ours.
    auto* faces = new QFontDialog(&dialog);
    faces->setObjectName("FontFaces");
    faces->setWindowFlags(Qt::Widget);
    faces->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    QFont start(QString::fromStdString(ScreenFontFamily(font.Name)));
    start.setPointSize(std::max(1, font.Size()));
    start.setBold(font.Style & fsBold);
    start.setItalic(font.Style & fsItalic);
    start.setUnderline(font.Style & fsUnderline);
    start.setStrikeOut(font.Style & fsStrikeOut);
    faces->setCurrentFont(start);

    auto* colors = new QComboBox(&dialog);
    colors->setObjectName("FontColor");
    TColor current = ColorToRGB(font.Color);
    for (const TNamedColor& entry : kFontColors)
        colors->addItem(Swatch(entry.Color), QString::fromUtf8(entry.Name), QVariant::fromValue(static_cast<uint>(entry.Color)));
    int index = colors->findData(QVariant::fromValue(static_cast<uint>(current)));
    if (index < 0) {
        // A colour outside the sixteen stays choosable as it is.
        colors->addItem(Swatch(current), QStringLiteral("カスタム"), QVariant::fromValue(static_cast<uint>(current)));
        index = colors->count() - 1;
    }
    colors->setCurrentIndex(index);
    auto* colorLabel = new QLabel(QStringLiteral("色(&C):"), &dialog);
    colorLabel->setBuddy(colors);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(colorLabel);
    colorRow->addWidget(colors);
    colorRow->addStretch(1);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(faces);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted) return false;
    QFont chosen = faces->currentFont();
    // A face left as it was keeps the name it had, even when another family stands for it here.
    std::string family = chosen.family().toStdString();
    if (family != ScreenFontFamily(font.Name)) font.Name = family;
    if (chosen.pointSize() > 0) font.SetSize(chosen.pointSize());
    font.Style = static_cast<TFontStyles>((chosen.bold() ? fsBold : 0) | (chosen.italic() ? fsItalic : 0) |
                                          (chosen.underline() ? fsUnderline : 0) |
                                          (chosen.strikeOut() ? fsStrikeOut : 0));
    font.Color = static_cast<TColor>(colors->currentData().toUInt());
    return true;
}

} // namespace lumora
