#include "dialogs/settings/PictureSizeDialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include "dialogs/controls/NumEdit.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/SysUtils.h"
#include "platform/display/Screens.h"
#include "ui_PictureSizeDialog.h"

namespace lumora {

namespace {

QColor ToQColor(TColor color) {
    TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

void Fill(QFrame* shape, const QColor& color) {
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::WindowText, Qt::black);
    shape->setPalette(palette);
    shape->setAutoFillBackground(true);
    shape->setFrameShape(QFrame::Box);
    shape->setLineWidth(1);
}

} // namespace

TImgSSet::TImgSSet(QWidget* parent) : QDialog(parent), ui(new Ui::ImgSSet) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags((windowFlags() | Qt::Tool) & ~Qt::WindowContextHelpButtonHint);
    Fill(ui->Shape1, ToQColor(clMoneyGreen));
    Fill(ui->Shape2, ToQColor(clBtnFace));

    auto* group = new QButtonGroup(this);
    group->addButton(ui->RadioGroup1Item0, 0);
    group->addButton(ui->RadioGroup1Item1, 1);
    group->addButton(ui->RadioGroup1Item2, 2);
    auto guard = [this](void (TImgSSet::*handler)()) {
        return [this, handler] { Application().Guard([&] { (this->*handler)(); }); };
    };
    connect(group, &QButtonGroup::idClicked, this, guard(&TImgSSet::RadioGroup1Click));
    connect(ui->TrackBarX, &QSlider::valueChanged, this, guard(&TImgSSet::TrackBarXChange));
    connect(ui->TrackBarY, &QSlider::valueChanged, this, guard(&TImgSSet::TrackBarYChange));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, guard(&TImgSSet::Button3Click));
    connect(ui->SpeedButton2, &QToolButton::clicked, this, guard(&TImgSSet::SpeedButton2Click));
    connect(ui->SpeedButton3, &QToolButton::clicked, this, guard(&TImgSSet::SpeedButton3Click));
    connect(ui->SpeedButton4, &QToolButton::clicked, this, guard(&TImgSSet::SpeedButton4Click));
    connect(ui->SpeedButton5, &QToolButton::clicked, this, guard(&TImgSSet::SpeedButton5Click));
    connect(ui->Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->Button2, &QPushButton::clicked, this, &QDialog::reject);
    ui->IntEditX->installEventFilter(this);
    ui->IntEditY->installEventFilter(this);
}

TImgSSet::~TImgSSet() { delete ui; }

void TImgSSet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TImgSSet::done(int result) {
    Application().Guard([this] { FormClose(); });
    QDialog::done(result);
}

bool TImgSSet::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == ui->IntEditX) Application().Guard([this] { IntEditXExit(); });
        if (watched == ui->IntEditY) Application().Guard([this] { IntEditYExit(); });
    }
    return QDialog::eventFilter(watched, event);
}

int TImgSSet::ItemIndex() const {
    if (ui->RadioGroup1Item1->isChecked()) return 1;
    if (ui->RadioGroup1Item2->isChecked()) return 2;
    return 0;
}

void TImgSSet::SetItemIndex(int index) {
    (index == 1 ? ui->RadioGroup1Item1 : index == 2 ? ui->RadioGroup1Item2 : ui->RadioGroup1Item0)->setChecked(true);
}

void TImgSSet::FormShow() {
    SavedX = SavedY = -1;
    shownMode_ = -1;
    TMonitor first = Monitor(0);
    ScreenW = first.Width();
    ScreenH = first.Height();
    ui->IntEditY->SetMin(0);
    ui->IntEditY->SetMax(ScreenH);
    ui->TrackBarY->setRange(0, ScreenH);
    ui->TrackBarY->setValue(BoxY);
    ui->IntEditX->SetMin(0);
    ui->IntEditX->SetMax(ScreenW);
    ui->TrackBarX->setRange(0, ScreenW);
    ui->TrackBarX->setValue(BoxX);
    SetItemIndex(Mode);
    RadioGroup1Click();
    if (Mode != 0) {
        TrackBarXChange();
        TrackBarYChange();
    }
}

