#pragma once
// The sound preview: plays a file of the sound folder picker through the audio player with the
// settings dialog's effects and volumes, showing a 25-band spectrum, a progress bar and the file
// name in a ticker. Also the pieces both previews share: the paint box and the dialog's mixing.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <QDialog>
#include <QWidget>

#include "audio/player/SoundEffects.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace Ui {
class SPrev;
}

namespace lumora {

class TAudioMixer;
class TAudioPlayer;
class TSaverSettings;
class TScreenSaverInhibit;

// Why a preview is silent on a machine without a sound output, under what it cannot do.
inline constexpr const char* kNoSoundOutputText = "サウンド出力を開けません";

// A box that shows a picture drawn into it.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(QWidget* parent = nullptr);
    // Copies the bitmap into the box at (x, y) and shows it.
    void Draw(const TBitmap& bitmap, int x, int y);
    // What the box shows.
    const TBitmap& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TBitmap picture_;
};

// What the previews take from the settings dialog as it stands when they open.
struct TPreviewMixing {
    bool VolContl = false;
    bool MsVolChg = false;
    int MsVol = 0, WaveVol = 0, MidiVol = 0, MuteWaveVol = 0, MuteMidiVol = 0;
    int TimeZone = 0;
    int MuteStart = 0, MuteEnd = 0; // seconds since midnight
    bool Equalizer = false, Echo = false, Reverb = false, Flanger = false;
    int EchoLevel = 16, ReverbLevel = 16;
    std::array<float, kEqBands> EqGains{};

    // Without a dialog: no volume control and no effects.
    static TPreviewMixing FromDialog(const TSaverSettings* settings);
    // The mute levels apply now (the dialog's time window holds the current time of day).
    bool MuteNow() const;
};

// Saves the mixer and opens its sources fully when the dialog controls the volume.
void BeginPreviewMixer(TAudioMixer& mixer, const TPreviewMixing& mixing);
// Restores what BeginPreviewMixer saved.
void EndPreviewMixer(TAudioMixer& mixer, const TPreviewMixing& mixing);

class TSPrev : public QDialog {
public:
    static constexpr int kGaugeW = 102, kGaugeH = 25, kBarH = 24;
    // Files smaller than this may end without an end event; a position that stops moving ends them.
    static constexpr int64_t kShortFileSize = 20000;

    TSPrev(TSaverSettings* settings, QWidget* parent = nullptr);
    ~TSPrev() override;

    Ui::SPrev* ui;
    TTimer Timer1;
    std::unique_ptr<TAudioMixer> AudioMixer1;
    std::unique_ptr<TAudioPlayer> AudioPlayer1;
    std::string FileName; // given by the picker
    std::string PlayName; // the file played: a shortcut's target
    int State = 0;        // -1 cannot play, 0 not playing, 1 playing
    bool ShortFile = false;
    int64_t LastPosition = 0;

    TBitmap BasicImage, SpectrumImage, BarImage;
    TPoint DrawOffset{0, 0};
    std::array<double, 25> Peak{};
    std::array<int, 25> Hold{};

    void FormCreate();
    void FormShow();
    void FormClose();
    void Timer1Timer();
    void AudioPlayer1PlayEnd();
    void CreateBasicImage();
    void ShowBackground();
    void DisplayFFTBand(const TBandOut& bands);
    const TPreviewMixing& Mixing() const { return mixing_; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void CloseLater();
    TPreviewMixing mixing_;
    std::unique_ptr<TScreenSaverInhibit> inhibit_;
    bool closed_ = false;
};

} // namespace lumora
