#include "audio/tagforms/MPEGInfoBox.h"

#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "audio/tags/ID3v1.h"
#include "audio/tags/ID3v2.h"
#include "audio/tags/TagText.h"
#include "audio/tagforms/TagItemDialog.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "ui_MPEGInfoBox.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

void Guarded(const std::function<void()>& f) { Application().Guard(f); }

// A track number as typed, with or without the number of tracks (as the ID3v2 group shows it, 7/12).
int TrackNumber(const QString& text, int max) {
    std::string t = Trim(S(text));
    auto n = ParseTrackText(t, static_cast<uint32_t>(max));
    if (!n) throw EConvertError("'" + t + "' is not a valid track number");
    return static_cast<int>(*n);
}

void SelectGenre(QComboBox* box, const std::string& name) {
    int index = box->findText(Q(name));
    if (index >= 0) box->setCurrentIndex(index);
    else if (box->isEditable()) box->setCurrentText(Q(name));
    else box->setCurrentIndex(box->findText(QString()));
}

// The ID3v1 genre number of the empty entry.
constexpr uint8_t kNoGenre = 255;

} // namespace

std::string EmphasisText(uint8_t emphasisID) {
    static const char* const texts[4] = {"None", "50/15 ms", "Unknown", "CCIT J.17"};
    return texts[emphasisID & 3];
}

std::unique_ptr<TMPEGFileInfoForm> TMPEGFileInfoForm::Open(QWidget* owner, const std::string& fileName) {
    auto reader = std::make_unique<TMPEGaudio>();
    try {
        if (!reader->LoadFromFile(fileName) || !reader->IsValid()) return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
    return std::unique_ptr<TMPEGFileInfoForm>(new TMPEGFileInfoForm(owner, fileName, std::move(reader)));
}

TMPEGFileInfoForm::TMPEGFileInfoForm(QWidget* owner, const std::string& fileName, std::unique_ptr<TMPEGaudio> reader)
    : QDialog(owner), ui(new Ui::MPEGFileInfoForm), fileName_(fileName), reader_(std::move(reader)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    // The ID3v1 genre is a number: only the table's names can be chosen. ID3v2 keeps any text.
    ui->Tag1_Genre->setEditable(false);
    ui->Tag1_Genre->addItem(QString());
    ui->Tag2_Genre->setEditable(true);
    for (int i = 0; i < ID3v1GenreCount; ++i) {
        ui->Tag1_Genre->addItem(Q(ID3v1GenreName(i)));
        ui->Tag2_Genre->addItem(Q(ID3v1GenreName(i)));
    }
    ui->Tag1_Genre->model()->sort(0);
    ui->Tag2_Genre->model()->sort(0);
    connect(ui->cbID3v1Tag, &QCheckBox::clicked, this, [this] { cbID3v1TagClick(); });
    connect(ui->cbID3v2Tag, &QCheckBox::clicked, this, [this] { cbID3v2TagClick(); });
    connect(ui->btnCopyTo, &QPushButton::clicked, this, [this] { btnCopyToClick(); });
    connect(ui->btnCopyFrom, &QPushButton::clicked, this, [this] { btnCopyFromClick(); });
    connect(ui->btnUpdate, &QPushButton::clicked, this, [this] { Guarded([this] { btnUpdateClick(); }); });
    connect(ui->btnUndo, &QPushButton::clicked, this, [this] { btnUndoClick(); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { reject(); });
    FormShow();
}

TMPEGFileInfoForm::~TMPEGFileInfoForm() { delete ui; }

void TMPEGFileInfoForm::EnableGroup1(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{ui->Tag1_TrackNo, ui->Tag1_Title, ui->Tag1_Artist, ui->Tag1_Album,
                                                      ui->Tag1_Year, ui->Tag1_Genre, ui->Tag1_Comment})
        w->setEnabled(on);
    ui->btnCopyFrom->setEnabled(on);
}

void TMPEGFileInfoForm::EnableGroup2(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->Tag2_TrackNo, ui->Tag2_Title, ui->Tag2_Artist, ui->Tag2_Album, ui->Tag2_Year, ui->Tag2_Genre,
             ui->Tag2_Comment, ui->Tag2_Composer, ui->Tag2_OrigArtist, ui->Tag2_Copyright, ui->Tag2_URL,
             ui->Tag2_Encodedby})
        w->setEnabled(on);
    ui->btnCopyTo->setEnabled(on);
}