void TImgSSet::FormClose() {
    // Enter reaches the default button without leaving the box it was typed in: apply the rule of
    // leaving the boxes (the bar's limits and the 64-pixel floor) before the values are taken.
    IntEditXExit();
    IntEditYExit();
    // A box left holding no number gives the bar's position.
    if (!TryStrToInt(ui->IntEditX->text().toStdString(), BoxX)) BoxX = ui->TrackBarX->value();
    if (!TryStrToInt(ui->IntEditY->text().toStdString(), BoxY)) BoxY = ui->TrackBarY->value();
    Mode = ItemIndex();
}

void TImgSSet::RadioGroup1Click() {
    const int mode = ItemIndex();
    if (mode == 0) {
        // Remember the box on the way into mode 0 only, so that a switch between the two fitting
        // modes keeps the box the user has set.
        if (shownMode_ != 0) {
            SavedX = ui->TrackBarX->value();
            SavedY = ui->TrackBarY->value();
        }
        ui->TrackBarX->setValue(ScreenW);
        ui->TrackBarY->setValue(ScreenH);
        ui->IntEditX->SetValue(ScreenW);
        ui->IntEditY->SetValue(ScreenH);
    } else if (SavedX != -1) {
        ui->TrackBarX->setValue(SavedX);
        ui->TrackBarY->setValue(SavedY);
        SavedX = SavedY = -1;
    }
    shownMode_ = mode;
    // In mode 0 the size is the screen's: none of the size controls applies.
    const bool sized = mode != 0;
    for (QWidget* w : std::initializer_list<QWidget*>{ui->TrackBarX, ui->IntEditX, ui->TrackBarY, ui->IntEditY,
                                                      ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton3,
                                                      ui->SpeedButton4, ui->SpeedButton5})
        w->setEnabled(sized);
    TrackBarXChange();
    TrackBarYChange();
}

void TImgSSet::BarChanged(bool width) {
    QSlider* bar = width ? ui->TrackBarX : ui->TrackBarY;
    TIntEdit* edit = width ? ui->IntEditX : ui->IntEditY;
    if (bar->value() < kMinBox) {
        // Raising the bar runs this handler again for the new position.
        QSignalBlocker block(bar);
        bar->setValue(kMinBox);
    }
    const int position = bar->value();
    edit->SetValue(position);
    const int screen = width ? ScreenW : ScreenH;
    const QRect outer = ui->Shape1->geometry();
    const int extent = screen > 0 ? static_cast<int>(int64_t(width ? outer.width() : outer.height()) * position / screen)
                                  : 0;
    QRect box = ui->Shape2->geometry();
    if (width) {
        box.setWidth(extent);
        box.moveLeft((outer.width() - extent) / 2);
    } else {
        box.setHeight(extent);
        box.moveTop((outer.height() - extent) / 2);
    }
    ui->Shape2->setGeometry(box);
}

void TImgSSet::TrackBarXChange() { BarChanged(true); }
void TImgSSet::TrackBarYChange() { BarChanged(false); }

void TImgSSet::IntEditXExit() {
    int value;
    if (!TryStrToInt(ui->IntEditX->text().toStdString(), value)) return;
    ui->TrackBarX->setValue(value);
    TrackBarXChange();
}

void TImgSSet::IntEditYExit() {
    int value;
    if (!TryStrToInt(ui->IntEditY->text().toStdString(), value)) return;
    ui->TrackBarY->setValue(value);
    TrackBarYChange();
}

void TImgSSet::SetPreset(int percent) {
    ui->TrackBarX->setValue(static_cast<int>(int64_t(ScreenW) * percent / 100));
    ui->TrackBarY->setValue(static_cast<int>(int64_t(ScreenH) * percent / 100));
    TrackBarXChange();
    TrackBarYChange();
}

void TImgSSet::Button3Click() { SetPreset(100); }
void TImgSSet::SpeedButton2Click() { SetPreset(85); }
void TImgSSet::SpeedButton3Click() { SetPreset(70); }
void TImgSSet::SpeedButton4Click() { SetPreset(55); }
void TImgSSet::SpeedButton5Click() { SetPreset(40); }

} // namespace lumora
