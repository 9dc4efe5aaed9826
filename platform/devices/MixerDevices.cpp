#include "platform/devices/MixerDevices.h"

#include <alsa/asoundlib.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/devices/AlsaErrors.h"
#include "platform/devices/Devices.h"
#include "platform/devices/OutputGain.h"

namespace lumora {

uint32_t ScaleToMixer(long raw, long minimum, long maximum) {
    if (maximum <= minimum) return 0;
    raw = std::clamp(raw, minimum, maximum);
    double v = double(raw - minimum) * 65535.0 / double(maximum - minimum);
    return static_cast<uint32_t>(std::llround(v));
}

long ScaleFromMixer(uint32_t value, long minimum, long maximum) {
    if (maximum <= minimum) return minimum;
    value = std::min<uint32_t>(value, 65535);
    return minimum + static_cast<long>(std::llround(double(value) * double(maximum - minimum) / 65535.0));
}

// ---- a device as lines and controls ----

namespace {

struct ControlModel {
    TMixerControl Info;
    uint32_t Channels = 1; // stored channels (1 when uniform)
    uint32_t Items = 1;
    std::vector<TMixerListText> Texts;
    std::string LineName;
    std::string Kind; // "volume", "mute" or "select", for the logs and the state file
    std::function<std::vector<uint32_t>()> Read;
    std::function<bool(const std::vector<uint32_t>&)> Write;
};

struct LineModel {
    TMixerLine Line;
    std::vector<uint32_t> Controls; // control ids
    std::vector<LineModel> Sources;
};

struct DeviceModel {
    TMixerCaps Caps;
    std::vector<LineModel> Destinations;
    std::vector<ControlModel> Controls; // id = index

    // Adds a control to a line and returns its id.
    uint32_t AddControl(LineModel& line, ControlModel control) {
        control.Info.ControlID = static_cast<uint32_t>(Controls.size());
        control.LineName = line.Line.Name;
        line.Controls.push_back(control.Info.ControlID);
        line.Line.Controls = static_cast<uint32_t>(line.Controls.size());
        Controls.push_back(std::move(control));
        return Controls.back().Info.ControlID;
    }
    // Numbers the lines once all are added.
    void Finish() {
        Caps.Destinations = static_cast<uint32_t>(Destinations.size());
        for (uint32_t d = 0; d < Destinations.size(); ++d) {
            LineModel& dest = Destinations[d];
            dest.Line.Destination = d;
            dest.Line.LineID = 0xFFFF0000u | d;
            dest.Line.Connections = static_cast<uint32_t>(dest.Sources.size());
            for (uint32_t s = 0; s < dest.Sources.size(); ++s) {
                dest.Sources[s].Line.Destination = d;
                dest.Sources[s].Line.Source = s;
                dest.Sources[s].Line.LineID = (s << 16) | d;
            }
        }
    }
    const LineModel* FindLine(uint32_t lineID) const {
        for (const auto& dest : Destinations) {
            if (dest.Line.LineID == lineID) return &dest;
            for (const auto& src : dest.Sources)
                if (src.Line.LineID == lineID) return &src;
        }
        return nullptr;
    }
};

ControlModel VolumeControl(uint32_t channels, bool disabled) {
    ControlModel c;
    c.Info.ControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    c.Info.Control = (channels == 1 ? uint32_t(MIXERCONTROL_CONTROLF_UNIFORM) : 0u) |
                     (disabled ? uint32_t(MIXERCONTROL_CONTROLF_DISABLED) : 0u);
    c.Info.Name = "Volume";
    c.Info.Maximum = 65535;
    c.Channels = channels;
    c.Kind = "volume";
    return c;
}

ControlModel MuteControl(bool disabled) {
    ControlModel c;
    c.Info.ControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    c.Info.Control = MIXERCONTROL_CONTROLF_UNIFORM | (disabled ? uint32_t(MIXERCONTROL_CONTROLF_DISABLED) : 0u);
    c.Info.Name = "Mute";
    c.Info.Maximum = 1;
    c.Kind = "mute";
    return c;
}

// Control calls common to the real and the fake devices.
class ModelMixer : public IMixer {
public:
    explicit ModelMixer(DeviceModel& model) : model_(model) {}

    TMixerCaps Caps() override { return model_.Caps; }