void TMPEGFileInfoForm::FormShow() {
    TMPEGaudio& r = *reader_;
    const FrameData& f = r.Frame();
    QFontMetrics metrics(ui->fFileName->font());
    ui->fFileName->setText(metrics.elidedText(Q(FileNameUtf8(fileName_)), Qt::ElideMiddle, ui->fFileName->width()));
    ui->lbSize->setText(Q("Size: " + IntToStr(r.FileLength()) + " bytes"));
    ui->lbHeaderPos->setText(Q("Header found at: " + IntToStr(f.Position) + " bytes"));
    ui->lbLength->setText(Q("Length: " + IntToStr(static_cast<int64_t>(r.Duration())) + " seconds"));
    ui->lbType->setText(Q(r.VersionText() + " " + r.LayerText()));
    ui->lbBitFrame->setText(Q(IntToStr(r.BitRate()) + "kbit, " + IntToStr(r.Frames()) + " frames"));
    ui->lbFreq_Channels->setText(Q(IntToStr(r.SampleRate()) + "Hz " + r.ChannelModeText()));
    ui->lbCRC->setText(f.ProtectionBit ? QStringLiteral("CRCs: Yes") : QStringLiteral("CRCs: No"));
    ui->lbCopyrighted->setText(f.CopyrightBit ? QStringLiteral("Copyrighted: Yes") : QStringLiteral("Copyrighted: No"));
    ui->lbOriginal->setText(f.OriginalBit ? QStringLiteral("Original: Yes") : QStringLiteral("Original: No"));
    ui->lbEmphasis->setText(Q("Emphasis: " + EmphasisText(f.EmphasisID)));

    for (QLineEdit* e : {ui->Tag1_TrackNo, ui->Tag1_Title, ui->Tag1_Artist, ui->Tag1_Album, ui->Tag1_Year,
                         ui->Tag1_Comment, ui->Tag2_TrackNo, ui->Tag2_Title, ui->Tag2_Artist, ui->Tag2_Album,
                         ui->Tag2_Year, ui->Tag2_Composer, ui->Tag2_OrigArtist, ui->Tag2_Copyright, ui->Tag2_URL,
                         ui->Tag2_Encodedby})
        e->clear();
    ui->Tag2_Comment->clear();
    SelectGenre(ui->Tag1_Genre, "");
    ui->Tag2_Genre->setCurrentText(QString());

    TID3v1& t1 = r.ID3v1();
    ui->cbID3v1Tag->setChecked(t1.Exists());
    if (t1.Exists()) {
        ui->Tag1_TrackNo->setText(t1.Track() ? Q(IntToStr(t1.Track())) : QString());
        ui->Tag1_Title->setText(Q(t1.Title()));
        ui->Tag1_Artist->setText(Q(t1.Artist()));
        ui->Tag1_Album->setText(Q(t1.Album()));
        ui->Tag1_Year->setText(Q(t1.Year()));
        SelectGenre(ui->Tag1_Genre, t1.GenreName());
        ui->Tag1_Comment->setText(Q(t1.Comment()));
    }
    EnableGroup1(t1.Exists());

    TID3v2& t2 = r.ID3v2();
    ui->cbID3v2Tag->setChecked(t2.Exists());
    if (t2.Exists()) {
        ui->Tag2_TrackNo->setText(Q(t2.TrackText()));
        ui->Tag2_Title->setText(Q(t2.Title()));
        ui->Tag2_Artist->setText(Q(t2.Artist()));
        ui->Tag2_Album->setText(Q(t2.Album()));
        ui->Tag2_Year->setText(Q(t2.Year()));
        SelectGenre(ui->Tag2_Genre, t2.Genre());
        ui->Tag2_Comment->setPlainText(Q(t2.Comment()));
        ui->Tag2_Composer->setText(Q(t2.Composer()));
        ui->Tag2_OrigArtist->setText(Q(t2.OrigArtist()));
        ui->Tag2_Copyright->setText(Q(t2.Copyright()));
        ui->Tag2_URL->setText(Q(t2.Link()));
        ui->Tag2_Encodedby->setText(Q(t2.Encoder()));
    }
    EnableGroup2(t2.Exists());

    shown_.Remember({ui->Tag1_TrackNo, ui->Tag1_Title, ui->Tag1_Artist, ui->Tag1_Album, ui->Tag1_Year,
                     ui->Tag1_Genre, ui->Tag1_Comment, ui->Tag2_TrackNo, ui->Tag2_Title, ui->Tag2_Artist,
                     ui->Tag2_Album, ui->Tag2_Year, ui->Tag2_Genre, ui->Tag2_Comment, ui->Tag2_Composer,
                     ui->Tag2_OrigArtist, ui->Tag2_Copyright, ui->Tag2_URL, ui->Tag2_Encodedby});
}

void TMPEGFileInfoForm::cbID3v1TagClick() { EnableGroup1(ui->cbID3v1Tag->isChecked()); }
void TMPEGFileInfoForm::cbID3v2TagClick() { EnableGroup2(ui->cbID3v2Tag->isChecked()); }

void TMPEGFileInfoForm::btnCopyToClick() {
    ui->Tag1_TrackNo->setText(ui->Tag2_TrackNo->text());
    ui->Tag1_Title->setText(ui->Tag2_Title->text());
    ui->Tag1_Artist->setText(ui->Tag2_Artist->text());
    ui->Tag1_Album->setText(ui->Tag2_Album->text());
    ui->Tag1_Year->setText(ui->Tag2_Year->text());
    SelectGenre(ui->Tag1_Genre, S(ui->Tag2_Genre->currentText()));
    ui->Tag1_Comment->setText(ui->Tag2_Comment->toPlainText());
    ui->cbID3v1Tag->setChecked(true);
    EnableGroup1(true);
}

