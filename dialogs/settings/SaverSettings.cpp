#include "dialogs/settings/SaverSettings.h"

#include <algorithm>

#include <QApplication>
#include <QColorDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTime>
#include <QWindow>

#include "dialogs/controls/ColorComboBox.h"
#include "dialogs/controls/NumEdit.h"
#include "dialogs/pickers/LogoPicker.h"
#include "dialogs/pickers/ShellViews.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "platform/system/System.h"
#include "ui_SaverSettings.h"

namespace lumora {

TSaverSettings* SettingsForm = nullptr;

namespace {

const char* kPictureMask = "*.jpg;*.jpeg;*.bmp;*.gif;*.tif;*.tiff;*.png;*.pcx;*.tga";
const char* kSoundMask = "*.mp3;*.wav;*.mid;*.wma;*.ogg;*.mod;*.xm;*.it;*.s3m";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The folder and file edits show a path's name and keep the bytes the file system gave beside it,
// so a name that is not UTF-8 is stored as it is and not as its shown text.
void SetPathText(QLineEdit* edit, const std::string& path) {
    edit->setProperty("path", QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    edit->setText(FileNameText(path));
}
std::string PathText(const QLineEdit* edit) {
    std::string path = edit->property("path").toByteArray().toStdString();
    // Text that came another way (cleared, typed) is taken as it reads.
    return edit->text() == FileNameText(path) ? path : S(edit->text());
}

TSettingsDialogHooks DefaultHooks() {
    TSettingsDialogHooks hooks;
    hooks.PickColor = [](TSaverSettings& dlg, TColor& color) {
        TColor rgb = ColorToRGB(color);
        QColor chosen = QColorDialog::getColor(QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)), &dlg);
        if (!chosen.isValid()) return false;
        color = RGB(static_cast<uint8_t>(chosen.red()), static_cast<uint8_t>(chosen.green()),
                    static_cast<uint8_t>(chosen.blue()));
        return true;
    };
    hooks.PickFont = [](TSaverSettings& dlg, TFont& font) { return ExecuteFontDialog(&dlg, font); };
    hooks.PickLogo = [](TSaverSettings& dlg, const std::string& initialFolder, std::string& file) {
        TLogoSelect open(&dlg);
        open.InitialFolder = initialFolder;
        if (open.exec() != QDialog::Accepted) return false;
        file = open.FileName;
        return true;
    };
    hooks.About = [](TSaverSettings& dlg) {
        QMessageBox::about(&dlg, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"),
                           QStringLiteral("Lumora 2.0\n写真と音楽のスクリーンセーバー"));
    };
    return hooks;
}

// Puts a batch in place of the registry store while the OK button saves, and back afterwards.
class TBatchScope {
public:
    TBatchScope() : target_(RegistryStore()), batch_(std::make_shared<TRegistryBatch>(target_)) {
        SetRegistryStore(batch_);
    }
    ~TBatchScope() { SetRegistryStore(target_); }
    TBatchScope(const TBatchScope&) = delete;
    TBatchScope& operator=(const TBatchScope&) = delete;
    void Commit() {
        SetRegistryStore(target_);
        batch_->Commit();
    }

private:
    std::shared_ptr<IRegistryStore> target_;
    std::shared_ptr<TRegistryBatch> batch_;
};

} // namespace

TSettingsDialogHooks& SettingsDialogHooks() {
    static TSettingsDialogHooks hooks = DefaultHooks();
    return hooks;
}