    int GetDestination(uint32_t destination, TMixerLine& line) override {
        if (destination >= model_.Destinations.size()) return MIXERR_INVALLINE;
        line = model_.Destinations[destination].Line;
        return 0;
    }

    int GetSource(uint32_t destination, uint32_t source, TMixerLine& line) override {
        if (destination >= model_.Destinations.size()) return MIXERR_INVALLINE;
        const auto& sources = model_.Destinations[destination].Sources;
        if (source >= sources.size()) return MIXERR_INVALLINE;
        line = sources[source].Line;
        return 0;
    }

    int GetLineControls(uint32_t lineID, std::vector<TMixerControl>& controls) override {
        const LineModel* line = model_.FindLine(lineID);
        if (!line) return MIXERR_INVALLINE;
        controls.clear();
        for (uint32_t id : line->Controls) controls.push_back(model_.Controls[id].Info);
        return 0;
    }

    int GetControlDetails(uint32_t controlID, uint32_t channels, uint32_t items,
                          std::vector<uint32_t>& values) override {
        if (controlID >= model_.Controls.size()) return MIXERR_INVALCONTROL;
        ControlModel& c = model_.Controls[controlID];
        if (channels == 0 || items != c.Items) return MIXERR_INVALVALUE;
        std::vector<uint32_t> stored = c.Read();
        values.assign(size_t(channels) * items, 0);
        // Asking a single-channel control for more channels repeats its value, as the system does.
        for (uint32_t ch = 0; ch < channels; ++ch)
            for (uint32_t i = 0; i < items; ++i)
                values[size_t(ch) * items + i] = stored[size_t(std::min(ch, c.Channels - 1)) * items + i];
        return 0;
    }

