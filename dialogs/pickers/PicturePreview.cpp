#include "dialogs/pickers/PicturePreview.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include "dialogs/controls/ImageView.h"
#include "dialogs/pickers/ShellViews.h"
#include "engine/settings/Settings.h"
#include "framework/Graphics.h"
#include "platform/display/CursorList.h"
#include "ui_PicturePreview.h"

namespace lumora {

TIPrev::TIPrev(QWidget* owner) : QDialog(owner), ui(new Ui::ImagePrev) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->Image1->setCursor(CursorByIndex(crAdHand));
    ui->Image1->installEventFilter(this);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->addAction(QStringLiteral("閉じる"), this, [this] { N1Click(); });
}

TIPrev::~TIPrev() { delete ui; }

void TIPrev::SetPicture(const std::string& fileName, TPicture& picture) {
    setWindowTitle(FileNameText(fileName));
    // An animated GIF plays here; the window takes the picture's size.
    const QSize size = ui->Image1->SetPicture(picture);
    ui->Image1->setGeometry(0, 0, size.width(), size.height());
    resize(size);
}

void TIPrev::Image1MouseDown(const QPoint& globalPos) { grab_ = globalPos; }

void TIPrev::Image1MouseMove(const QPoint& globalPos, bool leftDown) {
    if (!leftDown) return;
    // The window follows the mouse: it moves by as much as the mouse did since the last step.
    move(pos() + (globalPos - grab_));
    grab_ = globalPos;
}

void TIPrev::N1Click() { close(); }

bool TIPrev::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Image1) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) Image1MouseDown(mouse->globalPosition().toPoint());
        } else if (event->type() == QEvent::MouseMove) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            Image1MouseMove(mouse->globalPosition().toPoint(), mouse->buttons() & Qt::LeftButton);
        } else if (event->type() == QEvent::ContextMenu) {
            PopupMenu1->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace lumora
