#include "audio/midi/MidiScope.h"

namespace lumora {

namespace {
constexpr TColor kChannelColors[16] = {0x0000FF, 0x001FFF, 0x003FFF, 0x007FFF, 0x00BFFF, 0x00FFFF,
                                       0x00FFBF, 0x00FF7F, 0x00FF3F, 0x00FF1F, 0x00FF00, 0x1FFF1F,
                                       0x3FFF3F, 0x7FFF7F, 0xBFFFBF, 0xFFFFFF};
} // namespace

TColor TMidiScope::ChannelColor(int channel) { return kChannelColors[channel & 15]; }

TMidiScope::TMidiScope(QWidget* parent) : QWidget(parent), bitmap_(kWidth, kHeight, TPixelFormat::pf32bit) {
    setFixedSize(kWidth, kHeight);
    Timer1.SetEnabled(false);
    Timer1.SetInterval(25);
    Timer1.OnTimer = [this] { Timer1Timer(); };
    bitmap_.Canvas().Brush.Color = clNavy;
    bitmap_.Canvas().FillRect(TRect{0, 0, kWidth, kHeight});
}

void TMidiScope::setVisible(bool visible) {
    visible_ = visible;
    QWidget::setVisible(visible);
}

void TMidiScope::SetActive(bool active) {
    if (active == active_) return;
    active_ = active;
    Timer1.SetEnabled(active);
    bitmap_.Canvas().Brush.Color = clNavy;
    bitmap_.Canvas().FillRect(TRect{0, 0, kWidth, kHeight});
}

int TMidiScope::Level(int channel, int note) const {
    if (channel < 0 || channel > 15 || note < 0 || note > 127) return 0;
    return levels_[channel][note];
}

void TMidiScope::NoteEvent(uint8_t status, uint8_t data1, uint8_t data2) {
    if (!visible_ || data1 >= 128) return;
    int channel = status & 15;
    switch (status & 0xF0) {
    case 0x80: levels_[channel][data1] = 0; break;
    case 0x90: levels_[channel][data1] = data2; break;
    default: return;
    }
    if (active_) DrawCell(channel, data1);
}

// A note's cell is 4 pixels wide at x = note - 16, 4 rows tall from y = channel + 2; its coloured
// part grows up from the cell's foot by level / 32 rows. Cells of neighbouring channels overlap.
void TMidiScope::DrawCell(int channel, int note) {
    TCanvas& canvas = bitmap_.Canvas();
    canvas.Brush.Color = clNavy;
    canvas.FillRect(TRect{note - 16, channel + 2, note - 12, channel + 6});
    int rows = levels_[channel][note] / 32;
    if (rows <= 0) return;
    canvas.Brush.Color = ChannelColor(channel);
    canvas.FillRect(TRect{note - 16, channel + 6 - rows, note - 12, channel + 6});
}

void TMidiScope::Timer1Timer() {
    if (OnMIDIVisTData) OnMIDIVisTData(this, bitmap_);
}

} // namespace lumora