    int GetControlListText(uint32_t controlID, std::vector<TMixerListText>& items) override {
        if (controlID >= model_.Controls.size()) return MIXERR_INVALCONTROL;
        const ControlModel& c = model_.Controls[controlID];
        if ((c.Info.ControlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_LIST) return MIXERR_INVALCONTROL;
        items = c.Texts;
        return 0;
    }

    int SetControlDetails(uint32_t controlID, uint32_t channels, uint32_t items,
                          const std::vector<uint32_t>& values) override {
        if (controlID >= model_.Controls.size()) return MIXERR_INVALCONTROL;
        ControlModel& c = model_.Controls[controlID];
        if (channels == 0 || items != c.Items || values.size() < size_t(channels) * items) return MIXERR_INVALVALUE;
        // One channel given sets every channel.
        std::vector<uint32_t> stored(size_t(c.Channels) * c.Items);
        for (uint32_t ch = 0; ch < c.Channels; ++ch)
            for (uint32_t i = 0; i < c.Items; ++i)
                stored[size_t(ch) * c.Items + i] = values[size_t(std::min(ch, channels - 1)) * items + i];
        for (uint32_t& v : stored) {
            if (v > c.Info.Maximum) return MIXERR_INVALVALUE;
        }
        if (c.Info.ControlType == MIXERCONTROL_CONTROLTYPE_MUX &&
            std::count_if(stored.begin(), stored.end(), [](uint32_t v) { return v != 0; }) != 1)
            return MIXERR_INVALVALUE; // a multiplexer always has exactly one item selected
        return Store(c, stored);
    }

protected:
    virtual int Store(ControlModel& c, const std::vector<uint32_t>& values) { return c.Write(values) ? 0 : MIXERR_ERROR; }
    DeviceModel& model_;
};

// A line that drives the process-wide output gain.
void AddGainControls(DeviceModel& model, LineModel& line) {
    ControlModel volume = VolumeControl(2, false);
    volume.Read = [] { return std::vector<uint32_t>{OutputGainLeft(), OutputGainRight()}; };
    volume.Write = [](const std::vector<uint32_t>& v) {
        SetOutputGain(static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]));
        return true;
    };
    model.AddControl(line, std::move(volume));
    ControlModel mute = MuteControl(false);
    mute.Read = [] { return std::vector<uint32_t>{OutputGainMuted() ? 1u : 0u}; };
    mute.Write = [](const std::vector<uint32_t>& v) {
        SetOutputGainMuted(v[0] != 0);
        return true;
    };
    model.AddControl(line, std::move(mute));
}

LineModel GainLine() {
    LineModel line;
    line.Line.Name = "Wave";
    line.Line.ComponentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    line.Line.Channels = 2;
    return line;
}

// ---- the ALSA mixer ----

uint32_t SourceTypeByName(const std::string& name) {
    std::string n = name;
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto starts = [&](const char* prefix) { return n.rfind(prefix, 0) == 0; };
    if (starts("pcm") || starts("wave")) return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    if (starts("synth") || starts("midi") || starts("fm")) return MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
    if (starts("cd")) return MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    if (starts("line")) return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    if (starts("mic")) return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (starts("beep") || starts("pc speaker")) return MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER;
    if (starts("aux")) return MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
    if (starts("phone")) return MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE;
    if (starts("iec958") || starts("spdif") || starts("digital")) return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    if (starts("video") || starts("analog")) return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

// The last value set on a channel and the raw value it became, so that reading gives it back exactly.
struct ChannelCache {
    bool Valid = false;
    long Raw = 0;
    uint32_t Value = 0;
};

class AlsaMixer : public ModelMixer {
public:
    AlsaMixer(int id, snd_mixer_t* handle, HWND callback) : ModelMixer(ownModel_), id_(id), handle_(handle), callback_(callback) {}
    ~AlsaMixer() override {
        notifiers_.clear();
        if (handle_) snd_mixer_close(handle_);
    }

    void Build(const std::string& productName, bool addGainLine) {
        ownModel_.Caps.ProductName = productName;
        std::vector<snd_mixer_elem_t*> elems;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_is_active(e) &&
                (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e)))
                elems.push_back(e);
        snd_mixer_elem_t* master = nullptr;
        for (auto* e : elems)
            if (std::string(snd_mixer_selem_get_name(e)) == "Master") master = e;
        if (!master)
            for (auto* e : elems) {
                uint32_t type = SourceTypeByName(snd_mixer_selem_get_name(e));
                if (snd_mixer_selem_has_playback_volume(e) && type == MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED) {
                    master = e;
                    break;
                }
            }
        if (!master && !addGainLine) {
            ownModel_.Finish();
            return;
        }
        LineModel dest;
        dest.Line.ComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        dest.Line.Name = master ? snd_mixer_selem_get_name(master) : "Master";
        if (master) AddElementControls(dest, master);
        bool hasWave = false;
        for (auto* e : elems) {
            if (e == master) continue;
            LineModel src;
            src.Line.Name = snd_mixer_selem_get_name(e);
            src.Line.ComponentType = SourceTypeByName(src.Line.Name);
            hasWave |= src.Line.ComponentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
            AddElementControls(src, e);
            dest.Sources.push_back(std::move(src));
        }
        if (addGainLine && !hasWave) {
            LineModel gain = GainLine();
            AddGainControls(ownModel_, gain);
            dest.Sources.push_back(std::move(gain));
        }
        ownModel_.Destinations.push_back(std::move(dest));
        ownModel_.Finish();
        WatchChanges();
    }

private:
    void AddElementControls(LineModel& line, snd_mixer_elem_t* e) {
        bool stereo = !snd_mixer_selem_is_playback_mono(e) &&
                      snd_mixer_selem_has_playback_channel(e, SND_MIXER_SCHN_FRONT_RIGHT);
        line.Line.Channels = stereo ? 2 : 1;
        if (snd_mixer_selem_has_playback_volume(e)) {
            uint32_t channels = stereo && !snd_mixer_selem_has_playback_volume_joined(e) ? 2 : 1;
            ControlModel volume = VolumeControl(channels, false);
            auto caches = std::make_shared<std::vector<ChannelCache>>(channels);
            snd_mixer_t* handle = handle_;
            volume.Read = [handle, e, channels, caches] {
                // Changes made by other programs reach the element only through pending events.
                snd_mixer_handle_events(handle);
                long lo = 0, hi = 0;
                snd_mixer_selem_get_playback_volume_range(e, &lo, &hi);
                std::vector<uint32_t> values(channels);
                for (uint32_t ch = 0; ch < channels; ++ch) {
                    long raw = 0;
                    snd_mixer_selem_get_playback_volume(e, static_cast<snd_mixer_selem_channel_id_t>(ch), &raw);
                    ChannelCache& cache = (*caches)[ch];
                    if (!cache.Valid || cache.Raw != raw) cache = ChannelCache{true, raw, ScaleToMixer(raw, lo, hi)};
                    values[ch] = cache.Value;
                }
                return values;
            };
            volume.Write = [e, channels, caches](const std::vector<uint32_t>& values) {
                long lo = 0, hi = 0;
                snd_mixer_selem_get_playback_volume_range(e, &lo, &hi);
                bool ok = true;
                for (uint32_t ch = 0; ch < channels; ++ch) {
                    ChannelCache& cache = (*caches)[ch];
                    long raw = cache.Valid && cache.Value == values[ch] ? cache.Raw : ScaleFromMixer(values[ch], lo, hi);
                    int err = channels == 1 ? snd_mixer_selem_set_playback_volume_all(e, raw)
                                            : snd_mixer_selem_set_playback_volume(
                                                  e, static_cast<snd_mixer_selem_channel_id_t>(ch), raw);
                    ok &= err >= 0;
                    long actual = raw;
                    snd_mixer_selem_get_playback_volume(e, static_cast<snd_mixer_selem_channel_id_t>(ch), &actual);
                    cache = ChannelCache{true, actual, values[ch]};
                }
                return ok;
            };
            ownModel_.AddControl(line, std::move(volume));
        }
        if (snd_mixer_selem_has_playback_switch(e)) {
            ControlModel mute = MuteControl(false);
            mute.Read = [handle = handle_, e] {
                snd_mixer_handle_events(handle);
                int on = 1;
                snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on);
                return std::vector<uint32_t>{on ? 0u : 1u};
            };
            mute.Write = [e](const std::vector<uint32_t>& v) {
                return snd_mixer_selem_set_playback_switch_all(e, v[0] ? 0 : 1) >= 0;
            };
            ownModel_.AddControl(line, std::move(mute));
        }
    }

    // Changes made by others arrive as events on the mixer's descriptors; each becomes a control
    // change notice to the callback target.
    void WatchChanges() {
        if (!callback_) return;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e; e = snd_mixer_elem_next(e)) {
            snd_mixer_elem_set_callback_private(e, this);
            snd_mixer_elem_set_callback(e, [](snd_mixer_elem_t* elem, unsigned int mask) -> int {
                auto* self = static_cast<AlsaMixer*>(snd_mixer_elem_get_callback_private(elem));
                if (self && (mask & SND_CTL_EVENT_MASK_VALUE)) self->ElementChanged(elem);
                return 0;
            });
        }
        int count = snd_mixer_poll_descriptors_count(handle_);
        if (count <= 0) return;
        std::vector<pollfd> fds(count);
        count = snd_mixer_poll_descriptors(handle_, fds.data(), count);
        for (int i = 0; i < count; ++i) {
            auto notifier = std::make_unique<QSocketNotifier>(fds[i].fd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { snd_mixer_handle_events(handle_); });
            notifiers_.push_back(std::move(notifier));
        }
    }

    void ElementChanged(snd_mixer_elem_t* elem) {
        std::string name = snd_mixer_selem_get_name(elem);
        for (const ControlModel& c : ownModel_.Controls)
            if (c.LineName == name) PostMessage(callback_, MM_MIXM_CONTROL_CHANGE, id_, c.Info.ControlID);
    }

    DeviceModel ownModel_;
    int id_;
    snd_mixer_t* handle_;
    HWND callback_;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
};

