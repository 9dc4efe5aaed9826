#include "dialogs/pickers/SoundFolderPicker.h"

#include <algorithm>
#include <cmath>

#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "audio/tags/MPEGaudio.h"
#include "audio/tags/OggVorbis.h"
#include "audio/tagforms/SoundInfoForm.h"
#include "audio/tags/WAVfile.h"
#include "audio/tags/WMAfile.h"
#include "engine/Common.h"
#include "engine/playlists/PlayLists.h"
#include "engine/settings/Settings.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "platform/shell/Shell.h"
#include "ui_SoundFolderPicker.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

struct TSoundInfo {
    std::string Time, Kind, BitRate, SampleRate, Mode, Encoder;
    std::string Title, Artist, Album, Year, Genre, Comment;
};

std::string Hz(int64_t rate) { return IntToStr(rate) + "Hz"; }
std::string Kbps(int64_t rate) { return IntToStr(rate) + "Kbit/秒"; }

bool ReadMpeg(const std::string& file, TSoundInfo& info) {
    TMPEGaudio reader;
    if (!reader.LoadFromFile(file) || !reader.IsValid()) return false;
    if (reader.ID3v2().Exists()) {
        TID3v2& t = reader.ID3v2();
        info.Title = t.Title(), info.Artist = t.Artist(), info.Album = t.Album();
        info.Year = t.Year(), info.Genre = t.Genre(), info.Comment = t.Comment();
    } else if (reader.ID3v1().Exists()) {
        TID3v1& t = reader.ID3v1();
        info.Title = t.Title(), info.Artist = t.Artist(), info.Album = t.Album();
        info.Year = t.Year(), info.Genre = t.GenreName(), info.Comment = t.Comment();
    }
    info.Time = PlayTimeText(reader.Duration());
    info.Kind = reader.VersionText() + reader.LayerText();
    info.SampleRate = Hz(reader.SampleRate());
    info.BitRate = Kbps(reader.BitRate());
    info.Mode = reader.ChannelModeText();
    info.Encoder = reader.EncoderText();
    return true;
}

bool ReadWma(const std::string& file, TSoundInfo& info) {
    TWMAfile reader;
    if (!reader.LoadFromFile(file) || !reader.Valid()) return false;
    info.Title = reader.Title(), info.Artist = reader.Artist(), info.Album = reader.Album();
    info.Year = reader.Year(), info.Genre = reader.Genre(), info.Comment = reader.Comment();
    info.Time = PlayTimeText(reader.Duration());
    info.Kind = "Windows Media Audio";
    info.SampleRate = Hz(reader.SampleRate());
    info.BitRate = Kbps(reader.BitRate());
    info.Mode = reader.ChannelModeText();
    return true;
}

bool ReadOgg(const std::string& file, TSoundInfo& info) {
    TOggVorbis reader;
    if (!reader.LoadFromFile(file) || !reader.IsValid()) return false;
    info.Title = reader.Title(), info.Artist = reader.Artist(), info.Album = reader.Album();
    info.Year = reader.Date(), info.Genre = reader.Genre(), info.Comment = reader.Comment();
    info.Time = PlayTimeText(reader.Duration());
    info.Kind = "Ogg Vorbis";
    info.SampleRate = Hz(reader.SampleRate());
    info.BitRate = Kbps(reader.BitRate());
    info.Mode = reader.ChannelModeText();
    return true;
}

bool ReadWav(const std::string& file, TSoundInfo& info) {
    TWAVfile reader;
    if (!reader.LoadFromFile(file) || !reader.Valid()) return false;
    info.Time = PlayTimeText(reader.Duration());
    info.Kind = "Windows Wave";
    info.SampleRate = Hz(reader.SampleRate());
    info.Mode = reader.ChannelModeText();
    return true;
}

// The file, or the target of a shortcut; empty for no file.
std::string TargetOf(const std::string& file) {
    if (file.empty()) return file;
    std::string target = ResolveLinkPath(file);
    return target.empty() ? file : target;
}

} // namespace

std::string PlayTimeText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    long long s = std::llround(seconds);
    return Format("%lld:%2.2lld", s / 60, s % 60);
}

TDSelect2::TDSelect2(QWidget* owner, TRegData& data) : TPickerForm(owner), ui(new Ui::DirSelect2), data_(data) {
    ui->setupUi(this);
    BindControls({ui->FolderView1, ui->FileView1, ui->ComboBox1, ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton4,
                  ui->SpeedButton6, ui->Button1, ui->Button2, ui->BitBtn1, ui->Panel4});
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { Application().Guard([this] { SpeedButton5Click(); }); });

    // The tag form's button sits beside the play button.
    QWidget* panel = ui->BitBtn1->parentWidget();
    BitBtn2 = new QPushButton(Q("ﾀｸﾞ情報"), panel);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setEnabled(false);
    QRect play = ui->BitBtn1->geometry();
    play.moveLeft(std::max(2, (panel->width() - 2 * play.width() - 6) / 2));
    ui->BitBtn1->setGeometry(play);
    BitBtn2->setGeometry(play.translated(play.width() + 6, 0));
    connect(BitBtn2, &QPushButton::clicked, this, [this] { Application().Guard([this] { BitBtn2Click(); }); });
    ui->FileView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->FileView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        Application().Guard([this, pos] { FileView1ContextPopup(ui->FileView1->mapToGlobal(pos)); });
    });
    LastPath.clear();
}

