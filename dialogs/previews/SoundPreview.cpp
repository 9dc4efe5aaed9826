#include "dialogs/previews/SoundPreview.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>
#include <QTimer>

#include "audio/mixer/AudioMixer.h"
#include "audio/player/AudioPlayer.h"
#include "audio/mixer/VolumeRoutines.h"
#include "dialogs/settings/SaverSettings.h"
#include "engine/Common.h"
#include "engine/playlists/PlayLists.h"
#include "engine/saver/ScrollingText.h"
#include "framework/SysUtils.h"
#include "platform/session/SaverInhibit.h"
#include "ui_SaverSettings.h"
#include "ui_SoundPreview.h"

namespace lumora {

namespace {

// Mixer line kinds of SetSourceVolume.
constexpr int kWaveLine = 1;

int SecondsOf(const QTime& t) { return EncodeTimeOfDay(t.hour(), t.minute(), t.second()); }

// The line a dotted pen of width 1 draws: three pixels on, three off, the pattern running on
// from one segment to the next; the end point of the path is not drawn.
void DottedPath(TBitmap& bitmap, std::initializer_list<TPoint> points, TColor color) {
    const uint32_t pixel = ColorToPixel(color);
    int step = 0;
    const TPoint* previous = nullptr;
    for (const TPoint& p : points) {
        if (previous) {
            int x = previous->X, y = previous->Y;
            const int dx = (p.X > x) - (p.X < x), dy = (p.Y > y) - (p.Y < y);
            while (x != p.X || y != p.Y) {
                if (step % 6 < 3 && x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height())
                    bitmap.Row32(y)[x] = pixel;
                ++step;
                x += dx;
                y += dy;
            }
        }
        previous = &p;
    }
}

} // namespace

// ---- the paint box ----

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    picture_.SetPixelFormat(TPixelFormat::pf32bit);
    picture_.SetSize(std::max(1, width()), std::max(1, height()));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::Draw(const TBitmap& bitmap, int x, int y) {
    for (int row = 0; row < bitmap.Height(); ++row) {
        const int ty = y + row;
        if (ty < 0 || ty >= picture_.Height()) continue;
        const uint32_t* src = bitmap.Row32(row);
        uint32_t* dst = picture_.Row32(ty);
        for (int col = 0; col < bitmap.Width(); ++col) {
            const int tx = x + col;
            if (tx >= 0 && tx < picture_.Width()) dst[tx] = src[col];
        }
    }
    update();
}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_.AsQImage());
}

void TPaintBox::resizeEvent(QResizeEvent*) { picture_.SetSize(std::max(1, width()), std::max(1, height())); }

// ---- the dialog's mixing ----

TPreviewMixing TPreviewMixing::FromDialog(const TSaverSettings* settings) {
    TPreviewMixing m;
    if (!settings) return m;
    const Ui::SaverSettings& ui = *settings->ui;
    m.VolContl = ui.CheckBox1->isChecked();
    m.MsVolChg = ui.CheckBox5->isChecked();
    m.MsVol = ui.TrackBar8->value();
    m.WaveVol = ui.TrackBar2->value();
    m.MidiVol = ui.TrackBar3->value();
    m.MuteWaveVol = ui.TrackBar5->value();
    m.MuteMidiVol = ui.TrackBar6->value();
    m.TimeZone = ui.ComboBox3->currentIndex();
    m.MuteStart = SecondsOf(ui.DateTimePicker1->time());
    m.MuteEnd = SecondsOf(ui.DateTimePicker2->time());
    m.Equalizer = ui.CheckBox10->isChecked();
    m.Echo = ui.CheckBox11->isChecked();
    m.Reverb = ui.CheckBox12->isChecked();
    m.Flanger = ui.cbFlanger->isChecked();
    m.EchoLevel = kMaxEffectLevel - ui.EchoSlider->value();
    m.ReverbLevel = kMaxEffectLevel - ui.ReverbSlider->value();
    std::copy(settings->EqGains.begin(), settings->EqGains.end(), m.EqGains.begin());
    return m;
}

bool TPreviewMixing::MuteNow() const { return TimeZone != 0 && InMuteWindow(TimeZone, MuteStart, MuteEnd); }