snd_mixer_t* OpenAlsaMixer(const std::string& name) {
    HoldBackAlsaErrors();
    snd_mixer_t* handle = nullptr;
    if (snd_mixer_open(&handle, 0) < 0) return nullptr;
    int err = snd_mixer_attach(handle, name.c_str());
    if (err < 0 || (err = snd_mixer_selem_register(handle, nullptr, nullptr)) < 0 || (err = snd_mixer_load(handle)) < 0) {
        ReportMissingAlsaDevice("mixer " + name, err);
        snd_mixer_close(handle);
        return nullptr;
    }
    return handle;
}

std::string CardName(int card) {
    char* name = nullptr;
    std::string result = "Card " + std::to_string(card);
    if (snd_card_get_name(card, &name) >= 0 && name) {
        result = name;
        std::free(name);
    }
    return result;
}

class AlsaMixerDevices : public IMixerDevices {
public:
    int NumDevs() override {
        cards_.clear();
        for (int card = -1; snd_card_next(&card) >= 0 && card >= 0;) cards_.push_back(card);
        listed_ = true;
        return 1 + static_cast<int>(cards_.size()); // device 0 exists even without a sound system
    }

    int GetDevCaps(int id, TMixerCaps& caps) override {
        std::unique_ptr<IMixer> mixer;
        if (int code = Open(id, 0, mixer)) return code;
        caps = mixer->Caps();
        return 0;
    }

