// Fuzz target: writing Ogg Vorbis comments back, on one page or laid out on several, with the
// other comments and the track edited or left as they are. A save that succeeds must read back
// with every comment of the input as it was or as edited, so a value the save loses or changes
// shows; a save of that file without an edit must read back the same, and a cleared artist must
// leave no value of ARTIST or PERFORMER behind.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "audio/tags/OggVorbis.h"
#include "framework/SysUtils.h"
#include "fuzz/FuzzFile.h"

namespace {

bool SameValues(const lumora::TOggVorbis& a, const lumora::TOggVorbis& b) {
    return a.Title() == b.Title() && a.Artist() == b.Artist() && a.Album() == b.Album() && a.Track() == b.Track() &&
           a.Date() == b.Date() && a.Genre() == b.Genre() && a.Comment() == b.Comment() && a.Extra() == b.Extra() &&
           a.Vendor() == b.Vendor();
}

bool HasArtistItem(const std::string& extra) {
    for (size_t start = 0; start < extra.size();) {
        size_t end = std::min(extra.find('\0', start), extra.size());
        std::string name = lumora::UpperCase(extra.substr(start, std::min(extra.find('=', start), end) - start));
        if (name == "ARTIST" || name == "PERFORMER") return true;
        start = end + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte chooses how long the new comment is: up to about 100 KB, past one page.
    std::string comment((size_t(data[0]) + 1) * 400, 'c');
    TFuzzFile file(data + 1, size - 1, ".ogg");
    if (!file.Ok()) return 0;
    lumora::TOggVorbis ogg;
    try {
        if (!ogg.LoadFromFile(file.Path())) return 0;
        ogg.SetComment(comment);
        // An odd first byte also sets the track and edits every other comment where it stands.
        uint16_t track = data[0] & 1 ? data[0] : 0;
        if (track) {
            ogg.SetTrack(track);
            std::string extra = ogg.Extra();
            for (size_t at = extra.find('\0'); at != std::string::npos; at = extra.find('\0', at + 2))
                extra.insert(at, "x");
            ogg.SetExtra(extra.empty() ? extra : extra + "x");
        }
        if (!ogg.SaveToFile(file.Path())) return 0;
        lumora::TOggVorbis back;
        if (!back.LoadFromFile(file.Path()) || !SameValues(ogg, back)) std::abort();
        if (!back.SaveToFile(file.Path())) std::abort();
        lumora::TOggVorbis again;
        if (!again.LoadFromFile(file.Path()) || !SameValues(back, again)) std::abort();
        if (data[0] % 4 == 2 && !again.Artist().empty()) {
            again.SetArtist("");
            if (!again.SaveToFile(file.Path())) std::abort();
            lumora::TOggVorbis cleared;
            if (!cleared.LoadFromFile(file.Path()) || !cleared.Artist().empty() || HasArtistItem(cleared.Extra()))
                std::abort();
        }
    } catch (const lumora::Exception&) {
    }
    return 0;
}
