#pragma once
// What the saver window draws over the pictures: the title logo on the primary monitor with, when
// music and the spectrum are on, the 25-band spectrum or the MIDI activity scope, the track progress
// bar and the track-name ticker; and the file-name caption drawn into each picture.

#include <array>
#include <cstdint>

#include <QObject>
#include <QPointer>

#include "audio/midi/MidiScope.h"
#include "audio/player/SoundEffects.h"
#include "engine/saver/ScrollingText.h"
#include "framework/Graphics.h"

namespace lumora {

class TDesktopWindow;

// Where the parts of the spectrum logo sit, from the logo's top-left corner.
constexpr int kSpectrumX = 43, kSpectrumY = 2, kSpectrumW = 102, kSpectrumH = 25;
constexpr int kScopeX = 44, kScopeY = 2;
constexpr int kTickerX = 149, kTickerY = 8, kTickerW = 145, kTickerH = 18;
constexpr int kProgressX = 11, kProgressY = 10, kProgressW = 18, kProgressH = 2;
// Levels are drawn at most this tall; the spectrum's bottom row stays free.
constexpr int kBarHeight = 24;
// The logo keeps this far from the monitor's sides in the random positions.
constexpr int kLogoMargin = 16;

// The overlays of one saver window. It lives as long as the window (a child object of it) and is
// made on first use.
class TSaverOverlays : public QObject {
public:
    static TSaverOverlays& Of(TDesktopWindow& window);
    // The overlays of the window, or nullptr when none were made.
    static TSaverOverlays* Find(const TDesktopWindow& window);
    ~TSaverOverlays() override;

    // Moves the logo to its place for "LogoImgPos" (after each change of picture).
    void PlaceLogo();
    void ShowLogo();
    void HideLogo();
    // The progress bar, p pixels of 18 lit.
    void ShowProgress(int p);
    // The caption (the picture's path relative to the picture folder) with an outline, into picture.
    void DrawCaption(TBitmap& picture);

    void CreateBasicImage();
    void ShowBackground();
    // New spectrum levels from the audio player; position and length (ms) give the progress.
    void DisplayFFTBand(const TBandOut& bands, uint32_t position, uint32_t length);
    // A new scope picture; play time and song length (ms) of the MIDI file give the progress.
    void MidiScope1MIDIVisTData(TBitmap& bmp, int playTimeMs, int songLengthMs, int trackCount);

    // The spectrum, progress, scope and ticker are shown at all.
    bool SpectrumOn() const;

    // Children of the window; they clear themselves when the window deletes them.
    QPointer<TScrollingText> ScrollingText2;
    QPointer<TMidiScope> MidiScope1;

    // State the tests read.
    const TBitmap& SpectrumImage() const { return spectrum_; }
    const TBitmap& BarImage() const { return bar_; }
    double PeakLevel(int band) const { return peak_[static_cast<size_t>(band)]; }
    int HoldCount(int band) const { return hold_[static_cast<size_t>(band)]; }

private:
    explicit TSaverOverlays(TDesktopWindow& window);
    // Copies bmp whole to (x, y) of the form and marks it for repainting.
    void CopyToForm(const TBitmap& bmp, int x, int y);
    void FillForm(const TRect& r, TColor color);

    TDesktopWindow& window_;
    TBitmap basic_;    // the spectrum's empty navy box
    TBitmap spectrum_; // rebuilt from the basic image at every update
    TBitmap bar_;      // one band at full height, red at the top through yellow
    std::array<double, 25> peak_{};
    std::array<int, 25> hold_{};
};

} // namespace lumora