TDSelect2::~TDSelect2() { delete ui; }

int TDSelect2::ViewState() const { return data_.SndBtnState; }
void TDSelect2::SetViewState(int state) { data_.SndBtnState = state; }
bool TDSelect2::PanelState() const { return data_.SndPreview; }
void TDSelect2::SetPanelState(bool on) { data_.SndPreview = on; }
void TDSelect2::SaveState() { data_.SaveSndBtnState(); }

void TDSelect2::ShowStarted() {
    setWindowTitle(Q("ｻｳﾝﾄﾞﾌｫﾙﾀﾞの選択(" + Mask + ")"));
    ClearValues();
    ui->Label2->clear();
}

void TDSelect2::FolderChanged(bool usable) {
    if (usable) {
        ui->BitBtn1->setEnabled(false);
        BitBtn2->setEnabled(false);
    }
}

void TDSelect2::ClearValues() {
    for (QLabel* label : {ui->Label20, ui->Label8, ui->Label11, ui->Label10, ui->Label12, ui->Label13, ui->Label6,
                          ui->Label1, ui->Label3, ui->Label7, ui->Label26, ui->Label5})
        label->clear();
}

std::vector<std::string> TDSelect2::ValueTexts() const {
    std::vector<std::string> texts;
    for (QLabel* label : {ui->Label20, ui->Label8, ui->Label11, ui->Label10, ui->Label12, ui->Label13, ui->Label6,
                          ui->Label1, ui->Label3, ui->Label7, ui->Label26, ui->Label5})
        texts.push_back(label->text().toUtf8().toStdString());
    return texts;
}

void TDSelect2::FileView1Change() {
    std::string p = SelectedFile();
    if (p == LastPath) return;
    ClearValues();
    ui->BitBtn1->setEnabled(!p.empty());
    const std::string target = TargetOf(p);
    BitBtn2->setEnabled(!p.empty() && HasSoundInfoForm(target));
    LastPath = p;
    if (p.empty()) {
        ui->Label2->clear();
        return;
    }
    ui->Label2->setText(FileNameText(ExtractFileName(p)));
    ShowInfo(target);
}

std::string TDSelect2::SelectedTarget() const { return TargetOf(SelectedFile()); }

void TDSelect2::BitBtn2Click() {
    std::string file = SelectedTarget();
    if (file.empty() || !ShowSoundInfoForm(this, file)) return;
    // The form may have changed the tags the panel shows, and the file's size and date in its row.
    for (int row : ui->FileView1->SelectedRows()) ui->FileView1->RefreshRow(row);
    LastPath.clear();
    FileView1Change();
}

void TDSelect2::FileView1ContextPopup(const QPoint& screenPoint) {
    if (SelectedFile().empty()) return;
    QMenu menu(this);
    QAction* info = menu.addAction(Q("ﾀｸﾞ情報(&I)..."));
    info->setEnabled(HasSoundInfoForm(SelectedTarget()));
    if (ShellUi().PopupMenu(menu, screenPoint) == info) BitBtn2Click();
}

void TDSelect2::ShowInfo(const std::string& file) {
    std::string ext = UpperCase(ExtractFileExt(file));
    TSoundInfo info;
    bool ok = false;
    try {
        if (ext == ".MP3") ok = ReadMpeg(file, info);
        else if (ext == ".WMA") ok = ReadWma(file, info);
        else if (ext == ".OGG") ok = ReadOgg(file, info);
        else if (ext == ".WAV") ok = ReadWav(file, info);
    } catch (const std::exception&) {
        // A file that cannot be opened shows its name only, as one no reader knows.
        ok = false;
    }
    if (!ok) return;
    ui->Label20->setText(Q(info.Time));
    ui->Label8->setText(Q(info.Kind));
    ui->Label11->setText(Q(info.BitRate));
    ui->Label10->setText(Q(info.SampleRate));
    ui->Label12->setText(Q(info.Mode));
    ui->Label13->setText(Q(info.Encoder));
    ui->Label6->setText(Q(info.Title));
    ui->Label1->setText(Q(info.Artist));
    ui->Label3->setText(Q(info.Album));
    ui->Label7->setText(Q(info.Year));
    ui->Label26->setText(Q(info.Genre));
    ui->Label5->setText(Q(info.Comment));
}

void TDSelect2::SpeedButton5Click() {
    std::string p = ui->FileView1->SelectedPath();
    if (p.empty()) return;
    bool bass = IsBassExt(ExtractFileExt(TargetOf(p)));
    if (OnPlay) OnPlay(p, bass);
}

} // namespace lumora
