// Frame work of the blend family (codes 0, 68, 69, 77-87) and the channel blends (39-41).

#include "engine/transitions/Compositors.h"
#include "engine/transitions/Effects.h"

namespace lumora {

namespace {

int BlendFrames(int code) {
    switch (code) {
    case 68: case 78: case 80: case 82: case 84: case 85: case 87: return 512;
    case 81: case 83: return 768;
    default: return 256;
    }
}

// The blend kind a code uses once its treatment of the old picture is over.
int BlendKind(int code) {
    switch (code) {
    case 69: case 79: case 84: case 85: return bkPeak;
    case 68: case 78: case 81: case 83: return bkDelayed;
    default: return bkLinear;
    }
}

} // namespace

void StepBlendFamily(TEffectContext& c, bool& Done) {
    int code = c.S.EffectCode;
    int n = BlendFrames(code);
    int k;
    if (!BeginTimedFrame(c, n, 0, 0, k, Done)) return;
    TBoundsRec& u = c.S.Update;
    TComposeGeometry g{c.Mon.X - u.X, c.Mon.Y - u.Y, c.NewRect.X - u.X, c.NewRect.Y - u.Y};
    TPLines& dst = FrameLines(c);
    int w = c.S.Work->Width();
    int f = c.S.FramesDrawn;
    switch (code) {
    case 0: case 68: case 69:
        CompositeBlend(dst, w, c.Old, c.New, g, f, c.Bg, k, BlendKind(code));
        break;
    case 86: ColorThrough(dst, w, c.Old, c.New, g, f, c.Bg, k); break;
    case 87: ColorThroughBlock(dst, w, c.Old, c.New, g, f, c.Bg, k); break;
    case 39: CompositeBlendRGB(dst, w, c.Old, c.New, g, f, c.Bg, k, 1); break;
    case 40: CompositeBlendRGB(dst, w, c.Old, c.New, g, f, c.Bg, k, 2); break;
    case 41: CompositeBlendRGB(dst, w, c.Old, c.New, g, f, c.Bg, k, 0); break;
    case 77: case 78: case 79:
        if (f % 4 == 0) MeltLines(c.Old, 16);
        CompositeBlend(dst, w, c.Old, c.New, g, f, c.Bg, k, BlendKind(code));
        break;
    case 80: case 81: case 84:
        if (k < 256) {
            PosterizeAndCompose(dst, w, c.Old, MakePosterTable(k / 4 + 32), f, c.Bg, g.OldY, g.OldX);
        } else {
            CompositeBlend(dst, w, c.Old, c.New, g, f, c.Bg, k - 256, BlendKind(code));
        }
        break;
    case 82: case 83: case 85:
        // Every frame drawn shifts the old rows by 2 more; they are read shifted, never moved.
        if (k < 256) {
            ShiftedCompose(dst, w, TShiftedPicture{c.Old, 2, f + 1}, c.Bg, g.OldY, g.OldX);
        } else {
            ShiftedBlend(dst, w, TShiftedPicture{c.Old, 2, f + 1}, c.New, g, f, c.Bg, k - 256, BlendKind(code));
        }
        break;
    default: break;
    }
    c.S.FramesDrawn++;
    DrawWork(c);
    EndTimedFrame(c, k, n, Done);
}

} // namespace lumora