void BeginPreviewMixer(TAudioMixer& mixer, const TPreviewMixing& mixing) {
    if (!mixing.VolContl) return;
    SaveMixer(mixer);
    SetFullMixerLevels(mixer, mixing.MsVolChg, mixing.MsVol);
}

void EndPreviewMixer(TAudioMixer& mixer, const TPreviewMixing& mixing) {
    if (mixing.VolContl) RestoreMixer(mixer);
}

// ---- the sound preview ----

TSPrev::TSPrev(TSaverSettings* settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::SPrev), mixing_(TPreviewMixing::FromDialog(settings)) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    TScrollingText& ticker = *ui->ScrollingText1;
    ticker.SetBackgroundColor(clWhite);
    ticker.Font.Color = clBlack;
    ticker.FontChanged();
    ticker.SetTextDirection(TTextDirection::tdRightToLeft);
    ticker.SetEnabled(false);
    ticker.Loaded();
    Timer1.SetEnabled(false);
    Timer1.SetInterval(500);
    Timer1.OnTimer = [this] { Application().Guard([this] { Timer1Timer(); }); };
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    Application().Guard([this] { FormCreate(); });
}

TSPrev::~TSPrev() {
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    delete ui;
}

void TSPrev::FormCreate() {
    State = 0;
    ShortFile = false;
    LastPosition = 0;
    inhibit_ = std::make_unique<TScreenSaverInhibit>("Lumora sound preview");
    AudioMixer1 = std::make_unique<TAudioMixer>();
    AudioPlayer1 = std::make_unique<TAudioPlayer>();
    AudioPlayer1->OnPlayEnd = [this](TObject*) { AudioPlayer1PlayEnd(); };
    AudioPlayer1->OnNewFFTData = [this](TObject*, const TBandOut& bands) { DisplayFFTBand(bands); };
    CreateBasicImage();
    ShowBackground();
    Peak.fill(0);
    Hold.fill(0);
    BeginPreviewMixer(*AudioMixer1, mixing_);
}

void TSPrev::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TSPrev::done(int result) {
    if (!closed_) {
        closed_ = true;
        Application().Guard([this] { FormClose(); });
    }
    QDialog::done(result);
}

void TSPrev::CloseLater() {
    // The player or the timer is still inside its own call: the form closes once that returns.
    QTimer::singleShot(0, this, [this] {
        if (!closed_) reject();
    });
}

void TSPrev::FormShow() {
    ui->ProgressBar1->setValue(0);
    PlayName = ResolveLinkPath(FileName);
    if (PlayName.empty()) PlayName = FileName;
    if (!AudioPlayer1 || !AudioPlayer1->Ready()) {
        std::string text = FileNameUtf8(FileName) + "を再生できません";
        if (AudioPlayer1 && AudioPlayer1->NoSoundOutput()) text += std::string("\n") + kNoSoundOutputText;
        ShowMessage(text);
        State = -1;
    } else {
        TAudioPlayer& player = *AudioPlayer1;
        player.SetVolume(100);
        // Each switch in turn, its level right after it is switched on.
        auto apply = [&player](bool on, uint8_t bit) {
            uint8_t flags = player.SoundEffects();
            player.SetSoundEffects(on ? flags | bit : flags & ~bit);
        };
        apply(mixing_.Equalizer, sefEqualizer);
        if (mixing_.Equalizer) player.SetEQGains(mixing_.EqGains);
        apply(mixing_.Echo, sefEcho);
        if (mixing_.Echo) player.SetEchoLevel(mixing_.EchoLevel);
        apply(mixing_.Reverb, sefReverb);
        if (mixing_.Reverb) player.SetReverbLevel(mixing_.ReverbLevel);
        apply(mixing_.Flanger, sefFlanger);
        ShortFile = FileSizeOf(PlayName) < kShortFileSize;
        // A file the player cannot open is not playing: the ticker says so and the form stays
        // until the user closes it.
        if (player.Open(PlayName)) {
            if (mixing_.VolContl)
                SetSourceVolume(*AudioMixer1, kWaveLine, mixing_.MuteNow() ? mixing_.MuteWaveVol : mixing_.WaveVol);
            player.Play();
            State = 1;
        }
    }
    TScrollingText& ticker = *ui->ScrollingText1;
    ticker.SetText(FileNameUtf8(ExtractFileName(FileName)) + (State == 0 ? "の再生はできません" : ""));
    ticker.SetEnabled(true);
    Timer1.SetEnabled(true);
}

