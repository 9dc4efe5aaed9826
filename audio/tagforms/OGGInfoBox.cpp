#include "audio/tagforms/OGGInfoBox.h"

#include <cmath>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "audio/tags/ID3v1.h"
#include "audio/tagforms/TagItemDialog.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "ui_OGGInfoBox.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The track as the form shows it: its number, or nothing for a track text that is no number.
std::string TrackText(const TOggVorbis& r) { return r.Track() ? IntToStr(r.Track()) : std::string(); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

// The comment names the standard fields stand for; they cannot be added as other items.
const char* const kKnownNames[] = {"TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE",
                                   "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};

std::string NameOf(const std::string& item) { return item.substr(0, item.find('=')); }

void Guarded(const std::function<void()>& f) { Application().Guard(f); }

} // namespace

std::string GroupedNumber(int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

std::string MinutesSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    long long s = static_cast<long long>(seconds);
    return Format("%2.2lld:%2.2lld", s / 60, s % 60);
}

std::unique_ptr<TOggVorbisInfoForm> TOggVorbisInfoForm::Open(QWidget* owner, const std::string& fileName) {
    auto reader = std::make_unique<TOggVorbis>();
    try {
        if (!reader->LoadFromFile(fileName) || !reader->IsValid()) return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
    return std::unique_ptr<TOggVorbisInfoForm>(new TOggVorbisInfoForm(owner, fileName, std::move(reader)));
}

TOggVorbisInfoForm::TOggVorbisInfoForm(QWidget* owner, const std::string& fileName, std::unique_ptr<TOggVorbis> reader)
    : QDialog(owner), ui(new Ui::OggVorbisInfoForm), fileName_(fileName), reader_(std::move(reader)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->Tag_Genre->setEditable(true);
    for (int i = 0; i < ID3v1GenreCount; ++i) ui->Tag_Genre->addItem(Q(ID3v1GenreName(i)));
    ui->Tag_Genre->model()->sort(0);
    connect(ui->btnAddNew, &QPushButton::clicked, this, [this] { Guarded([this] { btnAddNewClick(); }); });
    connect(ui->btnDelete, &QPushButton::clicked, this, [this] { Guarded([this] { btnDeleteClick(); }); });
    connect(ui->btnDeleteAll, &QPushButton::clicked, this, [this] { Guarded([this] { btnDeleteAllClick(); }); });
    connect(ui->ExtraTagList, &QListWidget::itemDoubleClicked, this,
            [this] { Guarded([this] { ExtraTagListDblClick(); }); });
    connect(ui->btnUpdate, &QPushButton::clicked, this, [this] { Guarded([this] { btnUpdateClick(); }); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { reject(); });
    FormShow();
}

TOggVorbisInfoForm::~TOggVorbisInfoForm() { delete ui; }

void TOggVorbisInfoForm::FormShow() {
    TOggVorbis& r = *reader_;
    ui->Tag_TrackNo->setText(Q(TrackText(r)));
    ui->Tag_Title->setText(Q(r.Title()));
    ui->Tag_Artist->setText(Q(r.Artist()));
    ui->Tag_Album->setText(Q(r.Album()));
    ui->Tag_Date->setText(Q(r.Date()));
    ui->Tag_Genre->setCurrentText(Q(r.Genre()));
    ui->Tag_Comment->setPlainText(Q(r.Comment()));
    ui->lbFileSize->setText(Q("File size: " + GroupedNumber(r.FileSize()) + " bytes"));
    ui->lbLength->setText(Q("Length: " + MinutesSeconds(r.Duration())));
    ui->lbNominalBitrate->setText(Q("Nominal bitrate: " + IntToStr(r.BitRateNominal()) + " kbps"));
    ui->lbAverageBitrate->setText(Q("Average bitrate: " + IntToStr(r.BitRate()) + " kbps"));
    ui->lbChannels->setText(Q("Channels: " + IntToStr(r.ChannelModeID())));
    ui->lbSamplingRate->setText(Q("Sampling rate: " + IntToStr(r.SampleRate()) + " Hz"));
    ui->lbSerialNo->setText(Q("Serial number: " + IntToStr(r.SerialNo())));
    ui->lbVersion->setText(Q("Version: " + IntToStr(r.Version())));
    ui->lbVendor1->setText(QStringLiteral("Vendor:"));
    ui->lbVendor2->setText(Q(r.Vendor()));
    ui->ExtraTagList->clear();
    const std::string& extra = r.Extra();
    size_t start = 0;
    while (start < extra.size()) {
        size_t end = extra.find('\0', start);
        if (end == std::string::npos) end = extra.size();
        if (end > start) ui->ExtraTagList->addItem(Q(extra.substr(start, end - start)));
        start = end + 1;
    }
    shown_.Remember({ui->Tag_TrackNo, ui->Tag_Title, ui->Tag_Artist, ui->Tag_Album, ui->Tag_Date,
                     ui->Tag_Genre, ui->Tag_Comment});
}

std::vector<std::string> TOggVorbisInfoForm::ExtraItems() const {
    std::vector<std::string> items;
    for (int i = 0; i < ui->ExtraTagList->count(); ++i) items.push_back(S(ui->ExtraTagList->item(i)->text()));
    return items;
}

bool TOggVorbisInfoForm::NameAllowed(const std::string& name, int skipRow) {
    for (const char* known : kKnownNames)
        if (SameText(name, known)) {
            MessageBox("Can't add predefined TAG ID.", "Error", TMsgIcon::Error);
            return false;
        }
    std::vector<std::string> items = ExtraItems();
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
        if (i != skipRow && SameText(NameOf(items[i]), name)) {
            MessageBox("Duplicate TAG ID.", "Error", TMsgIcon::Error);
            return false;
        }
    return true;
}

void TOggVorbisInfoForm::btnAddNewClick() {
    TTAGEditForm edit(this);
    ShowInfoFormModal(edit);
    if (edit.Result != 1) return;
    std::string name = Trim(edit.TagName());
    // A comment name is printable ASCII without "="; anything else could not be written back.
    if (name.empty() || name.find_first_not_of(" !\"#$%&'()*+,-./0123456789:;<>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                               "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~") != std::string::npos)
        return;
    if (!NameAllowed(name, -1)) return;
    ui->ExtraTagList->addItem(Q(name + "=" + edit.TagValue()));
}

void TOggVorbisInfoForm::ExtraTagListDblClick() {
    int row = ui->ExtraTagList->currentRow();
    if (row < 0) return;
    std::string item = S(ui->ExtraTagList->item(row)->text());
    size_t eq = item.find('=');
    TTAGEditForm edit(this);
    edit.SetTag(item.substr(0, eq), eq == std::string::npos ? std::string() : item.substr(eq + 1));
    ShowInfoFormModal(edit);
    if (edit.Result != 1) return;
    std::string name = Trim(edit.TagName());
    if (name.empty() || name.find('=') != std::string::npos || !NameAllowed(name, row)) return;
    ui->ExtraTagList->item(row)->setText(Q(name + "=" + edit.TagValue()));
}

void TOggVorbisInfoForm::btnDeleteClick() {
    int row = ui->ExtraTagList->currentRow();
    if (row >= 0) delete ui->ExtraTagList->takeItem(row);
}

void TOggVorbisInfoForm::btnDeleteAllClick() { ui->ExtraTagList->clear(); }

void TOggVorbisInfoForm::btnUpdateClick() {
    TOggVorbis& r = *reader_;
    // A field left as shown keeps the stored text: a track text need not be a number at all, a
    // comment may have CRLF line ends, any value may be longer than a line edit holds.
    if (shown_.Edited(ui->Tag_TrackNo)) {
        std::string track = Trim(S(ui->Tag_TrackNo->text()));
        int number = track.empty() ? 0 : StrToInt(track);
        if (number < 0 || number > 65535) throw EConvertError("'" + track + "' is not a valid track number");
        r.SetTrack(static_cast<uint16_t>(number));
    }
    if (shown_.Edited(ui->Tag_Title)) r.SetTitle(S(ui->Tag_Title->text()));
    if (shown_.Edited(ui->Tag_Artist)) r.SetArtist(S(ui->Tag_Artist->text()));
    if (shown_.Edited(ui->Tag_Album)) r.SetAlbum(S(ui->Tag_Album->text()));
    if (shown_.Edited(ui->Tag_Date)) r.SetDate(S(ui->Tag_Date->text()));
    if (shown_.Edited(ui->Tag_Genre)) r.SetGenre(S(ui->Tag_Genre->currentText()));
    if (shown_.Edited(ui->Tag_Comment)) r.SetComment(S(ui->Tag_Comment->toPlainText()));
    std::string extra;
    for (const auto& item : ExtraItems()) {
        if (!extra.empty()) extra += '\0';
        extra += item;
    }
    r.SetExtra(extra);
    if (!r.SaveToFile(fileName_)) MessageBox("Can't update the tag of an opened OGG file.", "Error", TMsgIcon::Error);
    accept();
}

bool ShowOggVorbisInfo(QWidget* owner, const std::string& fileName) {
    std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(owner, fileName);
    if (!form) return false;
    ShowInfoFormModal(*form);
    return true;
}

} // namespace lumora
