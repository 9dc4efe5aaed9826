#pragma once
// The MIDI activity scope: a small picture of which notes sound on which of the 16 channels,
// handed to its owner every 25 ms while active. The owner draws the picture where it wants; the
// control paints nothing of its own at run time.

#include <array>
#include <functional>

#include <QWidget>

#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace lumora {

class TMidiScope;
using TNotifyMIDIVisEvent = std::function<void(TMidiScope* sender, TBitmap& bmp)>;

class TMidiScope : public QWidget {
public:
    static constexpr int kWidth = 101;
    static constexpr int kHeight = 25;

    explicit TMidiScope(QWidget* parent = nullptr);

    bool Active() const { return active_; }
    void SetActive(bool active);
    // Channel messages: $8n ends a note, $9n sets its level to the velocity; other statuses and
    // note numbers of 128 and above are ignored. Only while the control is visible.
    void NoteEvent(uint8_t status, uint8_t data1, uint8_t data2);

    int Level(int channel, int note) const;
    TBitmap& Bitmap() { return bitmap_; }
    bool Visible() const { return visible_; }
    void setVisible(bool visible) override;

    // The channel colours, channel 0 red through to channel 15 white.
    static TColor ChannelColor(int channel);

    TNotifyMIDIVisEvent OnMIDIVisTData;
    TTimer Timer1;

private:
    void DrawCell(int channel, int note);
    void Timer1Timer();

    bool active_ = false;
    bool visible_ = true;
    std::array<std::array<int, 128>, 16> levels_{};
    TBitmap bitmap_;
};

} // namespace lumora
