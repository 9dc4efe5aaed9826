#include "dialogs/controls/UrlLabel.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QUrl>

#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "engine/settings/Settings.h"
#include "platform/display/CursorList.h"

namespace lumora {

namespace {

TUrlOpener& Opener() {
    static TUrlOpener opener;
    return opener;
}

bool OpenWithDesktop(const std::string& link) {
    return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(link)));
}

} // namespace

void SetUrlOpener(TUrlOpener opener) { Opener() = std::move(opener); }

TUrlLabel::TUrlLabel(QWidget* parent) : QLabel(parent) {
    setText("Default Caption");
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    SetFontColor(0xFF0000);
    SetClick(true);
    auto* copy = new QAction(QStringLiteral("&Copy"), this);
    connect(copy, &QAction::triggered, this, [this] { CopyLink(); });
    addAction(copy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TUrlLabel::SetClick(bool value) {
    click_ = value;
    if (value)
        setCursor(CursorByIndex(crAdHand));
    else
        unsetCursor();
}

void TUrlLabel::SetFontColor(TColor color) {
    fontColor_ = color;
    TColor rgb = ColorToRGB(color);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
    setPalette(pal);
}

std::string TUrlLabel::Link() const { return Trim(GoURL).empty() ? Caption() : GoURL; }

void TUrlLabel::CopyLink() {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdString(Link()));
}

void TUrlLabel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    savedColor_ = fontColor_;
    down_ = true;
    SetFontColor(FontDownColor);
    std::string link = Link();
    // The link opens on press, whatever Click says; Click only chooses the cursor.
    if (!Trim(link).empty()) {
        if (Opener())
            Opener()(link);
        else
            OpenWithDesktop(link);
    }
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !down_) return;
    down_ = false;
    SetFontColor(savedColor_);
}

} // namespace lumora