    int Open(int id, HWND callback, std::unique_ptr<IMixer>& result) override {
        if (!listed_) NumDevs();
        if (id < 0 || id > static_cast<int>(cards_.size())) return MIXERR_BADDEVICEID;
        std::string name = id == 0 ? "default" : "hw:" + std::to_string(cards_[id - 1]);
        snd_mixer_t* handle = OpenAlsaMixer(name);
        if (!handle && id > 0) return MIXERR_NODRIVER;
        std::string product = id == 0 ? (handle ? "Default" : "Software output") : CardName(cards_[id - 1]);
        if (id == 0 && handle && !cards_.empty()) product = "Default (" + CardName(cards_.front()) + ")";
        if (!handle) {
            // No sound system: only our own output's gain is there to control.
            auto mixer = std::make_unique<SoftwareMixer>();
            result = std::move(mixer);
            return 0;
        }
        auto mixer = std::make_unique<AlsaMixer>(id, handle, callback);
        mixer->Build(product, id == 0);
        result = std::move(mixer);
        return 0;
    }

private:
    class SoftwareMixer : public ModelMixer {
    public:
        SoftwareMixer() : ModelMixer(ownModel_) {
            ownModel_.Caps.ProductName = "Software output";
            LineModel dest;
            dest.Line.Name = "Master";
            dest.Line.ComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
            dest.Line.Channels = 2;
            LineModel gain = GainLine();
            AddGainControls(ownModel_, gain);
            dest.Sources.push_back(std::move(gain));
            ownModel_.Destinations.push_back(std::move(dest));
            ownModel_.Finish();
        }

    private:
        DeviceModel ownModel_;
    };

    bool listed_ = false;
    std::vector<int> cards_;
};

} // namespace

std::unique_ptr<IMixerDevices> CreateAlsaMixerDevices() { return std::make_unique<AlsaMixerDevices>(); }

// ---- the fake ----

std::string DefaultFakeMixerConfig() {
    return "mixer \"Fake Mixer\"\n"
           "destination \"Master\" speakers volume=49152 mute=0\n"
           "source \"PCM\" waveout volume=45000 mute=0 gain\n"
           "source \"Synth\" synthesizer volume=40000 mute=0\n"
           "source \"CD\" compactdisc volume=30000\n"
           "source \"Line\" line volume=20000 mute=1\n"
           "destination \"Recording\" wavein mono volume=30000 mux select=0\n"
           "source \"Mic\" microphone mono volume=10000\n"
           "source \"Line In\" line mono volume=10000\n";
}

struct TFakeMixerDevices::Model {
    DeviceModel Device;
    std::vector<std::vector<uint32_t>> Values; // per control id
};