TSaverSettings::TSaverSettings(QWidget* owner) : QDialog(nullptr), ui(new Ui::SaverSettings) {
    // The window in front when the dialog is made owns it and stays disabled until the dialog goes.
    // It is not made the dialog's parent, as a disabled parent would disable the dialog too.
    OwnerWindow = owner ? owner->window() : QApplication::activeWindow();
    if (OwnerWindow) {
        winId();
        if (OwnerWindow->windowHandle()) windowHandle()->setTransientParent(OwnerWindow->windowHandle());
        OwnerWindow->setEnabled(false);
    }
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    FillEffectList();
    ui->UpDown1->SetRange(1, 999);
    ui->UpDown1->SetAssociate(ui->IntEdit1);
    ui->UpDown2->SetRange(0, 99);
    ui->UpDown2->SetAssociate(ui->IntEdit2);
    for (int i = 0; i < 10; ++i) findChild<QSlider*>(QString("Slider%1").arg(i + 1))->setProperty("tag", i);

    // FormCreate.
    common_ = std::make_unique<TRegCommon>(false);
    SelectTheme(common_->ThemeIndex());
    EnsureSlot(currentSlot_);
    for (int id = 0; id < MidiOutput1.NumDevs(); ++id) {
        try {
            MidiOutput1.SetDeviceID(id);
            ui->MidiDevice->addItem(Q(MidiOutput1.ProductName()));
        } catch (const std::exception&) {
            // A device that cannot describe itself is left out of the list.
        }
    }
    if (ui->MidiDevice->count() > 0) ui->MidiDevice->setCurrentIndex(0);
    Bind();
    // The buttons of dialogs that are not plugged in have nothing to open.
    const TSettingsDialogHooks& hooks = SettingsDialogHooks();
    ui->Button10->setEnabled(static_cast<bool>(hooks.ThemeManager));
    ui->SpeedButton4->setEnabled(static_cast<bool>(hooks.PictureSize));
    ui->SpeedButton1->setEnabled(static_cast<bool>(hooks.PictureFolder));
    ui->Button5->setEnabled(static_cast<bool>(hooks.About));
    LoadSettings();
    MidiOutOpen = false;
}

TSaverSettings::~TSaverSettings() {
    if (OwnerWindow) OwnerWindow->setEnabled(true);
    CloseMidiOut();
    if (SettingsForm == this) SettingsForm = nullptr;
    delete ui;
}

TRegData& TSaverSettings::EnsureSlot(int slot) {
    if (!slots_[slot]) {
        slots_[slot] = std::make_unique<TRegData>(TRegCommon::GetKeyPath(slot == 0 ? "" : IntToStr(slot - 1)));
        slots_[slot]->Load();
    }
    return *slots_[slot];
}

void TSaverSettings::FreeSlot(int slot) {
    if (slot > 0 && slot < kSlotCount && slot != currentSlot_) slots_[slot].reset();
}