void TSPrev::Timer1Timer() {
    if (State == -1) {
        CloseLater();
        return;
    }
    if (State != 1 || !AudioPlayer1) return;
    const int64_t position = AudioPlayer1->GetPosition();
    const int64_t length = AudioPlayer1->GetPlayLength();
    if (length > 0) ui->ProgressBar1->setValue(static_cast<int>(std::clamp<int64_t>(position * 100 / length, 0, 100)));
    if (ShortFile) {
        if (LastPosition != 0 && LastPosition == position) {
            AudioPlayer1PlayEnd();
            return;
        }
        LastPosition = position;
    }
}

void TSPrev::AudioPlayer1PlayEnd() {
    State = 0;
    CloseLater();
}

void TSPrev::FormClose() {
    Timer1.SetEnabled(false);
    if (AudioPlayer1) {
        if (State == 1 && AudioPlayer1->Mode() == plmPlaying) AudioPlayer1->Stop();
        AudioPlayer1->OnPlayEnd = nullptr;
        AudioPlayer1->OnNewFFTData = nullptr;
        AudioPlayer1.reset();
    }
    BasicImage.SetSize(0, 0);
    SpectrumImage.SetSize(0, 0);
    BarImage.SetSize(0, 0);
    if (AudioMixer1) EndPreviewMixer(*AudioMixer1, mixing_);
    inhibit_.reset();
}

void TSPrev::CreateBasicImage() {
    for (TBitmap* image : {&BasicImage, &SpectrumImage}) {
        image->SetPixelFormat(TPixelFormat::pf32bit);
        image->SetSize(kGaugeW, kGaugeH);
    }
    for (int row = 0; row < kGaugeH; ++row) std::fill(BasicImage.Row32(row), BasicImage.Row32(row) + kGaugeW, 0u);
    DottedPath(BasicImage, {TPoint{0, 0}, TPoint{0, kGaugeH - 1}, TPoint{kGaugeW - 1, kGaugeH - 1}}, clBlue);
    ui->GaugePaintBox->resize(kGaugeW, kGaugeH);
    // Red at the top turning yellow, then yellow fading towards yellow-green at the foot.
    BarImage.SetPixelFormat(TPixelFormat::pf32bit);
    BarImage.SetSize(3, kBarH);
    int red = 255, green = 0;
    for (int row = 0; row < kBarH; ++row) {
        if (row <= 12) green = std::min(255, green + 32);
        else red = std::max(0, red - 10);
        const uint32_t px = ColorToPixel(RGB(static_cast<uint8_t>(red), static_cast<uint8_t>(green), 0));
        std::fill(BarImage.Row32(row), BarImage.Row32(row) + 3, px);
    }
}

void TSPrev::ShowBackground() { ui->GaugePaintBox->Draw(BasicImage, DrawOffset.X, DrawOffset.Y); }

void TSPrev::DisplayFFTBand(const TBandOut& bands) {
    if (BasicImage.Width() != kGaugeW) return;
    SpectrumImage.Assign(BasicImage);
    const uint32_t silver = ColorToPixel(clSilver);
    for (int i = 0; i < 25; ++i) {
        const int level = std::min<int>(bands[static_cast<size_t>(i)], kBarH);
        const int x = i * 4 + 2;
        for (int row = kBarH - level; row < kBarH; ++row)
            std::copy(BarImage.Row32(row), BarImage.Row32(row) + 3, SpectrumImage.Row32(row) + x);
        // The peak mark holds above a falling level for a while, then drops ever faster.
        double& peak = Peak[static_cast<size_t>(i)];
        int& hold = Hold[static_cast<size_t>(i)];
        const int top = static_cast<int>(std::trunc(peak));
        if (level >= top) {
            peak = level + 0.01;
            hold = 0;
        } else if (top > 0) {
            std::fill(SpectrumImage.Row32(kBarH - top) + x, SpectrumImage.Row32(kBarH - top) + x + 3, silver);
            if (hold >= 8) peak -= (hold - 8) * 0.3;
            if (peak < 0) peak = 0;
            else ++hold;
        }
    }
    ui->GaugePaintBox->Draw(SpectrumImage, DrawOffset.X, DrawOffset.Y);
}

} // namespace lumora