namespace {

bool ComponentTypeByName(const std::string& name, bool destination, uint32_t& type) {
    static const std::map<std::string, uint32_t> dst = {
        {"undefined", MIXERLINE_COMPONENTTYPE_DST_UNDEFINED}, {"digital", MIXERLINE_COMPONENTTYPE_DST_DIGITAL},
        {"line", MIXERLINE_COMPONENTTYPE_DST_LINE},           {"monitor", MIXERLINE_COMPONENTTYPE_DST_MONITOR},
        {"speakers", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS},   {"headphones", MIXERLINE_COMPONENTTYPE_DST_HEADPHONES},
        {"telephone", MIXERLINE_COMPONENTTYPE_DST_TELEPHONE}, {"wavein", MIXERLINE_COMPONENTTYPE_DST_WAVEIN},
        {"voicein", MIXERLINE_COMPONENTTYPE_DST_VOICEIN}};
    static const std::map<std::string, uint32_t> src = {
        {"undefined", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},     {"digital", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"line", MIXERLINE_COMPONENTTYPE_SRC_LINE},               {"microphone", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"synthesizer", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER}, {"compactdisc", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC},
        {"telephone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},     {"pcspeaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"waveout", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},         {"auxiliary", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"analog", MIXERLINE_COMPONENTTYPE_SRC_ANALOG}};
    const auto& table = destination ? dst : src;
    auto it = table.find(name);
    if (it == table.end()) return false;
    type = it->second;
    return true;
}

// One line of the configuration: its options, before the controls are made.
struct LineSpec {
    LineModel Line;
    bool HasVolume = false, VolumeDisabled = false, HasMute = false, MuteDisabled = false, Gain = false;
    uint32_t Left = 0, Right = 0, Mute = 0;
    int List = 0; // 0 none, 1 mixer, 2 mux
    int Select = 0;
};

bool ParseLine(const std::vector<std::string>& w, bool destination, LineSpec& spec) {
    if (w.size() < 3 || !ComponentTypeByName(w[2], destination, spec.Line.Line.ComponentType)) return false;
    spec.Line.Line.Name = w[1];
    spec.Line.Line.Channels = 2;
    for (size_t i = 3; i < w.size(); ++i) {
        const std::string& o = w[i];
        if (o == "mono") spec.Line.Line.Channels = 1;
        else if (o == "stereo") spec.Line.Line.Channels = 2;
        else if (o.rfind("volume=", 0) == 0) {
            spec.HasVolume = true;
            std::string v = o.substr(7);
            size_t comma = v.find(',');
            spec.Left = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10)) & 0xFFFF;
            spec.Right = comma == std::string::npos ? spec.Left
                                                    : static_cast<uint32_t>(std::strtoul(v.c_str() + comma + 1, nullptr, 10)) & 0xFFFF;
        } else if (o.rfind("mute=", 0) == 0) {
            spec.HasMute = true;
            spec.Mute = o.substr(5) == "0" ? 0 : 1;
        } else if (o == "volume-disabled") spec.VolumeDisabled = true;
        else if (o == "mute-disabled") spec.MuteDisabled = true;
        else if (o == "gain") spec.Gain = true;
        else if (o == "mux") spec.List = 2;
        else if (o == "mixer") spec.List = 1;
        else if (o.rfind("select=", 0) == 0) spec.Select = std::atoi(o.c_str() + 7);
        else return false;
    }
    return true;
}

} // namespace

// An open handle on a fake device: logs every set and tells the other handles.
class FakeMixer : public ModelMixer {
public:
    FakeMixer(TFakeMixerDevices& owner, int id, TFakeMixerDevices::Model& model, HWND callback)
        : ModelMixer(model.Device), owner_(owner), id_(id), callback_(callback) {}
    ~FakeMixer() override {
        std::lock_guard lock(owner_.mutex_);
        auto& l = owner_.listeners_;
        auto it = std::find(l.begin(), l.end(), std::make_pair(id_, callback_));
        if (it != l.end()) l.erase(it);
        owner_.Log("close " + std::to_string(id_));
    }

protected:
    int Store(ControlModel& c, const std::vector<uint32_t>& values) override {
        std::lock_guard lock(owner_.mutex_);
        std::string text = std::to_string(id_) + " " + Quoted(c.LineName) + " " + c.Kind;
        if (owner_.TakeFailure("mixer-set")) {
            owner_.Log("set-failed " + text);
            return MIXERR_ERROR;
        }
        for (uint32_t v : values) text += " " + std::to_string(v);
        owner_.Log("set " + text);
        c.Write(values);
        owner_.SaveState();
        owner_.Notify(id_, c.Info.ControlID);
        return 0;
    }

private:
    TFakeMixerDevices& owner_;
    int id_;
    HWND callback_;
};

