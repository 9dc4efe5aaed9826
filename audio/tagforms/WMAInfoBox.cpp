#include "audio/tagforms/WMAInfoBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "audio/player/AudioPlayer.h"
#include "audio/tagforms/OGGInfoBox.h"
#include "audio/tagforms/TagItemDialog.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "ui_WMAInfoBox.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

void Guarded(const std::function<void()>& f) { Application().Guard(f); }

} // namespace

std::string ShortMinutesSeconds(int64_t seconds) {
    std::string text = MinutesSeconds(static_cast<double>(seconds));
    return text.size() > 4 && text[0] == '0' ? text.substr(1) : text;
}

std::unique_ptr<TWMAInfoForm> TWMAInfoForm::Open(QWidget* owner, const std::string& fileName,
                                                 const TStreamInfo& info) {
    std::unique_ptr<TWMAInfoForm> form(new TWMAInfoForm(owner, fileName, info.SampleRate, info.Channels));
    if (!form->FormShow()) return nullptr;
    return form;
}

TWMAInfoForm::TWMAInfoForm(QWidget* owner, const std::string& fileName, int sampleRate, int channels)
    : QDialog(owner), ui(new Ui::WMAInfoForm), fileName_(fileName), sampleRate_(sampleRate), channels_(channels) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    connect(ui->btnUpdate, &QPushButton::clicked, this, [this] { Guarded([this] { btnUpdateClick(); }); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

TWMAInfoForm::~TWMAInfoForm() { delete ui; }

bool TWMAInfoForm::FormShow() {
    QLineEdit* edits[] = {ui->fArtist, ui->fTitle,   ui->fAlbum,    ui->fYear, ui->fTrack,
                          ui->fGenre,  ui->fEncoder, ui->fComposer, ui->fUrl,  ui->fCopyright};
    for (QLineEdit* edit : edits) edit->clear();
    ui->fComments->clear();
    ui->fLyrics->clear();
    ui->lbSamplingrate->setText(Q("Samplingrate: " + IntToStr(sampleRate_) + " Hz"));
    ui->lbChannels->setText(Q("Channels: " + IntToStr(channels_)));
    if (!reader_.LoadTags(fileName_, tags_)) return false;
    const TTagsData& t = tags_;
    ui->lbSize->setText(Q("File Size: " + GroupedNumber(t.FileSize) + " bytes"));
    ui->lbLength->setText(Q("Length: " + ShortMinutesSeconds(t.Duration)));
    ui->lbBitrate->setText(Q("Bitrate: " + IntToStr(t.BitRate / 1000) + " KBPS"));
    ui->lbVBR->setText(t.IsVBR ? QStringLiteral("VBR: Yes") : QStringLiteral("VBR: No"));
    ui->lbVersion->setText(Q("WMFSDK Version: " + t.WMFSDKVersion));
    ui->fArtist->setText(Q(t.Author));
    ui->fTitle->setText(Q(t.Title));
    ui->fAlbum->setText(Q(t.AlbumTitle));
    ui->fYear->setText(Q(t.Year));
    ui->fTrack->setText(Q(t.TrackNumber));
    ui->fGenre->setText(Q(t.Genre));
    ui->fEncoder->setText(Q(t.EncodedBy));
    ui->fComposer->setText(Q(t.Composer));
    ui->fUrl->setText(Q(t.URL));
    ui->fCopyright->setText(Q(t.Copyright));
    ui->fComments->setPlainText(Q(t.Description));
    ui->fLyrics->setPlainText(Q(t.Lyrics));
    shown_.Remember({ui->fArtist, ui->fTitle, ui->fAlbum, ui->fYear, ui->fTrack, ui->fGenre, ui->fEncoder,
                     ui->fComposer, ui->fUrl, ui->fCopyright, ui->fComments, ui->fLyrics});
    return true;
}

void TWMAInfoForm::btnUpdateClick() {
    // A field left as shown keeps the file's text, which the control need not hold as it was (CRLF
    // line ends, more characters than a line edit takes); only the edited ones are written.
    TTagsData t = tags_;
    auto take = [this](const QLineEdit* edit, std::string& field) {
        if (shown_.Edited(edit)) field = S(edit->text());
    };
    take(ui->fArtist, t.Author);
    take(ui->fTitle, t.Title);
    take(ui->fAlbum, t.AlbumTitle);
    take(ui->fYear, t.Year);
    take(ui->fTrack, t.TrackNumber);
    take(ui->fGenre, t.Genre);
    take(ui->fEncoder, t.EncodedBy);
    take(ui->fComposer, t.Composer);
    take(ui->fUrl, t.URL);
    take(ui->fCopyright, t.Copyright);
    if (shown_.Edited(ui->fComments)) t.Description = S(ui->fComments->toPlainText());
    if (shown_.Edited(ui->fLyrics)) t.Lyrics = S(ui->fLyrics->toPlainText());
    reader_.SaveTags(t);
    accept();
}

void TWMAInfoForm::btnCancelClick() { reject(); }

bool ShowWMAInfo(QWidget* owner, const std::string& fileName, const TStreamInfo& info) {
    std::unique_ptr<TWMAInfoForm> form = TWMAInfoForm::Open(owner, fileName, info);
    if (!form) return false;
    ShowInfoFormModal(*form);
    return true;
}

} // namespace lumora
