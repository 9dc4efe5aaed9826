#include "platform/devices/MidiDevices.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdio>

#include "platform/devices/AlsaErrors.h"
#include "platform/devices/Devices.h"
#include "platform/devices/SoftSynth.h"

namespace lumora {

bool MidiOutErrorText(int code, std::string& text) {
    switch (code) {
    case MMSYSERR_NOERROR: text = "The operation completed successfully."; return true;
    case MMSYSERR_ERROR: text = "An unspecified error occurred in the MIDI output system."; return true;
    case MMSYSERR_BADDEVICEID: text = "The MIDI output device identifier is out of range."; return true;
    case MMSYSERR_NOTENABLED: text = "The software synthesizer has no sound output to play through."; return true;
    case MMSYSERR_INVALHANDLE: text = "The MIDI output device is not open."; return true;
    case MMSYSERR_NODRIVER:
        text = "No MIDI sequencer is available (the ALSA sequencer could not be opened).";
        return true;
    case MMSYSERR_NOMEM: text = "Not enough memory for the MIDI output."; return true;
    case MMSYSERR_INVALPARAM: text = "An invalid parameter was passed to the MIDI output."; return true;
    case MIDIERR_NODEVICE: text = "No such MIDI output port is available."; return true;
    default: return false;
    }
}

int MidiMessageDataLength(uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 2;
    if (status < 0xE0) return 1;
    switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

// ---- the ALSA sequencer ----

namespace {

struct AlsaPortInfo {
    int Client = 0;
    int Port = 0;
    std::string Name;
    bool Synth = false;
};

snd_seq_t* OpenSequencer() {
    HoldBackAlsaErrors();
    snd_seq_t* seq = nullptr;
    if (int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0); err < 0) {
        ReportMissingAlsaDevice("MIDI sequencer", err);
        return nullptr;
    }
    snd_seq_set_client_name(seq, "Lumora");
    return seq;
}

// Every port that takes writes and subscriptions, except the system client's and our own.
std::vector<AlsaPortInfo> ListPorts(snd_seq_t* seq) {
    std::vector<AlsaPortInfo> ports;
    int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        int id = snd_seq_client_info_get_client(client);
        if (id == SND_SEQ_CLIENT_SYSTEM || id == self) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            unsigned caps = snd_seq_port_info_get_capability(port);
            const unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            unsigned type = snd_seq_port_info_get_type(port);
            AlsaPortInfo info;
            info.Client = id;
            info.Port = snd_seq_port_info_get_port(port);
            info.Name = snd_seq_port_info_get_name(port);
            info.Synth = (type & (SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_DIRECT_SAMPLE | SND_SEQ_PORT_TYPE_SAMPLE |
                                  SND_SEQ_PORT_TYPE_SYNTHESIZER)) != 0;
            ports.push_back(info);
        }
    }
    std::sort(ports.begin(), ports.end(), [](const AlsaPortInfo& a, const AlsaPortInfo& b) {
        return a.Client != b.Client ? a.Client < b.Client : a.Port < b.Port;
    });
    return ports;
}

int ErrorFromAlsa(int err) { return err == -ENOENT || err == -ENXIO ? MIDIERR_NODEVICE : MMSYSERR_ERROR; }

class AlsaMidiPort : public IMidiOutPort {
public:
    AlsaMidiPort(snd_seq_t* seq, int port, snd_midi_event_t* encoder)
        : seq_(seq), port_(port), encoder_(encoder) {}
    ~AlsaMidiPort() override { Release(); }

    int ShortMsg(uint32_t message) override {
        if (!seq_) return MMSYSERR_INVALHANDLE;
        uint8_t status = message & 0xFF;
        if (status < 0x80 || status == 0xF0 || status == 0xF7) return MMSYSERR_NOERROR;
        // Data bytes are masked so that a stray high bit cannot turn into a status of its own.
        uint8_t bytes[3] = {status, uint8_t((message >> 8) & 0x7F), uint8_t((message >> 16) & 0x7F)};
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_midi_event_reset_encode(encoder_);
        long used = snd_midi_event_encode(encoder_, bytes, 1 + MidiMessageDataLength(status), &ev);
        if (used <= 0 || ev.type == SND_SEQ_EVENT_NONE) return MMSYSERR_NOERROR; // nothing to send
        return Output(ev);
    }

    int LongMsg(const uint8_t* data, size_t length, HWND notify, intptr_t user) override {
        if (!seq_) return MMSYSERR_INVALHANDLE;
        if (!data && length) return MMSYSERR_INVALPARAM;
        // Large blocks go out in pieces; the receiving port sees one continuous byte stream.
        constexpr size_t kPiece = 256;
        for (size_t offset = 0; offset < length; offset += kPiece) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            snd_seq_ev_set_sysex(&ev, std::min(kPiece, length - offset), const_cast<uint8_t*>(data + offset));
            if (int code = Output(ev)) return code;
        }
        snd_seq_drain_output(seq_);
        PostMessage(notify, MOM_DONE, 0, user);
        return MMSYSERR_NOERROR;
    }

    int Close() override {
        Release();
        return MMSYSERR_NOERROR;
    }