TFakeMixerDevices::TFakeMixerDevices(const std::string& dir) : dir_(dir) {
    std::vector<std::string> lines = ReadFakeConfig(dir);
    bool none = false, any = false;
    for (const std::string& line : lines) {
        std::vector<std::string> w = SplitConfigLine(line);
        if (!w.empty() && w[0] == "mixer") any = true;
        if (w.size() == 1 && w[0] == "no-mixer") none = true;
        if (w.size() == 3 && w[0] == "fail" && w[1].rfind("mixer-", 0) == 0) failures_[w[1]] = std::atoi(w[2].c_str());
    }
    if (none) return;
    if (!any) {
        std::istringstream in(DefaultFakeMixerConfig());
        lines.clear();
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    // Lines are collected first; controls are made once each destination's sources are known.
    std::vector<std::pair<std::string, std::vector<std::pair<LineSpec, std::vector<LineSpec>>>>> specs;
    for (const std::string& line : lines) {
        std::vector<std::string> w = SplitConfigLine(line);
        if (w.empty()) continue;
        LineSpec spec;
        if (w[0] == "mixer" && w.size() >= 2) {
            specs.push_back({w[1], {}});
        } else if (w[0] == "destination" && !specs.empty() && ParseLine(w, true, spec)) {
            specs.back().second.push_back({spec, {}});
        } else if (w[0] == "source" && !specs.empty() && !specs.back().second.empty() && ParseLine(w, false, spec)) {
            specs.back().second.back().second.push_back(spec);
        } else if (w[0] != "fail" && w[0] != "midi" && w[0] != "no-midi" && w[0] != "mixer") {
            AppendFakeLog(dir_, "mixer.log", "config-ignored " + line);
        }
    }
    for (size_t d = 0; d < specs.size(); ++d) {
        auto model = std::make_unique<Model>();
        Model* m = model.get();
        DeviceModel& dev = m->Device;
        dev.Caps.ProductName = specs[d].first;
        dev.Caps.Mid = 1;
        dev.Caps.Pid = static_cast<uint16_t>(d);
        dev.Caps.DriverVersion = 0x0100;
        auto stored = [m](ControlModel& c, std::vector<uint32_t> initial, bool gainVolume, bool gainMute) {
            uint32_t id = static_cast<uint32_t>(m->Device.Controls.size());
            if (m->Values.size() <= id) m->Values.resize(id + 1);
            m->Values[id] = std::move(initial);
            c.Read = [m, id] { return m->Values[id]; };
            c.Write = [m, id, gainVolume, gainMute](const std::vector<uint32_t>& v) {
                m->Values[id] = v;
                if (gainVolume) SetOutputGain(static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[v.size() > 1]));
                if (gainMute) SetOutputGainMuted(v[0] != 0);
                return true;
            };
        };
        auto addControls = [&](LineModel& line, const LineSpec& spec) {
            if (spec.Gain) {
                SetOutputGain(static_cast<uint16_t>(spec.Left), static_cast<uint16_t>(spec.Right));
                SetOutputGainMuted(spec.Mute != 0);
            }
            if (spec.HasVolume) {
                ControlModel c = VolumeControl(line.Line.Channels, spec.VolumeDisabled);
                std::vector<uint32_t> initial = {spec.Left};
                if (line.Line.Channels == 2) initial.push_back(spec.Right);
                stored(c, initial, spec.Gain, false);
                dev.AddControl(line, std::move(c));
            }
            if (spec.HasMute) {
                ControlModel c = MuteControl(spec.MuteDisabled);
                stored(c, {spec.Mute}, false, spec.Gain);
                dev.AddControl(line, std::move(c));
            }
        };
        for (auto& [destSpec, sourceSpecs] : specs[d].second) {
            dev.Destinations.push_back(destSpec.Line);
            for (const LineSpec& s : sourceSpecs) dev.Destinations.back().Sources.push_back(s.Line);
        }
        dev.Finish();
        for (size_t i = 0; i < specs[d].second.size(); ++i) {
            auto& [destSpec, sourceSpecs] = specs[d].second[i];
            LineModel& dest = dev.Destinations[i];
            addControls(dest, destSpec);
            if (destSpec.List && !dest.Sources.empty()) {
                ControlModel c;
                c.Info.ControlType = destSpec.List == 2 ? MIXERCONTROL_CONTROLTYPE_MUX : MIXERCONTROL_CONTROLTYPE_MIXER;
                c.Info.Control = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
                c.Info.Name = destSpec.List == 2 ? "Mux" : "Mixer";
                c.Info.Maximum = 1;
                c.Info.MultipleItems = c.Items = static_cast<uint32_t>(dest.Sources.size());
                c.Kind = "select";
                std::vector<uint32_t> initial(c.Items, destSpec.List == 1 ? 1 : 0);
                initial[std::clamp<size_t>(destSpec.Select, 0, c.Items - 1)] = 1;
                for (const LineModel& s : dest.Sources) c.Texts.push_back({s.Line.LineID, s.Line.Name});
                stored(c, initial, false, false);
                dev.AddControl(dest, std::move(c));
            }
            for (size_t s = 0; s < sourceSpecs.size(); ++s) addControls(dest.Sources[s], sourceSpecs[s]);
        }
        devices_.push_back(std::move(model));
    }
    LoadState();
}

TFakeMixerDevices::~TFakeMixerDevices() = default;

int TFakeMixerDevices::NumDevs() { return static_cast<int>(devices_.size()); }

