#pragma once
// The transition engine: prepares the change from a monitor's last picture to the new one and draws
// one frame of the chosen effect per idle call on the saver window's framebuffer.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Common.h"
#include "engine/transitions/EffectTable.h"
#include "framework/Graphics.h"

namespace lumora {

// One monitor shown by the saver window. Coordinates are relative to the top-left corner of the
// area the form covers.
struct TMonitorRec {
    TRect LastUpdate;  // the area the last transition on this monitor repainted
    TRect EffectDirty; // the update rectangle clipped to the form's client area
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::unique_ptr<TBitmap> Bitmap = std::make_unique<TBitmap>(); // the last picture shown here
    int X = 0, Y = 0, W = 0, H = 0;                                 // where that picture stands
};

// Caches a family may keep for the length of one transition (geometry tables, row buffers).
struct TEffectScratch;

// Everything one transition reads and writes. The preparation resets it; the effect families keep
// their progress here and nowhere else.
struct TTransitionState {
    TTransitionState();
    ~TTransitionState();
    TTransitionState(const TTransitionState&) = delete;
    TTransitionState& operator=(const TTransitionState&) = delete;

    uint8_t EffectCode = NoEffectCode; // 0..87, NoEffectCode = none
    uint32_t StartTime = 0;        // timeGetTime at the preparation
    int LastFrame = -1;            // the frame drawn last (a position for the step families)
    int FrameCount = 0;
    int FramesDrawn = 0;
    int DoneCount = 0;
    int BlockW = 0, BlockH = 0, Column = 0, Row = 0, Ring = 0, Side = 0, Position = 0, Step = 0;
    int CompressW = 0, BandSize = 0, CellSize = 0;
    TPLines WorkLines, OldLines, NewLines;
    std::unique_ptr<TBitmap> Work = std::make_unique<TBitmap>(); // pf32bit, covers the update rectangle
    TBoundsRec Update;                                                 // the area of the form repainted
    std::array<int, 256> WaveAmp{};                               // wave amplitude table
    bool Ended = false;                                           // EndTransition has been called
    std::unique_ptr<TEffectScratch> Scratch;
};

// What the engine needs from the saver window. The window implements it; tests use a fake.
class ITransitionHost {
public:
    virtual ~ITransitionHost() = default;
    // The form's framebuffer (its client area, pf32bit) and the call that marks part of it for repainting.
    virtual TBitmap& FormBitmap() = 0;
    virtual void InvalidateFormRect(const TRect& rect) = 0;
    // Settings: "BackGround" as a plain RGB colour, "ChgSpeed" (the engine clamps it to 0..10), "PosRandom".
    virtual TColor BackGround() = 0;
    virtual int ChgSpeed() = 0;
    virtual bool PosRandom() = 0;
    virtual bool IsPreview() = 0;
    // The logo: its bitmap's height, where it stands, the monitor it is on, and taking it off the screen.
    virtual int LogoHeight() = 0;
    virtual TRect LogoRect() = 0;
    virtual int LogoMonitor() = 0;
    virtual void HideLogo() = 0;
    virtual std::vector<TMonitorRec>& Monitors() = 0;
    virtual int CurrentMonitor() = 0;
    // The picture being changed to (pf32bit, may be empty) and where it stands on the form; the
    // preparation writes the rectangle.
    virtual TBitmap& CurrentPicture() = 0;
    virtual TBoundsRec& NewPictureRect() = 0;
    virtual void DrawCaption() = 0;
    // Draws the current picture whole at its rectangle, the rest of the update rectangle in the
    // background colour (TTransitionEngine::DrawPicture does exactly this pixel work).
    virtual void DrawPicture() = 0;
    // Called once by the step that finishes: removes the idle handler, draws the picture whole and
    // goes on with the picture cycle.
    virtual void EndTransition() = 0;
    virtual bool NoPictures() = 0;
    virtual int EnabledEffectCount() = 0;
};

// Owned by the saver window. PrepareTransition sets a transition up; the window then installs
// TransitionStep as the application's idle handler.
class TTransitionEngine {
public:
    explicit TTransitionEngine(ITransitionHost& host);
    ~TTransitionEngine();
    TTransitionEngine(const TTransitionEngine&) = delete;
    TTransitionEngine& operator=(const TTransitionEngine&) = delete;

    uint8_t EffectCode() const { return state_.EffectCode; }
    void SetEffectCode(uint8_t code) { state_.EffectCode = code; }
    TTransitionState& State() { return state_; }
    ITransitionHost& Host() { return host_; }

    void PrepareTransition();
    // One frame (or step) per call; Done := false whenever it drew or waited.
    void TransitionStep(bool& Done);

    // Reveal services on the form, all clipped to the update rectangle and the form.
    // R's part that meets the new picture shows that picture, the rest the background colour.
    void AreaCopy(const TRect& r);
    // What AreaCopy(r) would draw, drawn at r moved by (dx, dy).
    void AreaCopy(const TRect& r, int dx, int dy);
    // As AreaCopy, from the current monitor's (or the given monitor's) last picture (takes the logo
    // off the screen).
    void RestoreArea(const TRect& r);
    void RestoreArea(const TRect& r, int monitor);
    // The current picture whole at its rectangle, the rest of the update rectangle in the background.
    void DrawPicture();
    // Row tables of the work bitmap, the current monitor's last picture and the current picture.
    void MakeScanLines();

    // Timing model. Duration in milliseconds of a time-based transition at a "ChgSpeed".
    static int Duration(int chgSpeed);
    // The frame index for n frames after elapsed of duration milliseconds: nearest, ties to even, capped.
    static int FrameAt(int n, uint32_t elapsed, int duration);

private:
    ITransitionHost& host_;
    TTransitionState state_;
};

} // namespace lumora