private:
    int Output(snd_seq_event_t& ev) {
        snd_seq_ev_set_source(&ev, port_);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        int err = snd_seq_event_output_direct(seq_, &ev);
        return err < 0 ? ErrorFromAlsa(err) : MMSYSERR_NOERROR;
    }
    void Release() {
        if (encoder_) snd_midi_event_free(encoder_);
        if (seq_) snd_seq_close(seq_);
        encoder_ = nullptr;
        seq_ = nullptr;
    }

    snd_seq_t* seq_;
    int port_;
    snd_midi_event_t* encoder_;
};

class AlsaMidiDevices : public IMidiDevices {
public:
    int NumDevs() override {
        Refresh();
        return static_cast<int>(ports_.size());
    }

    int GetDevCaps(int id, TMidiOutCaps& caps) override {
        if (!listed_) Refresh();
        caps = TMidiOutCaps{};
        if (id == MIDI_MAPPER) {
            caps.ProductName = kMidiMapperName;
            caps.Technology = MOD_MAPPER;
            return MMSYSERR_NOERROR;
        }
        if (id < 0 || id >= static_cast<int>(ports_.size())) return MMSYSERR_BADDEVICEID;
        const AlsaPortInfo& port = ports_[id];
        caps.ProductName = port.Name;
        caps.Technology = port.Synth ? MOD_SYNTH : MOD_MIDIPORT;
        caps.Mid = static_cast<uint16_t>(port.Client);
        caps.Pid = static_cast<uint16_t>(port.Port);
        return MMSYSERR_NOERROR;
    }

    int Open(int id, std::unique_ptr<IMidiOutPort>& result) override {
        snd_seq_t* seq = OpenSequencer();
        if (!seq) return MMSYSERR_NODRIVER;
        std::vector<AlsaPortInfo> ports = ListPorts(seq);
        const AlsaPortInfo* target = nullptr;
        if (id == MIDI_MAPPER) {
            for (const auto& p : ports)
                if (p.Synth) {
                    target = &p;
                    break;
                }
            if (!target && !ports.empty()) target = &ports.front();
        } else if (!listed_) {
            Refresh();
        }
        if (id != MIDI_MAPPER) {
            // The id names a port of the list the caller saw; it must still be there.
            if (id < 0 || id >= static_cast<int>(ports_.size())) {
                snd_seq_close(seq);
                return MMSYSERR_BADDEVICEID;
            }
            for (const auto& p : ports)
                if (p.Client == ports_[id].Client && p.Port == ports_[id].Port) target = &p;
        }
        if (!target) {
            snd_seq_close(seq);
            return MIDIERR_NODEVICE;
        }
        int port = snd_seq_create_simple_port(seq, "Lumora output", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        snd_midi_event_t* encoder = nullptr;
        if (port < 0 || snd_seq_connect_to(seq, port, target->Client, target->Port) < 0 ||
            snd_midi_event_new(16, &encoder) < 0) {
            snd_seq_close(seq);
            return MIDIERR_NODEVICE;
        }
        snd_midi_event_no_status(encoder, 1);
        result = std::make_unique<AlsaMidiPort>(seq, port, encoder);
        return MMSYSERR_NOERROR;
    }

private:
    void Refresh() {
        listed_ = true;
        ports_.clear();
        if (snd_seq_t* seq = OpenSequencer()) {
            ports_ = ListPorts(seq);
            snd_seq_close(seq);
        }
    }
    bool listed_ = false;
    std::vector<AlsaPortInfo> ports_;
};

} // namespace

std::unique_ptr<IMidiDevices> CreateAlsaMidiDevices() { return std::make_unique<AlsaMidiDevices>(); }

// ---- the fake ----

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char buf[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        text += buf;
    }
    return text;
}

