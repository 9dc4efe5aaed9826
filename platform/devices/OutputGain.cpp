#include "platform/devices/OutputGain.h"

namespace lumora {

std::atomic<uint64_t>& OutputGainWord() {
    static std::atomic<uint64_t> word{kOutputGainFull};
    return word;
}

uint16_t OutputGainLeft() { return static_cast<uint16_t>(OutputGainWord().load() & 0xFFFF); }
uint16_t OutputGainRight() { return static_cast<uint16_t>((OutputGainWord().load() >> 16) & 0xFFFF); }
bool OutputGainMuted() { return (OutputGainWord().load() & kOutputGainMuted) != 0; }

void SetOutputGain(uint16_t left, uint16_t right) {
    uint64_t old = OutputGainWord().load();
    while (!OutputGainWord().compare_exchange_weak(old, (old & kOutputGainMuted) | PackOutputGain(left, right, false))) {
    }
}

void SetOutputGainMuted(bool muted) {
    if (muted)
        OutputGainWord().fetch_or(kOutputGainMuted);
    else
        OutputGainWord().fetch_and(~kOutputGainMuted);
}

} // namespace lumora