void TSaverSettings::FillEffectList() {
    QListWidget* list = ui->CheckListBox1;
    // Two columns: items flow down and wrap into the next column.
    list->setFlow(QListView::TopToBottom);
    list->setWrapping(true);
    list->setResizeMode(QListView::Adjust);
    list->setGridSize(QSize((list->width() - 2 * list->frameWidth()) / 2, 18));
    list->setUniformItemSizes(true);
    for (int i = 0; i < EffectCount; ++i) {
        auto* item = new QListWidgetItem(QString::fromUtf8(EffectName(i)), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
    }
}

void TSaverSettings::Bind() {
    auto guard = [this](void (TSaverSettings::*handler)()) {
        return [this, handler] {
            if (!loading_) Application().Guard([&] { (this->*handler)(); });
        };
    };
    for (QCheckBox* box : {ui->CheckKey, ui->CheckMouseMove, ui->CheckMouseClick, ui->CheckPowerOFF})
        connect(box, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckKeyClick));
    for (QCheckBox* box : {ui->CheckBox2, ui->CheckBox8, ui->CheckBox9})
        connect(box, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox2Click));
    for (QCheckBox* box : {ui->CheckBox3, ui->CheckBox4})
        connect(box, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox3Click));
    connect(ui->CheckBox7, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox7Click));
    connect(ui->CheckBox1, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox1Click));
    connect(ui->CheckBox5, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox5Click));
    connect(ui->CheckBox10, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox10Click));
    connect(ui->CheckBox11, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox11Click));
    connect(ui->CheckBox12, &QCheckBox::toggled, this, guard(&TSaverSettings::CheckBox12Click));
    for (QRadioButton* radio : {ui->RadioButton1, ui->RadioButton2})
        connect(radio, &QRadioButton::toggled, this, guard(&TSaverSettings::RadioButton1Click));
    connect(ui->FontName, &QComboBox::currentIndexChanged, this, guard(&TSaverSettings::FontNameChange));
    connect(ui->ComboBox4, &QComboBox::currentIndexChanged, this, guard(&TSaverSettings::ComboBox4Change));
    connect(ui->ComboBox9, &QComboBox::currentIndexChanged, this, guard(&TSaverSettings::ComboBox9Change));
    connect(ui->ComboBox2, &QComboBox::activated, this, guard(&TSaverSettings::ComboBox2Change));
    connect(ui->MidiDevice, &QComboBox::activated, this, guard(&TSaverSettings::MidiDeviceChange));
    for (int i = 1; i <= 10; ++i) {
        QSlider* slider = findChild<QSlider*>(QString("Slider%1").arg(i));
        connect(slider, &QSlider::valueChanged, this, [this, slider] {
            Application().Guard([&] { Slider1Change(slider->property("tag").toInt()); });
        });
    }
    connect(ui->Button3, &QPushButton::clicked, this, guard(&TSaverSettings::OkButtonClick));
    connect(ui->Button4, &QPushButton::clicked, this, guard(&TSaverSettings::BitBtn1Click));
    connect(ui->Button5, &QPushButton::clicked, this, guard(&TSaverSettings::BitBtn2Click));
    connect(ui->Button7, &QPushButton::clicked, this, guard(&TSaverSettings::BitBtn3Click));
    connect(ui->Button6, &QPushButton::clicked, this, guard(&TSaverSettings::BitBtn4Click));
    connect(ui->Button8, &QPushButton::clicked, this, guard(&TSaverSettings::Button8Click));
    connect(ui->Button9, &QPushButton::clicked, this, guard(&TSaverSettings::Button9Click));
    connect(ui->Button10, &QPushButton::clicked, this, guard(&TSaverSettings::Button10Click));
    connect(ui->Button2, &QPushButton::clicked, this, guard(&TSaverSettings::Button2Click));
    connect(ui->SpeedButton4, &QToolButton::clicked, this, guard(&TSaverSettings::Button1Click));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, guard(&TSaverSettings::SpeedButton1Click));
    connect(ui->SpeedButton2, &QToolButton::clicked, this, guard(&TSaverSettings::SpeedButton2Click));
    connect(ui->SpeedButton3, &QToolButton::clicked, this, guard(&TSaverSettings::SpeedButton3Click));
    connect(ui->SpeedButton5, &QToolButton::clicked, this, guard(&TSaverSettings::SpeedButton5Click));
    connect(ui->FontBtn, &QPushButton::clicked, this, guard(&TSaverSettings::FontBtnClick));
    ui->ColorComboBox1->OnDblClick = [this] { ColorComboBox1DblClick(); };
    ui->Panel4->installEventFilter(this);
    ui->Label4->installEventFilter(this);
}