class FakeMidiPort : public IMidiOutPort {
public:
    FakeMidiPort(TFakeMidiDevices& owner, int id) : owner_(owner), id_(id) {}
    ~FakeMidiPort() override {
        if (open_) owner_.Log("close " + std::to_string(id_));
    }
    int ShortMsg(uint32_t message) override {
        if (!open_) return MMSYSERR_INVALHANDLE;
        if (owner_.TakeFailure("midi-send")) return MMSYSERR_ERROR;
        uint8_t bytes[3] = {uint8_t(message), uint8_t(message >> 8), uint8_t(message >> 16)};
        if (bytes[0] < 0x80 || bytes[0] == 0xF0 || bytes[0] == 0xF7) return MMSYSERR_NOERROR;
        owner_.Log("short " + std::to_string(id_) + " " + Hex(bytes, 1 + MidiMessageDataLength(bytes[0])));
        return MMSYSERR_NOERROR;
    }
    int LongMsg(const uint8_t* data, size_t length, HWND notify, intptr_t user) override {
        if (!open_) return MMSYSERR_INVALHANDLE;
        if (!data && length) return MMSYSERR_INVALPARAM;
        if (owner_.TakeFailure("midi-send")) return MMSYSERR_ERROR;
        owner_.Log("long " + std::to_string(id_) + " " + Hex(data, length));
        PostMessage(notify, MOM_DONE, 0, user);
        return MMSYSERR_NOERROR;
    }
    int Close() override {
        if (!open_) return MMSYSERR_INVALHANDLE;
        open_ = false;
        bool fail = owner_.TakeFailure("midi-close");
        owner_.Log("close " + std::to_string(id_));
        return fail ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    }

private:
    TFakeMidiDevices& owner_;
    int id_;
    bool open_ = true;
};

} // namespace

TFakeMidiDevices::TFakeMidiDevices(const std::string& dir) : dir_(dir) {
    bool none = false;
    for (const std::string& line : ReadFakeConfig(dir)) {
        std::vector<std::string> w = SplitConfigLine(line);
        if (w.size() >= 2 && w[0] == "midi") {
            devices_.push_back(Device{w[1], w.size() >= 3 && w[2] == "synth"});
        } else if (w.size() == 1 && w[0] == "no-midi") {
            none = true;
        } else if (w.size() == 3 && w[0] == "fail" && w[1].rfind("midi-", 0) == 0) {
            failures_[w[1]] = std::atoi(w[2].c_str());
        }
    }
    if (devices_.empty() && !none) devices_ = {{"Fake Synthesizer", true}, {"Fake MIDI Port", false}};
}

int TFakeMidiDevices::NumDevs() { return static_cast<int>(devices_.size()); }

int TFakeMidiDevices::GetDevCaps(int id, TMidiOutCaps& caps) {
    caps = TMidiOutCaps{};
    if (id == MIDI_MAPPER) {
        caps.ProductName = kMidiMapperName;
        caps.Technology = MOD_MAPPER;
        return MMSYSERR_NOERROR;
    }
    if (id < 0 || id >= NumDevs()) return MMSYSERR_BADDEVICEID;
    caps.ProductName = devices_[id].Name;
    caps.Technology = devices_[id].Synth ? MOD_SYNTH : MOD_MIDIPORT;
    caps.Pid = static_cast<uint16_t>(id);
    return MMSYSERR_NOERROR;
}

int TFakeMidiDevices::Open(int id, std::unique_ptr<IMidiOutPort>& port) {
    int target = id;
    if (id == MIDI_MAPPER) {
        target = devices_.empty() ? -2 : 0;
        for (size_t i = 0; i < devices_.size(); ++i)
            if (devices_[i].Synth) {
                target = static_cast<int>(i);
                break;
            }
    }
    int code = MMSYSERR_NOERROR;
    if (devices_.empty())
        code = MMSYSERR_NODRIVER;
    else if (target < 0 || target >= NumDevs())
        code = MMSYSERR_BADDEVICEID;
    else if (TakeFailure("midi-open"))
        code = MMSYSERR_ERROR;
    if (code) {
        Log("open-failed " + std::to_string(id) + " " + std::to_string(code));
        return code;
    }
    Log("open " + std::to_string(target) + " " + Quoted(devices_[target].Name));
    port = std::make_unique<FakeMidiPort>(*this, target);
    return MMSYSERR_NOERROR;
}

void TFakeMidiDevices::FailNext(const std::string& kind, int count) {
    std::lock_guard lock(mutex_);
    failures_[kind] = count;
}

bool TFakeMidiDevices::TakeFailure(const std::string& kind) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(kind);
    if (it == failures_.end() || it->second <= 0) return false;
    --it->second;
    return true;
}

void TFakeMidiDevices::Log(const std::string& text) { AppendFakeLog(dir_, "midi.log", text); }

// ---- the switch ----

namespace {
IMidiDevices* g_installed = nullptr;
}

IMidiDevices& MidiDevices() {
    if (g_installed) return *g_installed;
    static std::unique_ptr<IMidiDevices> chosen = [] {
        TDevicesSetting setting = DevicesSetting();
        return setting.Fake ? std::unique_ptr<IMidiDevices>(std::make_unique<TFakeMidiDevices>(setting.Dir))
                            : WithSoftSynth(CreateAlsaMidiDevices());
    }();
    return *chosen;
}

void SetMidiDevices(IMidiDevices* devices) { g_installed = devices; }

} // namespace lumora
