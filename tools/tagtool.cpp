// lumora-tagtool FILE: prints, as JSON, what each tag and stream reader that applies to the file reads.
// MP3 files (.mp1, .mp2, .mp3) go through the MPEG reader with its ID3 tags, .ogg through the Ogg
// Vorbis reader, .wma through the WMA reader, .wav through the WAV reader; any other file through all.
//
// lumora-tagtool --set FIELD=VALUE ... FILE writes the fields through the classes the information
// forms use, then prints the JSON. FIELD is [TAG.]NAME, TAG one of id3v1, id3v2 (the default for MP3
// files), ogg, wma; an empty VALUE clears the field (for Ogg every comment of its name, and of
// PERFORMER or DESCRIPTION for the artist or comment). Names: id3v1 title artist album year comment
// track genre (number or name); id3v2 title artist album track year genre comment composer encoder
// copyright link origartist; ogg title artist album track date genre comment in any case, each
// replacing every value of its comment, PERFORMER= and DESCRIPTION= clearing theirs, any other
// name setting that comment; wma title author album year genre track composer url copyright
// description lyrics encodedby. ID3v1 text that neither of its code pages holds is saved with "?"
// and named on stderr.
// lumora-tagtool --resave FILE saves every tag the file has without an edit, then prints the JSON.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "audio/tags/ID3v1.h"
#include "audio/tags/ID3v2.h"
#include "audio/tags/MPEGaudio.h"
#include "audio/tags/OggVorbis.h"
#include "audio/tags/TagText.h"
#include "audio/tags/WAVfile.h"
#include "audio/tags/WMAReader.h"
#include "audio/tags/WMAfile.h"
#include "framework/Forms.h"
#include "framework/LegacyText.h"
#include "framework/SysUtils.h"

using namespace lumora;

