#pragma once
// The contract between the transition engine and its effect families: what one idle call hands a
// family, the shared drawing helpers, and one step routine per family.

#include <cstdint>
#include <vector>

#include "engine/transitions/EffectsPixel.h"
#include "engine/transitions/Transition.h"

namespace lumora {

// Caches kept for the length of one transition.
struct TEffectScratch {
    // The form rows behind the update rectangle, when the rectangle lies wholly inside the form:
    // frames are then composed straight into the form instead of being copied there from the work
    // bitmap (the form holds exactly what the work bitmap would).
    TPLines FormLines;
    bool Direct = false;
    bool Synced = false;
    bool OldWasEmpty = false; // the old picture was empty when the transition was prepared
    std::vector<uint32_t> Row; // a row buffer for routines that read a row while writing it
    TWarpCache Warp;           // per-block geometry of the fisheye and the twist
};

// What one idle call hands a family.
struct TEffectContext {
    TTransitionEngine& Engine;
    ITransitionHost& Host;
    TTransitionState& S;
    TMonitorRec& Mon;
    TBitmap& Form;
    TBitmap& Old; // the current monitor's last picture
    TBitmap& New; // the current picture
    TBoundsRec& NewRect;
    uint32_t Now;   // timeGetTime at the start of the call
    int Speed;      // "ChgSpeed", 0..10
    TColor Bg;      // "BackGround"
    uint32_t BgPix; // the background as a pixel
    bool Preview;

    TRect U() const { return MakeBoundsRect(S.Update); }
    TRect OldRect() const { return MakeBoundsRect(Mon.X, Mon.Y, Mon.W, Mon.H); }
    TRect NewRc() const { return MakeBoundsRect(NewRect); }
    bool OldEmpty() const { return Old.Width() <= 0 || Old.Height() <= 0; }
    bool NewEmpty() const { return New.Width() <= 0 || New.Height() <= 0; }
};

// ---- Shared helpers (Transition.cpp) ----

// Calls EndTransition once; later calls do nothing.
void EndNow(TEffectContext& c);
// The frame of the timing model for n frames; extraMs lengthens the duration.
int TimedFrame(const TEffectContext& c, int n, int extraMs = 0);
// The timing model for one call: k := the frame for n frames plus a head start (capped at n).
// Returns false when k is the frame drawn last: the call then only waits, and ends the transition
// when k has reached n.
bool BeginTimedFrame(TEffectContext& c, int n, int headStart, int extraMs, int& k, bool& Done);
// After frame k was drawn: records it, waits, and ends the transition when k has reached n.
void EndTimedFrame(TEffectContext& c, int k, int n, bool& Done);
// The rows a frame is composed into: the form's rows behind the update rectangle when it lies
// inside the form (brought up to date with the work bitmap on first use), else the work bitmap's.
TPLines& FrameLines(TEffectContext& c);
// Shows the frame: copies the work bitmap to the form at the update rectangle's corner (nothing to
// copy when the frame was composed in place) and marks the area for repainting.
void DrawWork(TEffectContext& c);
// Fills r (clipped to the form) with a pixel value and marks it.
void FillForm(TEffectContext& c, const TRect& r, uint32_t pixel);
// Moves the form's content by (dx, dy): only pixels inside clip change; those whose source lies
// beyond the form get the background.
void ScrollForm(TEffectContext& c, int dx, int dy, const TRect& clip);
// The part of outer outside inner, in the pattern of the phase (0..4; others draw nothing).
void InterlaceBorder(TEffectContext& c, const TRect& outer, const TRect& inner, int phase);
// Whether r meets the old or the new picture's rectangle.
bool MeetsPicture(const TEffectContext& c, const TRect& r);
// Clamped form rectangle.
TRect FormRect(const TEffectContext& c);

// ---- Families ----

// Codes 0, 39-41, 68, 69, 77-87.
void StepBlendFamily(TEffectContext& c, bool& Done);
// Codes 1-20, 60-62.
void StepRevealFamily(TEffectContext& c, bool& Done);
// Codes 31-38, 54-59.
void StepScrollFamily(TEffectContext& c, bool& Done);
// Codes 27-30.
void StepStretchFamily(TEffectContext& c, bool& Done);
// Codes 21-26, 42-53, 63-67, 70-76.
void StepPixelFamily(TEffectContext& c, bool& Done);

// Set-up that needs pixel work (EffectsPixel.cpp): the wave amplitude table and the converted copy.
void BuildWaveTable(std::array<int, 256>& table, int amplitude);
void ConvertPicture(TBitmap& picture, int code);

enum class TFamily { None, Blend, Reveal, Scroll, Stretch, Pixel };
TFamily FamilyOf(int code);

} // namespace lumora