void TMPEGFileInfoForm::btnCopyFromClick() {
    ui->Tag2_TrackNo->setText(ui->Tag1_TrackNo->text());
    ui->Tag2_Title->setText(ui->Tag1_Title->text());
    ui->Tag2_Artist->setText(ui->Tag1_Artist->text());
    ui->Tag2_Album->setText(ui->Tag1_Album->text());
    ui->Tag2_Year->setText(ui->Tag1_Year->text());
    SelectGenre(ui->Tag2_Genre, S(ui->Tag1_Genre->currentText()));
    ui->Tag2_Comment->setPlainText(ui->Tag1_Comment->text());
    ui->cbID3v2Tag->setChecked(true);
    EnableGroup2(true);
}

void TMPEGFileInfoForm::btnUpdateClick() {
    TID3v1& t1 = reader_->ID3v1();
    TID3v2& t2 = reader_->ID3v2();
    // A field the user did not edit keeps what the tag holds, even a value the form could not
    // take as typed (a track "A7", a genre number without a name). Edited track numbers are checked
    // before anything is written.
    bool v1 = ui->cbID3v1Tag->isChecked(), v2 = ui->cbID3v2Tag->isChecked();
    std::optional<int> track1, track2;
    if (v1 && Edited(ui->Tag1_TrackNo)) track1 = TrackNumber(ui->Tag1_TrackNo->text(), 255);
    if (v2 && Edited(ui->Tag2_TrackNo)) track2 = TrackNumber(ui->Tag2_TrackNo->text(), 65535);
    if (v1) {
        if (track1) t1.SetTrack(static_cast<uint8_t>(*track1));
        if (Edited(ui->Tag1_Title)) t1.SetTitle(S(ui->Tag1_Title->text()));
        if (Edited(ui->Tag1_Artist)) t1.SetArtist(S(ui->Tag1_Artist->text()));
        if (Edited(ui->Tag1_Album)) t1.SetAlbum(S(ui->Tag1_Album->text()));
        if (Edited(ui->Tag1_Year)) t1.SetYear(S(ui->Tag1_Year->text()));
        if (Edited(ui->Tag1_Genre)) t1.SetGenre(ID3v1GenreIndex(S(ui->Tag1_Genre->currentText())).value_or(kNoGenre));
        if (Edited(ui->Tag1_Comment)) t1.SetComment(S(ui->Tag1_Comment->text()));
        if (!t1.SaveToFile(fileName_)) MessageBox("Can't save ID3v1 tag of the MPEG file.", "Error", TMsgIcon::Error);
        else if (!t1.UnstoredNote().empty()) MessageBox(t1.UnstoredNote(), "Warning", TMsgIcon::Warning);
    } else if (t1.Exists()) {
        if (!t1.RemoveFromFile(fileName_))
            MessageBox("Can't remove ID3v1 tag of the MPEG file.", "Error", TMsgIcon::Error);
    }
    if (v2) {
        bool existed = t2.Exists();
        if (track2) t2.SetTrackText(*track2 ? Trim(S(ui->Tag2_TrackNo->text())) : std::string());
        if (Edited(ui->Tag2_Title)) t2.SetTitle(S(ui->Tag2_Title->text()));
        if (Edited(ui->Tag2_Artist)) t2.SetArtist(S(ui->Tag2_Artist->text()));
        if (Edited(ui->Tag2_Album)) t2.SetAlbum(S(ui->Tag2_Album->text()));
        if (Edited(ui->Tag2_Year)) t2.SetYear(S(ui->Tag2_Year->text()));
        if (Edited(ui->Tag2_Genre)) t2.SetGenre(S(ui->Tag2_Genre->currentText()));
        if (Edited(ui->Tag2_Comment)) t2.SetComment(S(ui->Tag2_Comment->toPlainText()));
        if (Edited(ui->Tag2_Composer)) t2.SetComposer(S(ui->Tag2_Composer->text()));
        if (Edited(ui->Tag2_OrigArtist)) t2.SetOrigArtist(S(ui->Tag2_OrigArtist->text()));
        if (Edited(ui->Tag2_Copyright)) t2.SetCopyright(S(ui->Tag2_Copyright->text()));
        if (Edited(ui->Tag2_URL)) t2.SetLink(S(ui->Tag2_URL->text()));
        if (Edited(ui->Tag2_Encodedby)) t2.SetEncoder(S(ui->Tag2_Encodedby->text()));
        if (!t2.SaveToFile(fileName_))
            MessageBox(existed ? "Can't reconstruct ID3v2 tag of an opened MPEG file."
                               : "Can't add ID3v2 tag to an opened MPEG file.",
                       "Error", TMsgIcon::Error);
    } else if (t2.Exists()) {
        if (!t2.RemoveFromFile(fileName_))
            MessageBox("Can't remove ID3v2 tag of an opened MPEG file.", "Error", TMsgIcon::Error);
    }
    accept();
}

bool ShowMPEGFileInfo(QWidget* owner, const std::string& fileName) {
    std::unique_ptr<TMPEGFileInfoForm> form = TMPEGFileInfoForm::Open(owner, fileName);
    if (!form) return false;
    ShowInfoFormModal(*form);
    return true;
}

} // namespace lumora
