// Fuzz target: writing Ogg Vorbis comments back, on one page or laid out on several, with the
// other comments and the track edited or left as they are. A save that succeeds must read back
// with the comment and the track written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "audio/tags/OggVorbis.h"
#include "fuzz/FuzzFile.h"

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
        if (!back.LoadFromFile(file.Path()) || back.Comment() != comment) std::abort();
        if (track && back.Track() != track) std::abort();
    } catch (const lumora::Exception&) {
    }
    return 0;
}
