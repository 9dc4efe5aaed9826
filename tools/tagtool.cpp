// lumora-tagtool FILE: prints, as JSON, what each tag and stream reader that applies to the file reads.
// MP3 files (.mp1, .mp2, .mp3) go through the MPEG reader with its ID3 tags, .ogg through the Ogg
// Vorbis reader, .wma through the WMA reader, .wav through the WAV reader; any other file through all.

#include <cstdio>
#include <string>

#include "audio/ID3v1.h"
#include "audio/ID3v2.h"
#include "audio/MPEGaudio.h"
#include "audio/OggVorbis.h"
#include "audio/WAVfile.h"
#include "audio/WMAfile.h"
#include "framework/SysUtils.h"

using namespace lumora;

namespace {

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

class TJson {
public:
    void Open(const std::string& name) {
        Key(name);
        text_ += "{";
        first_ = true;
    }
    void Close() {
        text_ += "}";
        first_ = false;
    }
    void Field(const std::string& name, const std::string& value) { Key(name), text_ += Quote(value); }
    void Field(const std::string& name, const char* value) { Field(name, std::string(value)); }
    void Field(const std::string& name, int64_t value) { Key(name), text_ += std::to_string(value); }
    void Field(const std::string& name, bool value) { Key(name), text_ += value ? "true" : "false"; }
    void Field(const std::string& name, double value) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6f", value);
        Key(name), text_ += buf;
    }
    std::string Text() const { return "{" + text_ + "}\n"; }

private:
    void Key(const std::string& name) {
        if (!first_) text_ += ",";
        first_ = false;
        text_ += Quote(name) + ":";
    }
    std::string text_;
    bool first_ = true;
};

template <typename T>
void Num(TJson& j, const char* name, T v) { j.Field(name, static_cast<int64_t>(v)); }

void ID3v1Json(TJson& j, TID3v1& tag, bool ok) {
    j.Open("id3v1");
    j.Field("read", ok);
    j.Field("exists", tag.Exists());
    Num(j, "version", tag.VersionID());
    j.Field("title", tag.Title());
    j.Field("artist", tag.Artist());
    j.Field("album", tag.Album());
    j.Field("year", tag.Year());
    j.Field("comment", tag.Comment());
    Num(j, "track", tag.Track());
    Num(j, "genre", tag.Genre());
    j.Field("genreName", tag.GenreName());
    j.Close();
}

void ID3v2Json(TJson& j, TID3v2& tag, bool ok) {
    j.Open("id3v2");
    j.Field("read", ok);
    j.Field("exists", tag.Exists());
    Num(j, "version", tag.VersionID());
    Num(j, "size", tag.Size());
    j.Field("title", tag.Title());
    j.Field("artist", tag.Artist());
    j.Field("album", tag.Album());
    Num(j, "track", tag.Track());
    j.Field("trackText", tag.TrackText());
    j.Field("year", tag.Year());
    j.Field("genre", tag.Genre());
    j.Field("comment", tag.Comment());
    j.Field("composer", tag.Composer());
    j.Field("encoder", tag.Encoder());
    j.Field("copyright", tag.Copyright());
    j.Field("language", tag.Language());
    j.Field("link", tag.Link());
    j.Field("origArtist", tag.OrigArtist());
    j.Close();
}

void MpegJson(TJson& j, const std::string& path) {
    TMPEGaudio mpeg;
    bool ok = mpeg.LoadFromFile(path);
    j.Open("mpeg");
    j.Field("read", ok);
    j.Field("valid", mpeg.IsValid());
    Num(j, "fileLength", mpeg.FileLength());
    j.Field("version", mpeg.VersionText());
    j.Field("layer", mpeg.LayerText());
    j.Field("channelMode", mpeg.ChannelModeText());
    Num(j, "sampleRate", mpeg.SampleRate());
    Num(j, "bitRate", mpeg.BitRate());
    Num(j, "frames", mpeg.Frames());
    j.Field("duration", mpeg.Duration());
    j.Field("vbr", mpeg.VBR().Found);
    j.Field("vbrID", std::string(mpeg.VBR().ID, mpeg.VBR().Found ? 4 : 0));
    j.Field("vbrVendor", mpeg.VBR().VendorID);
    j.Field("vendor", mpeg.VendorID());
    Num(j, "encoderID", mpeg.EncoderID());
    j.Field("encoder", mpeg.EncoderText());
    j.Close();
    ID3v1Json(j, mpeg.ID3v1(), ok);
    ID3v2Json(j, mpeg.ID3v2(), ok);
}