int TFakeMixerDevices::GetDevCaps(int id, TMixerCaps& caps) {
    if (id < 0 || id >= NumDevs()) return MIXERR_BADDEVICEID;
    caps = devices_[id]->Device.Caps;
    return 0;
}

int TFakeMixerDevices::Open(int id, HWND callback, std::unique_ptr<IMixer>& mixer) {
    std::lock_guard lock(mutex_);
    if (id < 0 || id >= NumDevs()) return MIXERR_BADDEVICEID;
    if (TakeFailure("mixer-open")) {
        Log("open-failed " + std::to_string(id));
        return MIXERR_ERROR;
    }
    Log("open " + std::to_string(id));
    listeners_.push_back({id, callback});
    mixer = std::make_unique<FakeMixer>(*this, id, *devices_[id], callback);
    return 0;
}

void TFakeMixerDevices::FailNext(const std::string& kind, int count) {
    std::lock_guard lock(mutex_);
    failures_[kind] = count;
}

bool TFakeMixerDevices::TakeFailure(const std::string& kind) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(kind);
    if (it == failures_.end() || it->second <= 0) return false;
    --it->second;
    return true;
}

void TFakeMixerDevices::Log(const std::string& text) { AppendFakeLog(dir_, "mixer.log", text); }

void TFakeMixerDevices::Notify(int device, uint32_t controlID) {
    for (auto& [id, target] : listeners_)
        if (id == device && target) PostMessage(target, MM_MIXM_CONTROL_CHANGE, static_cast<uintptr_t>(device), controlID);
}

bool TFakeMixerDevices::GetLineState(int device, const std::string& line, LineState& state) {
    std::lock_guard lock(mutex_);
    if (device < 0 || device >= NumDevs()) return false;
    Model& m = *devices_[device];
    state = LineState{};
    bool found = false;
    for (const ControlModel& c : m.Device.Controls) {
        if (c.LineName != line) continue;
        found = true;
        if (c.Kind == "volume" && state.Volume.empty()) state.Volume = c.Read();
        if (c.Kind == "mute" && state.Mute < 0) state.Mute = static_cast<int>(c.Read()[0]);
        if (c.Kind == "select" && state.Select.empty()) state.Select = c.Read();
    }
    return found;
}

// The state file: one line per control, DEV "LINE" KIND VALUES...
void TFakeMixerDevices::SaveState() {
    std::ostringstream out;
    for (size_t d = 0; d < devices_.size(); ++d)
        for (const ControlModel& c : devices_[d]->Device.Controls) {
            out << d << ' ' << Quoted(c.LineName) << ' ' << c.Kind;
            for (uint32_t v : c.Read()) out << ' ' << v;
            out << '\n';
        }
    std::string path = dir_ + "/mixer.state";
    std::ofstream file(path + ".tmp", std::ios::trunc);
    file << out.str();
    file.close();
    std::rename((path + ".tmp").c_str(), path.c_str());
}

void TFakeMixerDevices::LoadState() {
    std::ifstream in(dir_ + "/mixer.state");
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> w = SplitConfigLine(line);
        if (w.size() < 4) continue;
        size_t d = std::strtoul(w[0].c_str(), nullptr, 10);
        if (d >= devices_.size()) continue;
        std::vector<uint32_t> values;
        for (size_t i = 3; i < w.size(); ++i) values.push_back(static_cast<uint32_t>(std::strtoul(w[i].c_str(), nullptr, 10)));
        for (ControlModel& c : devices_[d]->Device.Controls)
            if (c.LineName == w[1] && c.Kind == w[2] && values.size() == size_t(c.Channels) * c.Items &&
                std::all_of(values.begin(), values.end(), [&](uint32_t v) { return v <= c.Info.Maximum; })) {
                c.Write(values);
                break;
            }
    }
}

// ---- the switch ----

namespace {
IMixerDevices* g_installed = nullptr;
}

IMixerDevices& MixerDevices() {
    if (g_installed) return *g_installed;
    static std::unique_ptr<IMixerDevices> chosen = [] {
        TDevicesSetting setting = DevicesSetting();
        return setting.Fake ? std::unique_ptr<IMixerDevices>(std::make_unique<TFakeMixerDevices>(setting.Dir))
                            : CreateAlsaMixerDevices();
    }();
    return *chosen;
}

void SetMixerDevices(IMixerDevices* devices) { g_installed = devices; }

} // namespace lumora