namespace {

// A JSON string. Bytes that are not UTF-8 (a file name in a legacy code page) are shown as the
// program shows them, since JSON text is UTF-8.
std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : SanitizeUtf8(s)) {
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

// ---- Editing ----

struct TEdit {
    std::string Tag, Name, Value;
};

bool Failed(const std::string& message) {
    std::fprintf(stderr, "lumora-tagtool: %s\n", message.c_str());
    return false;
}

std::optional<uint32_t> Number(const std::string& value, uint32_t max) {
    return value.empty() ? std::optional<uint32_t>(0) : ParseDecimal(value, max);
}

bool SetID3v1(TID3v1& t, const TEdit& e) {
    const std::string& v = e.Value;
    if (e.Name == "title") t.SetTitle(v);
    else if (e.Name == "artist") t.SetArtist(v);
    else if (e.Name == "album") t.SetAlbum(v);
    else if (e.Name == "year") t.SetYear(v);
    else if (e.Name == "comment") t.SetComment(v);
    else if (e.Name == "track") {
        auto n = Number(v, 255);
        if (!n) return Failed("not a track number: " + v);
        t.SetTrack(static_cast<uint8_t>(*n));
    } else if (e.Name == "genre") {
        std::optional<uint8_t> genre = ID3v1GenreIndex(v);
        if (v.empty()) genre = 255;
        else if (auto n = ParseDecimal(v, 255)) genre = static_cast<uint8_t>(*n);
        if (!genre) return Failed("no such genre: " + v);
        t.SetGenre(*genre);
    } else {
        return Failed("no ID3v1 field " + e.Name);
    }
    return true;
}

bool SetID3v2(TID3v2& t, const TEdit& e) {
    const std::string& v = e.Value;
    if (e.Name == "title") t.SetTitle(v);
    else if (e.Name == "artist") t.SetArtist(v);
    else if (e.Name == "album") t.SetAlbum(v);
    else if (e.Name == "track") {
        if (!ParseTrackText(v, 65535)) return Failed("not a track number: " + v);
        t.SetTrackText(v);
    } else if (e.Name == "year") t.SetYear(v);
    else if (e.Name == "genre") t.SetGenre(v);
    else if (e.Name == "comment") t.SetComment(v);
    else if (e.Name == "composer") t.SetComposer(v);
    else if (e.Name == "encoder") t.SetEncoder(v);
    else if (e.Name == "copyright") t.SetCopyright(v);
    else if (e.Name == "link") t.SetLink(v);
    else if (e.Name == "origartist") t.SetOrigArtist(v);
    else return Failed("no ID3v2 field " + e.Name);
    return true;
}

// Other comments are NAME=value items of Extra: an edit replaces every item of that name (the
// name's case ignored), or removes them when the value is empty.
std::string WithExtra(const std::string& extra, const std::string& name, const std::string& value) {
    std::string out;
    size_t start = 0;
    while (start < extra.size()) {
        size_t end = extra.find('\0', start);
        if (end == std::string::npos) end = extra.size();
        std::string item = extra.substr(start, end - start);
        if (UpperCase(item.substr(0, item.find('='))) != UpperCase(name)) out += (out.empty() ? "" : std::string(1, '\0')) + item;
        start = end + 1;
    }
    if (!value.empty()) out += (out.empty() ? "" : std::string(1, '\0')) + name + "=" + value;
    return out;
}

// Names are matched in any case, as the form's fields are. A field set to a value replaces every
// value of its comment (earlier values of a name that repeats among them); an empty value clears
// them all, and the stand-in of the artist or comment with them. PERFORMER and DESCRIPTION can be
// cleared on their own.
bool SetOgg(TOggVorbis& o, const TEdit& e) {
    const std::string& v = e.Value;
    const std::string name = LowerCase(e.Name);
    struct TField {
        const char* Name;
        const char* Comment;
        void (TOggVorbis::*Set)(const std::string&);
    };
    static const TField fields[] = {{"title", "TITLE", &TOggVorbis::SetTitle},   {"artist", "ARTIST", &TOggVorbis::SetArtist},
                                    {"album", "ALBUM", &TOggVorbis::SetAlbum},   {"date", "DATE", &TOggVorbis::SetDate},
                                    {"genre", "GENRE", &TOggVorbis::SetGenre},   {"comment", "COMMENT", &TOggVorbis::SetComment},
                                    {"track", "TRACKNUMBER", nullptr}, {"tracknumber", "TRACKNUMBER", nullptr}};
    for (const TField& f : fields) {
        if (name != f.Name) continue;
        if (!f.Set) {
            auto n = Number(v, 65535);
            if (!n) return Failed("not a track number: " + v);
            o.SetTrack(static_cast<uint16_t>(*n));
        } else {
            (o.*f.Set)(v);
        }
        o.SetExtra(WithExtra(o.Extra(), f.Comment, ""));
        return true;
    }
    if (name == "performer" || name == "description") {
        if (!v.empty()) return Failed(UpperCase(name) + " stands in for the " + (name == "performer" ? "artist" : "comment") +
                                      "; set that field instead");
        o.RemoveEveryValue(name);
        return true;
    }
    if (name.empty() || name.find('=') != std::string::npos) return Failed("no comment name");
    o.SetExtra(WithExtra(o.Extra(), UpperCase(e.Name), v));
    return true;
}

bool SetWma(TTagsData& d, const TEdit& e) {
    std::string* field = e.Name == "title"       ? &d.Title
                         : e.Name == "author"      ? &d.Author
                         : e.Name == "album"       ? &d.AlbumTitle
                         : e.Name == "year"        ? &d.Year
                         : e.Name == "genre"       ? &d.Genre
                         : e.Name == "track"       ? &d.TrackNumber
                         : e.Name == "composer"    ? &d.Composer
                         : e.Name == "url"         ? &d.URL
                         : e.Name == "copyright"   ? &d.Copyright
                         : e.Name == "description" ? &d.Description
                         : e.Name == "lyrics"      ? &d.Lyrics
                         : e.Name == "encodedby"   ? &d.EncodedBy
                                                   : nullptr;
    if (!field) return Failed("no WMA field " + e.Name);
    *field = e.Value;
    return true;
}

// Applies the edits (none for a resave) to the file's tags and saves them; a resave saves every
// tag the file has.
bool EditFile(const std::string& path, const std::vector<TEdit>& edits, bool resave) {
    std::string ext = UpperCase(ExtractFileExt(path));
    auto wanted = [&](const char* tag) {
        for (const auto& e : edits)
            if (e.Tag == tag) return true;
        return false;
    };
    if (ext == ".MP1" || ext == ".MP2" || ext == ".MP3") {
        for (const auto& e : edits)
            if (e.Tag != "id3v1" && e.Tag != "id3v2") return Failed("an MPEG file has no " + e.Tag + " tag");
        TMPEGaudio mpeg;
        if (!mpeg.LoadFromFile(path)) return Failed("cannot read " + path);
        TID3v2& v2 = mpeg.ID3v2();
        TID3v1& v1 = mpeg.ID3v1();
        bool saveV2 = resave ? v2.Exists() : wanted("id3v2");
        bool saveV1 = resave ? v1.Exists() : wanted("id3v1");
        for (const auto& e : edits)
            if (!(e.Tag == "id3v2" ? SetID3v2(v2, e) : SetID3v1(v1, e))) return false;
        // The ID3v2 tag goes first: rebuilding it moves the end of the file, where the ID3v1 tag is.
        if (saveV2 && !v2.SaveToFile(path)) return Failed("the ID3v2 tag could not be saved");
        if (saveV1 && !v1.SaveToFile(path)) return Failed("the ID3v1 tag could not be saved");
        if (saveV1 && !v1.UnstoredNote().empty()) std::fprintf(stderr, "lumora-tagtool: %s\n", v1.UnstoredNote().c_str());
        return true;
    }
    if (ext == ".OGG") {
        TOggVorbis ogg;
        if (!ogg.LoadFromFile(path)) return Failed("cannot read " + path + " as Ogg Vorbis");
        for (const auto& e : edits) {
            if (e.Tag != "ogg") return Failed("an Ogg file has no " + e.Tag + " tag");
            if (!SetOgg(ogg, e)) return false;
        }
        return ogg.SaveToFile(path) || Failed("the comments could not be saved");
    }
    if (ext == ".WMA") {
        TWMAReader reader;
        TTagsData data;
        if (!reader.LoadTags(path, data)) return Failed("cannot read the tags of " + path);
        for (const auto& e : edits) {
            if (e.Tag != "wma") return Failed("a WMA file has no " + e.Tag + " tag");
            if (!SetWma(data, e)) return false;
        }
        return reader.SaveTags(data) || Failed("the tags could not be saved");
    }
    return Failed("no tag writer for " + path);
}

int Usage() {
    std::fprintf(stderr, "usage: lumora-tagtool FILE\n"
                         "       lumora-tagtool --set [TAG.]NAME=VALUE ... FILE\n"
                         "       lumora-tagtool --resave FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    bool set = argc >= 4 && std::string(argv[1]) == "--set";
    bool resave = argc == 3 && std::string(argv[1]) == "--resave";
    if (argc != 2 && !set && !resave) return Usage();
    std::string path = argv[argc - 1];
    if (!FileExists(path)) {
        std::fprintf(stderr, "lumora-tagtool: cannot open %s\n", path.c_str());
        return 1;
    }
    std::string ext = UpperCase(ExtractFileExt(path));
    bool mp3 = ext == ".MP1" || ext == ".MP2" || ext == ".MP3";
    bool known = mp3 || ext == ".OGG" || ext == ".WMA" || ext == ".WAV";
    if (set || resave) {
        std::string defaultTag = mp3 ? "id3v2" : LowerCase(ext.empty() ? ext : ext.substr(1));
        std::vector<TEdit> edits;
        for (int i = 2; set && i < argc - 1; ++i) {
            std::string arg = argv[i];
            size_t eq = arg.find('=');
            if (eq == std::string::npos || eq == 0) return Usage();
            std::string field = arg.substr(0, eq);
            size_t dot = field.find('.');
            TEdit e{dot == std::string::npos ? defaultTag : LowerCase(field.substr(0, dot)),
                    dot == std::string::npos ? field : field.substr(dot + 1), arg.substr(eq + 1)};
            if (e.Tag != "ogg") e.Name = LowerCase(e.Name);
            edits.push_back(e);
        }
        // Messages of the tag classes go to standard error instead of a message box.
        SetMessageReporter([](const std::string& text, const std::string&, TMsgIcon, int) {
            std::fprintf(stderr, "lumora-tagtool: %s\n", text.c_str());
            return 1;
        });
        try {
            if (!EditFile(path, edits, resave)) return 1;
        } catch (const Exception& e) {
            std::fprintf(stderr, "lumora-tagtool: %s\n", e.what());
            return 1;
        }
    }
    TJson json;
    json.Field("file", FileNameUtf8(path));
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