void OggJson(TJson& j, const std::string& path) {
    TOggVorbis ogg;
    bool ok = ogg.LoadFromFile(path);
    j.Open("ogg");
    j.Field("read", ok);
    j.Field("valid", ogg.IsValid());
    Num(j, "fileSize", ogg.FileSize());
    Num(j, "channels", ogg.ChannelModeID());
    j.Field("channelMode", ogg.ChannelModeText());
    Num(j, "sampleRate", ogg.SampleRate());
    Num(j, "bitRateNominal", ogg.BitRateNominal());
    Num(j, "bitRate", ogg.BitRate());
    Num(j, "samples", ogg.Samples());
    j.Field("duration", ogg.Duration());
    Num(j, "id3v2Size", ogg.ID3v2Size());
    Num(j, "version", ogg.Version());
    Num(j, "serialNo", ogg.SerialNo());
    j.Field("vendor", ogg.Vendor());
    j.Field("title", ogg.Title());
    j.Field("artist", ogg.Artist());
    j.Field("album", ogg.Album());
    Num(j, "track", ogg.Track());
    j.Field("date", ogg.Date());
    j.Field("genre", ogg.Genre());
    j.Field("comment", ogg.Comment());
    std::string extra = ogg.Extra();
    for (auto& c : extra)
        if (c == '\0') c = '\n';
    j.Field("extra", extra);
    j.Close();
}

void WmaJson(TJson& j, const std::string& path) {
    TWMAfile wma;
    bool ok = wma.LoadFromFile(path);
    j.Open("wma");
    j.Field("read", ok);
    j.Field("valid", wma.Valid());
    Num(j, "fileSize", wma.FileSize());
    Num(j, "channels", wma.ChannelModeID());
    j.Field("channelMode", wma.ChannelModeText());
    Num(j, "sampleRate", wma.SampleRate());
    Num(j, "bitRate", wma.BitRate());
    j.Field("duration", wma.Duration());
    j.Field("title", wma.Title());
    j.Field("artist", wma.Artist());
    j.Field("album", wma.Album());
    Num(j, "track", wma.Track());
    j.Field("year", wma.Year());
    j.Field("genre", wma.Genre());
    j.Field("comment", wma.Comment());
    j.Close();
}

void WavJson(TJson& j, const std::string& path) {
    TWAVfile wav;
    bool ok = wav.LoadFromFile(path);
    j.Open("wav");
    j.Field("read", ok);
    j.Field("valid", wav.Valid());
    Num(j, "fileSize", wav.FileSize());
    Num(j, "channels", wav.ChannelModeID());
    j.Field("channelMode", wav.ChannelModeText());
    Num(j, "sampleRate", wav.SampleRate());
    Num(j, "bitsPerSample", wav.BitsPerSample());
    Num(j, "bitRate", int64_t(wav.SampleRate()) * wav.BitsPerSample() / 1000);
    j.Field("duration", wav.Duration());
    j.Close();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumora-tagtool FILE\n");
        return 2;
    }
    std::string path = argv[1];
    if (!FileExists(path)) {
        std::fprintf(stderr, "lumora-tagtool: cannot open %s\n", path.c_str());
        return 1;
    }
    std::string ext = UpperCase(ExtractFileExt(path));
    bool mp3 = ext == ".MP1" || ext == ".MP2" || ext == ".MP3";
    bool known = mp3 || ext == ".OGG" || ext == ".WMA" || ext == ".WAV";
    TJson json;
    json.Field("file", path);
    try {
        if (mp3 || !known) MpegJson(json, path);
        if (ext == ".OGG" || !known) OggJson(json, path);
        if (ext == ".WMA" || !known) WmaJson(json, path);
        if (ext == ".WAV" || !known) WavJson(json, path);
    } catch (const Exception& e) {
        std::fprintf(stderr, "lumora-tagtool: %s\n", e.what());
        return 1;
    }
    std::fputs(json.Text().c_str(), stdout);
    return 0;
}