bool TSaverSettings::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == ui->Panel4 || watched == ui->Label4) && event->type() == QEvent::MouseButtonDblClick) {
        Application().Guard([this] { Button1Click(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TSaverSettings::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TSaverSettings::SelectTheme(int index) {
    if (index <= 0 || index > common_->ThemeIds.Count()) {
        currentThemeId_.clear();
        currentSlot_ = 0;
        return;
    }
    currentThemeId_ = common_->ThemeIds[index - 1];
    currentSlot_ = StrToInt(currentThemeId_) + 1; // ids are "0".."9" by construction
}

std::string TSaverSettings::SizeText(int mode, int x, int y) {
    if (mode == 0) return "サイズを変更しない";
    std::string box = IntToStr(x) + "×" + IntToStr(y);
    return mode == 1 ? box + "に収める" : box + "に合わせる";
}

void TSaverSettings::RefreshThemeList() {
    QComboBox* box = ui->ComboBox2;
    box->clear();
    box->addItem(Q(common_->DefStrOrStandard()));
    for (int i = 0; i < common_->ThemeNames.Count(); ++i) box->addItem(Q(common_->ThemeNames[i]));
    int shown = 0;
    for (int i = 0; i < common_->ThemeIds.Count(); ++i)
        if (common_->ThemeIds[i] == currentThemeId_) shown = i + 1;
    box->setCurrentIndex(shown);
}

void TSaverSettings::FormShow() {
    RefreshThemeList();
    ui->SpeedButton5->setChecked(common_->TMRandom);
    ui->GroupBox3->setTitle(QStringLiteral("画像ﾌｫﾙﾀﾞ(*.jpg;*.bmp;*.gif;*.tif;*.png;*.pcx;*.tga)"));
    ui->GroupBox4->setTitle(QStringLiteral("ｻｳﾝﾄﾞﾌｫﾙﾀﾞ(") + QString::fromUtf8(kSoundMask) + ")");
    ComboBox4Change();
    ComboBox9Change();
}

void TSaverSettings::SetMethod(const TMethodSwitches& method) {
    for (int i = 0; i < EffectCount; ++i)
        ui->CheckListBox1->item(i)->setCheckState(method[i] ? Qt::Checked : Qt::Unchecked);
}

void TSaverSettings::LoadSettings() {
    TRegData& d = CurrentData();
    loading_ = true;
    ui->UpDown1->SetPosition(d.Interval);
    ui->UpDown2->SetPosition(d.SndInterval);
    SetPathText(ui->EdtPictFolder, d.Folder);
    ui->CheckBox8->setChecked(d.SFolder);
    SetPathText(ui->EdtSndFolder, d.SoundFolder);
    ui->CheckBox2->setChecked(d.UseSound);
    ui->CheckBox9->setChecked(d.SSoundFolder);
    ui->ColorComboBox1->SetSelectColor(d.BackGround);
    ui->CheckBox7->setChecked(d.DispTitle);
    ui->CheckBox3->setChecked(d.UseTitle);
    ui->CheckBox4->setChecked(d.TitleTrans);
    ui->CheckBox13->setChecked(d.LogoSpectrum);
    SetPathText(ui->EdtLogoImg, d.TitleBmp);
    ui->LogoPos->setCurrentIndex(d.LogoImgPos);
    (d.PosRandom ? ui->RadioGroup1Item1 : ui->RadioGroup1Item0)->setChecked(true);
    ui->ComboBox4->setCurrentIndex(d.OrdRandom);
    ui->ComboBox5->setCurrentIndex(d.ImgSort);
    ui->ComboBox9->setCurrentIndex(d.SndRandom);
    ui->ComboBox10->setCurrentIndex(d.SndSort);
    ui->Label4->setText(Q(SizeText(d.SizeAdjust, d.SizeAdjustX, d.SizeAdjustY)));
    ui->CheckBox6->setChecked(d.CImgFilter);
    ui->CheckKey->setChecked(d.StopOnKey);
    ui->CheckMouseMove->setChecked(d.StopOnMouseMove);
    ui->CheckMouseClick->setChecked(d.StopOnMouseClick);
    ui->CheckPowerOFF->setChecked(d.StopOnPwrSave);
    SetMethod(d.Method);
    ui->TrackBar1->setValue(d.ChgSpeed);
    ui->FontName->setCurrentIndex(d.CapDisp);
    ui->RadioButton2->setChecked(d.Grouping);
    ui->RadioButton1->setChecked(!d.Grouping);
    ui->CheckBox1->setEnabled(true);
    ui->CheckBox1->setChecked(d.VolContl);
    ui->CheckBox5->setChecked(d.MsVolChg);
    ui->TrackBar8->setValue(d.MsVol);
    ui->TrackBar2->setValue(d.WaveVol);
    ui->TrackBar3->setValue(d.MidiVol);
    ui->TrackBar5->setValue(d.MuteWaveVol);
    ui->TrackBar6->setValue(d.MuteMidiVol);
    ui->ComboBox3->setCurrentIndex(d.TimeZone);
    ui->DateTimePicker1->setTime(QTime(d.STimeHour, d.STimeMin, d.STimeSec));
    ui->DateTimePicker2->setTime(QTime(d.ETimeHour, d.ETimeMin, d.ETimeSec));
    ui->CheckBox10->setChecked(d.Equalizer);
    ui->CheckBox11->setChecked(d.Echo);
    ui->CheckBox12->setChecked(d.Reverb);
    ui->cbFlanger->setChecked(d.Flanger);
    for (int band = 1; band <= 10; ++band) {
        findChild<QSlider*>(QString("Slider%1").arg(band))->setValue(32 - d.EquaVal[band]);
        EqGains[band - 1] = static_cast<float>(d.EquaVal[band] - 15);
    }
    ui->EchoSlider->setValue(32 - d.EchoVal);
    ui->ReverbSlider->setValue(32 - d.ReverbVal);
    // A stored device that is not attached now leaves the selection as it was; OK then stores the
    // device shown, which the saver can open.
    int device = ui->MidiDevice->findText(Q(d.MidiDevice), Qt::MatchExactly);
    if (device >= 0) ui->MidiDevice->setCurrentIndex(device);
    (d.MultiMon ? ui->RadioGroup4Item1 : ui->RadioGroup4Item0)->setChecked(true);
    loading_ = false;
    UpdateEnabledStates();
}

void TSaverSettings::UpdateEnabledStates() {
    // Every rule in one pass, in an order where each rule sees the states the earlier ones set.
    FontNameChange();
    CheckBox1Click();
    CheckBox10Click();
    CheckBox11Click();
    CheckBox12Click();
    CheckBox7Click(); // also the logo picture and spectrum rules
    CheckBox2Click(); // also the grouping button and the sound order direction
    ComboBox4Change();
    CheckKeyClick();
}

void TSaverSettings::StoreSettings(int slot) {
    if (!SlotLoaded(slot)) return;
    TRegData& d = *slots_[slot];
    d.Interval = ui->UpDown1->Position();
    d.SndInterval = ui->UpDown2->Position();
    d.Folder = PathText(ui->EdtPictFolder);
    d.SFolder = ui->CheckBox8->isChecked();
    d.SoundFolder = PathText(ui->EdtSndFolder);
    d.UseSound = ui->CheckBox2->isChecked() && !d.SoundFolder.empty();
    d.SSoundFolder = ui->CheckBox9->isChecked();
    d.BackGround = ui->ColorComboBox1->SelectColor();
    d.DispTitle = ui->CheckBox7->isChecked();
    d.UseTitle = ui->CheckBox3->isChecked();
    // A box that its rule has cleared and disabled does not apply now; the record keeps its value
    // so the setting is still there when the feature is switched on again.
    if (ui->CheckBox4->isEnabled()) d.TitleTrans = ui->CheckBox4->isChecked();
    if (ui->CheckBox13->isEnabled()) d.LogoSpectrum = ui->CheckBox13->isChecked();
    d.TitleBmp = PathText(ui->EdtLogoImg);
    d.LogoImgPos = ui->LogoPos->currentIndex();
    d.PosRandom = ui->RadioGroup1Item1->isChecked();
    d.OrdRandom = ui->ComboBox4->currentIndex();
    d.ImgSort = ui->ComboBox5->currentIndex();
    d.SndRandom = ui->ComboBox9->currentIndex();
    d.SndSort = ui->ComboBox10->currentIndex();
    d.CImgFilter = ui->CheckBox6->isChecked();
    d.StopOnKey = ui->CheckKey->isChecked();
    d.StopOnMouseMove = ui->CheckMouseMove->isChecked();
    d.StopOnMouseClick = ui->CheckMouseClick->isChecked();
    d.StopOnPwrSave = ui->CheckPowerOFF->isChecked();
    for (int i = 0; i < EffectCount; ++i) d.Method[i] = ui->CheckListBox1->item(i)->checkState() == Qt::Checked;
    d.ChgSpeed = ui->TrackBar1->value();
    d.CapDisp = ui->FontName->currentIndex();
    d.Grouping = ui->RadioButton2->isChecked();
    d.VolContl = ui->CheckBox1->isChecked();
    d.MsVolChg = ui->CheckBox5->isChecked();
    d.MsVol = ui->TrackBar8->value();
    d.WaveVol = ui->TrackBar2->value();
    d.MidiVol = ui->TrackBar3->value();
    d.MuteWaveVol = ui->TrackBar5->value();
    d.MuteMidiVol = ui->TrackBar6->value();
    d.TimeZone = ui->ComboBox3->currentIndex();
    QTime start = ui->DateTimePicker1->time(), end = ui->DateTimePicker2->time();
    d.STimeHour = static_cast<uint16_t>(start.hour());
    d.STimeMin = static_cast<uint16_t>(start.minute());
    d.STimeSec = static_cast<uint16_t>(start.second());
    d.ETimeHour = static_cast<uint16_t>(end.hour());
    d.ETimeMin = static_cast<uint16_t>(end.minute());
    d.ETimeSec = static_cast<uint16_t>(end.second());
    d.Equalizer = ui->CheckBox10->isChecked();
    for (int band = 1; band <= 10; ++band)
        d.EquaVal[band] = 32 - findChild<QSlider*>(QString("Slider%1").arg(band))->value();
    d.Echo = ui->CheckBox11->isChecked();
    d.EchoVal = 32 - ui->EchoSlider->value();
    d.Reverb = ui->CheckBox12->isChecked();
    d.ReverbVal = 32 - ui->ReverbSlider->value();
    d.Flanger = ui->cbFlanger->isChecked();
    d.MidiDevice = S(ui->MidiDevice->currentText());
    d.MultiMon = ui->RadioGroup4Item1->isChecked();
}

void TSaverSettings::ComboBox2Change() {
    int oldSlot = currentSlot_;
    SelectTheme(ui->ComboBox2->currentIndex());
    // Choosing the theme already shown changes nothing: reloading it would throw its edits away.
    if (currentSlot_ == oldSlot) return;
    StoreSettings(oldSlot);
    EnsureSlot(currentSlot_);
    LoadSettings();
    common_->CurrentTheme = currentSlot_ == 0 ? std::string() : IntToStr(currentSlot_ - 1);
}

void TSaverSettings::OkButtonClick() {
    // Enter reaches OK without leaving the box it was typed in: check the boxes as leaving would.
    for (TIntEdit* box : {ui->IntEdit1, ui->IntEdit2})
        if (box->isEnabled() && box->ValidateOnExit && !box->ConfirmValue()) return;
    StoreSettings(currentSlot_);
    common_->TMRandom = ui->SpeedButton5->isChecked();
    try {
        // All slots and the common values go to the registry as one update: all or nothing.
        TBatchScope batch;
        for (auto& slot : slots_)
            if (slot) slot->Save();
        common_->SaveCommon();
        batch.Commit();
    } catch (const Exception& e) {
        MessageBox("設定を保存できませんでした。\n" + e.Message(), "Lumora", TMsgIcon::Error);
        return;
    }
    accept();
}

void TSaverSettings::BitBtn1Click() { reject(); }

void TSaverSettings::BitBtn2Click() {
    if (SettingsDialogHooks().About) SettingsDialogHooks().About(*this);
}

void TSaverSettings::BitBtn3Click() {
    TMethodSwitches all;
    all.fill(true);
    SetMethod(all);
}

void TSaverSettings::BitBtn4Click() { SetMethod(TMethodSwitches{}); }

void TSaverSettings::Button8Click() {
    TMethodSwitches method{};
    ApplyMethodPreset(method, 0);
    SetMethod(method);
}

void TSaverSettings::Button9Click() {
    TMethodSwitches method{};
    ApplyMethodPreset(method, 1);
    SetMethod(method);
}

void TSaverSettings::Button10Click() {
    if (!SettingsDialogHooks().ThemeManager) return;
    StoreSettings(currentSlot_);
    if (SettingsDialogHooks().ThemeManager(*this)) {
        // The manager may have switched the dialog to a slot that was never shown.
        EnsureSlot(currentSlot_);
        RefreshThemeList();
        LoadSettings();
    }
}

void TSaverSettings::Button1Click() {
    auto& hook = SettingsDialogHooks().PictureSize;
    if (!hook) return;
    TRegData& d = CurrentData();
    int mode = d.SizeAdjust, x = d.SizeAdjustX, y = d.SizeAdjustY;
    if (!hook(*this, mode, x, y)) return;
    d.SizeAdjust = mode;
    d.SizeAdjustX = x;
    d.SizeAdjustY = y;
    ui->Label4->setText(Q(SizeText(mode, x, y)));
}

void TSaverSettings::Button2Click() {
    auto& hook = SettingsDialogHooks().Groups;
    if (!hook) return;
    TRegData& d = CurrentData();
    d.Folder = PathText(ui->EdtPictFolder);
    d.SoundFolder = PathText(ui->EdtSndFolder);
    // Cancel leaves the switch as the user set it; only the dialog's OK decides it anew.
    if (!hook(*this, d.SoundFolder, d.Folder)) return;
    ui->RadioButton2->setChecked(d.Grouping);
    ui->RadioButton1->setChecked(!d.Grouping);
    RadioButton1Click();
}

void TSaverSettings::PickFolder(bool pictures) {
    auto& hook = pictures ? SettingsDialogHooks().PictureFolder : SettingsDialogHooks().SoundFolder;
    if (!hook) return;
    QLineEdit* edit = pictures ? ui->EdtPictFolder : ui->EdtSndFolder;
    TFolderPick pick;
    std::string text = PathText(edit);
    // Without a usable folder in the box the picker starts where a user's pictures and music live
    // on this system: their home.
    pick.StartFolder = !text.empty() && DirectoryExists(text) ? text : HomeFolder();
    (pictures ? PictStartFolder : SndStartFolder) = pick.StartFolder;
    pick.Mask = pictures ? kPictureMask : kSoundMask;
    if (pictures) pick.Caption = "画像ﾌｫﾙﾀﾞの選択(*.jpg;*.bmp;*.gif;*.tif;*.png;*.pcx;*.tga)";
    pick.SubFolders = (pictures ? ui->CheckBox8 : ui->CheckBox9)->isChecked();
    if (!hook(*this, pick)) return;
    // The same folder picked again keeps the groups, which are the user's work; a new folder switches
    // grouping off, since the groups name files of the old one.
    if (ExcludeTrailingPathDelimiter(pick.Chosen) == ExcludeTrailingPathDelimiter(text)) return;
    ui->RadioButton2->setChecked(false);
    SetPathText(edit, pick.Chosen);
    ui->RadioButton1->setChecked(true);
    RadioButton1Click();
}

void TSaverSettings::SpeedButton1Click() { PickFolder(true); }
void TSaverSettings::SpeedButton2Click() { PickFolder(false); }

void TSaverSettings::SpeedButton3Click() {
    auto& hook = SettingsDialogHooks().PickLogo;
    if (!hook) return;
    std::string current = PathText(ui->EdtLogoImg);
    std::string folder = FileExists(current) ? ExtractFilePath(current) : std::string();
    std::string file;
    if (hook(*this, folder, file)) SetPathText(ui->EdtLogoImg, file);
}

void TSaverSettings::SpeedButton5Click() {
    common_->TMRandom = !common_->TMRandom;
    ui->SpeedButton5->setChecked(common_->TMRandom);
}

void TSaverSettings::FontBtnClick() {
    auto& hook = SettingsDialogHooks().PickFont;
    if (!hook) return;
    TFont font = CurrentData().CapFont;
    if (hook(*this, font)) CurrentData().CapFont = font;
}

void TSaverSettings::ColorComboBox1DblClick() {
    auto& hook = SettingsDialogHooks().PickColor;
    if (!hook) return;
    TColor color = ui->ColorComboBox1->SelectColor();
    if (hook(*this, color)) ui->ColorComboBox1->SetSelectColor(color);
}

void TSaverSettings::EnableIfHooked(QWidget* widget, bool enabled, bool hooked) { widget->setEnabled(enabled && hooked); }

void TSaverSettings::CheckKeyClick() {
    QCheckBox* boxes[] = {ui->CheckKey, ui->CheckMouseMove, ui->CheckMouseClick, ui->CheckPowerOFF};
    int checked = 0;
    for (QCheckBox* box : boxes) checked += box->isChecked();
    // The last stop condition cannot be cleared, or nothing would end the saver.
    for (QCheckBox* box : boxes) box->setEnabled(!(checked == 1 && box->isChecked()));
}

void TSaverSettings::FontNameChange() { ui->FontBtn->setEnabled(ui->FontName->currentIndex() > 0); }

void TSaverSettings::RadioButton1Click() {
    EnableIfHooked(ui->Button2, !ui->RadioButton1->isChecked() && ui->RadioButton1->isEnabled(),
                   static_cast<bool>(SettingsDialogHooks().Groups));
}

void TSaverSettings::CheckBox2Click() {
    bool on = ui->CheckBox2->isChecked();
    if (!on) {
        ui->RadioButton1->setChecked(true);
        ui->RadioButton2->setChecked(false);
    }
    ui->EdtSndFolder->setEnabled(on);
    EnableIfHooked(ui->SpeedButton2, on, static_cast<bool>(SettingsDialogHooks().SoundFolder));
    ui->ComboBox9->setEnabled(on);
    ui->RadioButton1->setEnabled(on);
    ui->RadioButton2->setEnabled(on);
    ui->CheckBox9->setEnabled(on);
    ComboBox9Change();
    RadioButton1Click();
}

void TSaverSettings::CheckBox7Click() {
    if (ui->CheckBox7->isChecked()) {
        ui->CheckBox3->setEnabled(true);
    } else {
        ui->CheckBox3->setEnabled(false);
        ui->CheckBox3->setChecked(false);
    }
    CheckBox3Click();
}

void TSaverSettings::CheckBox3Click() {
    bool custom = ui->CheckBox3->isChecked() && ui->CheckBox7->isChecked();
    ui->EdtLogoImg->setEnabled(custom);
    EnableIfHooked(ui->SpeedButton3, custom, static_cast<bool>(SettingsDialogHooks().PickLogo));
    if (!custom) ui->CheckBox4->setChecked(false);
    ui->CheckBox4->setEnabled(custom);
    bool spectrum = !ui->CheckBox3->isChecked() && ui->CheckBox7->isChecked();
    if (!spectrum) ui->CheckBox13->setChecked(false);
    ui->CheckBox13->setEnabled(spectrum);
}

void TSaverSettings::CheckBox1Click() {
    bool on = ui->CheckBox1->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{ui->TrackBar2, ui->TrackBar3, ui->TrackBar5, ui->TrackBar6,
                                                      ui->CheckBox5, ui->Label20, ui->ComboBox3, ui->DateTimePicker1,
                                                      ui->DateTimePicker2})
        w->setEnabled(on);
    ui->TrackBar8->setEnabled(on && ui->CheckBox5->isChecked());
}

void TSaverSettings::CheckBox5Click() {
    ui->TrackBar8->setEnabled(ui->CheckBox5->isChecked() && ui->CheckBox5->isEnabled());
}

void TSaverSettings::ComboBox4Change() {
    int mode = ui->ComboBox4->currentIndex();
    ui->ComboBox5->setEnabled(mode == 0 || mode == 4 || mode == 5);
}

void TSaverSettings::ComboBox9Change() {
    int mode = ui->ComboBox9->currentIndex();
    ui->ComboBox10->setEnabled(mode == 0 || mode == 4 || mode == 5);
}

void TSaverSettings::CheckBox10Click() {
    for (int band = 1; band <= 10; ++band)
        findChild<QSlider*>(QString("Slider%1").arg(band))->setEnabled(ui->CheckBox10->isChecked());
}

void TSaverSettings::CheckBox11Click() { ui->EchoSlider->setEnabled(ui->CheckBox11->isChecked()); }
void TSaverSettings::CheckBox12Click() { ui->ReverbSlider->setEnabled(ui->CheckBox12->isChecked()); }

void TSaverSettings::Slider1Change(int tag) {
    if (tag < 0 || tag > 9) return;
    QSlider* slider = findChild<QSlider*>(QString("Slider%1").arg(tag + 1));
    EqGains[tag] = static_cast<float>((32 - slider->value()) - 15.0);
}

void TSaverSettings::MidiDeviceChange() {}

void TSaverSettings::OpenMidiOut() {
    if (ui->MidiDevice->currentIndex() < 0) return;
    MidiOutput1.SetProductName(S(ui->MidiDevice->currentText()));
    MidiOutput1.Open();
    MidiOutOpen = true;
}

void TSaverSettings::CloseMidiOut() {
    if (!MidiOutOpen) return;
    MidiOutOpen = false;
    try {
        MidiOutput1.Close();
    } catch (const std::exception&) {
        // The device is released all the same.
    }
}

int RunSettingsDialog() {
    LoadQtTranslations();
    TSaverSettings dialog;
    SettingsForm = &dialog;
    dialog.exec();
    SettingsForm = nullptr;
    return 0;
}

} // namespace lumora
