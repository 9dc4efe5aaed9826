#include "audio/mixer/AudioMixer.h"

#include <algorithm>

namespace lumora {

namespace {

bool IsList(const TMixerControl& c) {
    return (c.ControlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
}
bool IsMultiple(const TMixerControl& c) { return (c.Control & MIXERCONTROL_CONTROLF_MULTIPLE) != 0; }
bool IsDisabled(const TMixerControl& c) { return (c.Control & MIXERCONTROL_CONTROLF_DISABLED) != 0; }
uint32_t ChannelsOf(const TMixerControl& c, const TMixerLine& line) {
    return (c.Control & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<uint32_t>(line.Channels, 1);
}
uint32_t Clamp(int value, const TMixerControl& c) {
    return static_cast<uint32_t>(std::clamp<int64_t>(value, c.Minimum, c.Maximum));
}

} // namespace

TAudioMixer::TAudioMixer() {
    window_ = std::make_unique<TMessageTarget>([this](TMessage& m) { HandleMessage(m); });
    numDevs_ = MixerDevices().NumDevs();
    if (numDevs_ > 0) SetMixerId(0);
}

TAudioMixer::~TAudioMixer() {
    CloseMixer();
    window_.reset();
}

void TAudioMixer::CloseMixer() {
    mixer_.reset();
    mixerId_ = -1;
    caps_ = TMixerCaps{};
    destinations_.clear();
}

std::string TAudioMixer::Manufacturer() const {
    return caps_.Mid == 1 ? "Microsoft" : std::to_string(caps_.Mid) + " = Unknown";
}

void TAudioMixer::SetMixerId(int id) {
    if (id < 0 || id >= numDevs_) return;
    CloseMixer();
    std::unique_ptr<IMixer> mixer;
    IMixerDevices& devices = MixerDevices();
    if (devices.Open(id, window_->Handle(), mixer) != 0 && devices.Open(id, window_->Handle(), mixer) != 0 &&
        devices.Open(id, 0, mixer) != 0)
        return;
    mixer_ = std::move(mixer);
    mixerId_ = id;
    caps_ = mixer_->Caps();
    for (uint32_t d = 0; d < caps_.Destinations; ++d) {
        TMixerDestination dest;
        if (mixer_->GetDestination(d, dest.Data) != 0) continue;
        mixer_->GetLineControls(dest.Data.LineID, dest.Controls.Items);
        for (uint32_t s = 0; s < dest.Data.Connections; ++s) {
            TMixerConnection conn;
            if (mixer_->GetSource(d, s, conn.Data) != 0) continue;
            mixer_->GetLineControls(conn.Data.LineID, conn.Controls.Items);
            dest.Connections.push_back(std::move(conn));
        }
        destinations_.push_back(std::move(dest));
    }
}

void TAudioMixer::HandleMessage(TMessage& message) {
    if (message.Msg == MM_MIXM_LINE_CHANGE && OnLineChange)
        OnLineChange(this, static_cast<int>(message.WParam), static_cast<int>(message.LParam));
    else if (message.Msg == MM_MIXM_CONTROL_CHANGE && OnControlChange)
        OnControlChange(this, static_cast<int>(message.WParam), static_cast<int>(message.LParam));
}

const TMixerControls* TAudioMixer::FindControls(int destination, int connection) const {
    if (!mixer_ || destination < 0 || destination >= static_cast<int>(destinations_.size())) return nullptr;
    const TMixerDestination& dest = destinations_[destination];
    if (connection == -1) return &dest.Controls;
    if (connection < 0 || connection >= static_cast<int>(dest.Connections.size())) return nullptr;
    return &dest.Connections[connection].Controls;
}

bool TAudioMixer::GetVolume(int destination, int connection, TMixerVolume& v) {
    v = TMixerVolume{};
    const TMixerControls* controls = FindControls(destination, connection);
    if (!controls) return false;
    const TMixerDestination& dest = destinations_[destination];
    const TMixerLine& line = connection == -1 ? dest.Data : dest.Connections[connection].Data;
    bool haveVolume = false, haveMute = false;
    for (const TMixerControl& c : controls->Items) {
        if (haveVolume && haveMute) break;
        if (IsMultiple(c)) continue;
        uint32_t channels = ChannelsOf(c, line);
        std::vector<uint32_t> values;
        if (c.ControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !haveVolume) {
            haveVolume = true;
            v.VolDisabled = IsDisabled(c);
            if (mixer_->GetControlDetails(c.ControlID, channels, 1, values) == 0) {
                v.Left = static_cast<int>(values[0]);
                v.Stereo = channels >= 2;
                v.Right = v.Stereo ? static_cast<int>(values[1]) : v.Left;
            }
        } else if (c.ControlType == MIXERCONTROL_CONTROLTYPE_MUTE && !haveMute) {
            haveMute = true;
            v.MuteDisabled = IsDisabled(c);
            if (mixer_->GetControlDetails(c.ControlID, channels, 1, values) == 0) v.Mute = values[0] ? 1 : 0;
        }
    }
    if (!haveMute && connection != -1) {
        // A source without a mute of its own is "muted" when its destination's list does not select it.
        for (const TMixerControl& c : dest.Controls.Items) {
            if (!IsList(c) || c.MultipleItems == 0) continue;
            std::vector<TMixerListText> texts;
            std::vector<uint32_t> values;
            if (mixer_->GetControlListText(c.ControlID, texts) != 0 ||
                mixer_->GetControlDetails(c.ControlID, 1, c.MultipleItems, values) != 0)
                continue;
            for (size_t i = 0; i < texts.size() && i < values.size(); ++i)
                if (texts[i].Param1 == line.LineID) {
                    v.Mute = values[i] ? 0 : 1;
                    v.MuteDisabled = IsDisabled(c);
                    v.IsSelect = true;
                    return true;
                }
        }
    }
    return true;
}

bool TAudioMixer::GetVolume(int destination, int connection, int& left, int& right, int& mute, bool& stereo,
                            bool& volDisabled, bool& muteDisabled, bool& isSelect) {
    TMixerVolume v;
    bool result = GetVolume(destination, connection, v);
    left = v.Left;
    right = v.Right;
    mute = v.Mute;
    stereo = v.Stereo;
    volDisabled = v.VolDisabled;
    muteDisabled = v.MuteDisabled;
    isSelect = v.IsSelect;
    return result;
}

bool TAudioMixer::SetVolume(int destination, int connection, int left, int right, int mute) {
    const TMixerControls* controls = FindControls(destination, connection);
    if (!controls) return false;
    const TMixerDestination& dest = destinations_[destination];
    const TMixerLine& line = connection == -1 ? dest.Data : dest.Connections[connection].Data;
    bool haveVolume = false, haveMute = false;
    for (const TMixerControl& c : controls->Items) {
        if (haveVolume && haveMute) break;
        if (IsMultiple(c)) continue;
        uint32_t channels = ChannelsOf(c, line);
        if (c.ControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !haveVolume) {
            haveVolume = true;
            if (left == -1) continue;
            std::vector<uint32_t> values(channels, Clamp(left, c));
            if (channels >= 2) values[1] = Clamp(right == -1 ? left : right, c);
            mixer_->SetControlDetails(c.ControlID, channels, 1, values);
        } else if (c.ControlType == MIXERCONTROL_CONTROLTYPE_MUTE && !haveMute) {
            haveMute = true;
            if (mute == -1) continue;
            mixer_->SetControlDetails(c.ControlID, channels, 1, std::vector<uint32_t>(channels, mute ? 1 : 0));
        }
    }
    if (!haveMute && connection != -1 && mute != -1) {
        // The source's selection in its destination's list stands for its mute: selected = sounding.
        for (const TMixerControl& c : dest.Controls.Items) {
            if (c.ControlType != MIXERCONTROL_CONTROLTYPE_MIXER && c.ControlType != MIXERCONTROL_CONTROLTYPE_MUX) continue;
            if (c.MultipleItems == 0) continue;
            std::vector<TMixerListText> texts;
            std::vector<uint32_t> values;
            if (mixer_->GetControlListText(c.ControlID, texts) != 0 ||
                mixer_->GetControlDetails(c.ControlID, 1, c.MultipleItems, values) != 0)
                continue;
            auto item = std::find_if(texts.begin(), texts.end(), [&](const TMixerListText& t) { return t.Param1 == line.LineID; });
            if (item == texts.end() || size_t(item - texts.begin()) >= values.size()) continue;
            size_t index = item - texts.begin();
            uint32_t selected = mute ? 0 : 1;
            if (c.ControlType == MIXERCONTROL_CONTROLTYPE_MUX) {
                // A multiplexer always selects exactly one source: selecting this one deselects the
                // others, and it cannot be deselected by itself.
                if (!selected) break;
                std::fill(values.begin(), values.end(), 0);
            }
            values[index] = selected;
            mixer_->SetControlDetails(c.ControlID, 1, c.MultipleItems, values);
            break;
        }
    }
    return true;
}

} // namespace lumora
