// The real program in a real X server: "lumora /s" with music on plays the sound folder into the WAV
// output, in order and with the gap, while the pictures change and the title stands on the screen;
// a MIDI file sounds through the built-in synthesizer where it has notes. It runs in the POSIX
// locale, as for a login without LANG, on folders and files of Japanese names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/devices/SoftSynth.h"
#include "tests/engine/music/SaverMusicTestSupport.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavSound.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using test::LeftChannel;
using test::LoudWindows;

// What a stretch of the output holds: silence, one of the two tones, or something unclear.
constexpr int kUnclear = -1;

// A 10 ms block: silence (0), 440 or 1320 by its zero crossings (8.8 and 26.4 a block), or unclear.
int BlockKind(const int16_t* samples, size_t count) {
    double energy = 0;
    int crossings = 0;
    for (size_t i = 0; i < count; ++i) {
        energy += double(samples[i]) * samples[i];
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    if (std::sqrt(energy / double(count)) < 200) return 0;
    if (crossings >= 7 && crossings <= 10) return 440;
    if (crossings >= 25 && crossings <= 28) return 1320;
    return kUnclear;
}

// Stretches of sound and silence in 50 ms windows. A window counts as one kind only when all five
// of its 10 ms blocks agree; one that straddles a start or an end is reported as unclear, never
// dropped, so a wrong sound cannot hide in the gaps.
struct Stretch {
    int Hz;
    int Ms;
};
std::vector<Stretch> Stretches(const std::vector<int16_t>& samples) {
    const size_t block = 441, window = 5 * block;
    std::vector<Stretch> out;
    for (size_t w = 0; w + window <= samples.size(); w += window) {
        int kind = BlockKind(&samples[w], block);
        for (size_t b = 1; b < 5 && kind != kUnclear; ++b)
            if (BlockKind(&samples[w + b * block], block) != kind) kind = kUnclear;
        if (!out.empty() && out.back().Hz == kind)
            out.back().Ms += 50;
        else
            out.push_back({kind, 50});
    }
    return out;
}

// The clear stretches in order; each unclear one between them must be a single boundary window.
// What follows the last clear stretch is where the saver was stopped, which may fall on the start of
// a track: a stretch cut short there says nothing about the program.
std::vector<Stretch> ClearStretches(const std::vector<Stretch>& all) {
    std::vector<Stretch> clear;
    size_t end = all.size();
    while (end > 0 && all[end - 1].Hz == kUnclear) --end;
    for (size_t i = 0; i < end; ++i) {
        const Stretch& s = all[i];
        if (s.Hz != kUnclear) {
            clear.push_back(s);
            continue;
        }
        EXPECT_LE(s.Ms, 50) << "an unclear stretch after " << clear.size() << " clear ones";
    }
    return clear;
}

// The colour at (x, y) of a binary PPM file (8 or 16 bits per sample) as 0xRRGGBB, or -1.
long PpmPixel(const std::string& path, int x, int y) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    if (magic != "P6" || x >= w || y >= h || (max != 255 && max != 65535)) return -1;
    const int bytes = max == 255 ? 1 : 2;
    in.seekg(static_cast<std::streamoff>((int64_t(y) * w + x) * 3 * bytes), std::ios::cur);
    unsigned char rgb[6];
    if (!in.read(reinterpret_cast<char*>(rgb), 3 * bytes)) return -1;
    // The high byte of each 16-bit sample comes first.
    return long(rgb[0]) << 16 | rgb[bytes] << 8 | rgb[2 * bytes];
}

TEST(SaverMusicEndToEndTest, SaverPlaysTheSoundFolderInOrderWithTheGapWhilePicturesChange) {
    constexpr int kShots = 12; // one every half second or more, however slow the start
    const fs::path program = fs::path(LUMORA_BINARY_DIR) / "bin" / "lumora";
    if (!fs::exists(program)) GTEST_SKIP() << "the program is not built: " << program;
    for (const char* tool : {"Xvfb", "sox", "import"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    test::TempDir dir;
    const std::string pictures = dir.File("写真"), music = dir.File("音楽");
    fs::create_directories(pictures);
    fs::create_directories(music);
    auto run = [](const std::string& cmd) { ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd; };
    run("sox -n -r 44100 -c 2 -b 16 '" + music + "/一.wav" + "' synth 1 sine 440 vol 0.5");
    run("sox -n -r 44100 -c 2 -b 16 '" + music + "/二.wav" + "' synth 1 sine 1320 vol 0.5");
    run("convert -size 64x48 xc:red '" + pictures + "/赤.bmp" + "'");
    run("convert -size 64x48 xc:blue '" + pictures + "/青.bmp" + "'");
    std::ostringstream reg;
    reg << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
        << "\"Folder\"=\"" << pictures << "\"\n\"SoundFolder\"=\"" << music << "\"\n"
        << "\"UseSound\"=\"1\"\n\"SndInterval\"=\"1\"\n\"Interval\"=\"1\"\n\"OrdRandom\"="
           "\"0\"\n\"SndRandom\"=\"0\"\n"
        << "\"PosRandom\"=\"0\"\n\"StopOnMouseMove\"=\"0\"\n\n"
        << "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\LOGO]\n\"LogoImgPos\"=\"0\"\n\n"
        << "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n";
    // Pictures change at once, one a second.
    for (int i = 0; i < 88; ++i)
        reg << "\"Method" << i << "\"=\"0\"\n";
    dir.WriteFile("reg.reg", reg.str());
    std::ostringstream script;
    script << "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done\n";
    script << test::kPosixLocale << "'" << program.string() << "' /s 2>'" << dir.File("err.txt") << "' &\npid=$!\n"
           << "for t in $(seq " << kShots << "); do sleep 0.5; import -window root '" << dir.File("shot")
           << "'$t.ppm; done\n"
           << "sleep 5\nkill -TERM $pid\nwait $pid\n"; // room for a slow start (sanitizer builds)
    dir.WriteFile("run.sh", script.str());
    run("env LUMORA_REGISTRY='" + dir.File("reg.reg") + "' LUMORA_AUDIO_OUTPUT=wav:'" + dir.File("out.wav") +
        "' LUMORA_DEVICES=fake:'" + dir.File("dev") + "' QT_QPA_PLATFORM=xcb timeout 120 " + test::WithXvfb() +
        " '-screen 0 640x480x24' sh '" + dir.File("run.sh") + "'");

    std::vector<Stretch> sound = ClearStretches(Stretches(LeftChannel(dir.File("out.wav"))));
    // Leading silence, then t1, the gap, t2, the gap, and t1 again as the list wraps.
    while (!sound.empty() && sound.front().Hz == 0)
        sound.erase(sound.begin());
    const std::string errors = test::ReadFile(dir.File("err.txt"));
    ASSERT_GE(sound.size(), 5u) << errors;
    SCOPED_TRACE("the saver's standard error:\n" + errors);
    EXPECT_EQ(sound[0].Hz, 440);
    EXPECT_NEAR(sound[0].Ms, 950, 100);
    EXPECT_EQ(sound[1].Hz, 0);
    EXPECT_NEAR(sound[1].Ms, 1100, 250);
    EXPECT_EQ(sound[2].Hz, 1320);
    EXPECT_NEAR(sound[2].Ms, 950, 100);
    EXPECT_EQ(sound[3].Hz, 0);
    EXPECT_NEAR(sound[3].Ms, 1100, 250);
    EXPECT_EQ(sound[4].Hz, 440);

    std::set<long> centres;
    bool titleShown = false;
    for (int t = 1; t <= kShots; ++t) {
        std::string shot = dir.File("shot" + std::to_string(t) + ".ppm");
        centres.insert(PpmPixel(shot, 320, 240));
        // The title's spectrum box (navy) on the bottom edge, centred: 300 wide from x = 170.
        titleShown = titleShown || PpmPixel(shot, 170 + 43 + 1, 480 - 30 + 20) == 0x000080;
    }
    EXPECT_TRUE(centres.count(0xFF0000)) << "the red picture was shown";
    EXPECT_TRUE(centres.count(0x0000FF)) << "the blue picture was shown";
    EXPECT_TRUE(titleShown);
}

// Runs "lumora /s" for `seconds` in a fresh X server, showing the picture folder pics/ and playing
// music/ of `dir` with a second between tracks, under the environment `env` (the real devices
// unless it says otherwise); returns what the saver wrote to its standard error.
std::string RunSaver(const test::TempDir& dir, const std::string& env, int seconds) {
    const fs::path program = fs::path(LUMORA_BINARY_DIR) / "bin" / "lumora";
    fs::create_directories(dir.File("pics"));
    if (!fs::exists(dir.File("pics/a.bmp"))) {
        EXPECT_EQ(std::system(("convert -size 64x48 xc:red '" + dir.File("pics/a.bmp") + "'").c_str()), 0);
    }
    std::ostringstream reg;
    reg << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
        << "\"Folder\"=\"" << dir.File("pics") << "\"\n\"SoundFolder\"=\"" << dir.File("music") << "\"\n"
        << "\"UseSound\"=\"1\"\n\"SndInterval\"=\"1\"\n\"Interval\"=\"60\"\n\"SndRandom\"=\"0\"\n"
        << "\"StopOnMouseMove\"=\"0\"\n";
    dir.WriteFile("reg.reg", reg.str());
    std::ostringstream script;
    script << "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done\n"
           << "'" << program.string() << "' /s 2>'" << dir.File("err.txt") << "' &\npid=$!\n"
           << "sleep " << seconds << "\nkill -TERM $pid\nwait $pid\n";
    dir.WriteFile("run.sh", script.str());
    const std::string command = "env -u LUMORA_DEVICES LUMORA_REGISTRY='" + dir.File("reg.reg") + "' " + env +
                                " QT_QPA_PLATFORM=xcb timeout 120 " + test::WithXvfb() +
                                " '-screen 0 640x480x24' sh '" + dir.File("run.sh") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::ReadFile(dir.File("err.txt"));
}

bool CanRunSaver() {
    return fs::exists(fs::path(LUMORA_BINARY_DIR) / "bin" / "lumora") && test::HaveTool("Xvfb") &&
           test::HaveTool("convert");
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The real program, its real devices and its sound output: the song reaches the WAV output through
// the built-in synthesizer, note for note, twice round the list. When each note sounds is held to
// the player's tick on virtual time (SaverMusicTest); here, on a real clock that a busy machine
// holds up at will, only to within half a second.
TEST(SaverMusicEndToEndTest, MidiSoundsThroughTheBuiltInSynthesizerWhereTheFileHasNotesAndNowhereElse) {
    if (!CanRunSaver()) GTEST_SKIP() << "the program, Xvfb or convert is missing";
    if (std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0) GTEST_SKIP() << "python3-mido is missing";
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    test::TempDir dir;
    fs::create_directories(dir.File("music"));
    // The notes (an organ, which holds its level while the key is down) are written by mido, which
    // also says when each one sounds: that is the oracle the output is held against.
    dir.WriteFile("tune.py", R"(import sys, mido
out = mido.MidiFile(ticks_per_beat=480)
track = mido.MidiTrack()
out.tracks.append(track)
track.append(mido.Message('program_change', program=19, time=0))
at = 0
for start, length in ((0.3, 0.6), (1.3, 0.3), (2.1, 0.8)):
    on, off = int(start * 960), int((start + length) * 960)
    track.append(mido.Message('note_on', note=60, velocity=100, time=on - at))
    track.append(mido.Message('note_off', note=60, velocity=0, time=off - on))
    at = off
track.append(mido.MetaMessage('end_of_track', time=0))
out.save(sys.argv[1])
now, starts = 0.0, []
for message in mido.MidiFile(sys.argv[1]):
    now += message.time
    if message.type == 'note_on' and message.velocity > 0:
        starts.append(now)
    elif message.type == 'note_off':
        print(starts.pop(), now)
)");
    std::istringstream spans(test::CommandOutput("/usr/bin/python3 '" + dir.File("tune.py") + "' '" +
                                                 dir.File("music/tune.mid") + "'"));
    struct Note {
        double On, Off;
    };
    std::vector<Note> notes;
    for (Note n; spans >> n.On >> n.Off;) notes.push_back(n);
    ASSERT_EQ(notes.size(), 3u);
    // The ALSA sequencer has no port here or none the saver was told of, and the stored device is
    // empty, so only the built-in synthesizer can sound.
    const std::string errors = RunSaver(dir, "LUMORA_AUDIO_OUTPUT=wav:'" + dir.File("out.wav") + "'", 14);
    SCOPED_TRACE("the saver's standard error:\n" + errors);
    // A machine without a sound card hears of it once, in the program's words, and not from ALSA.
    EXPECT_EQ(errors.find("ALSA lib"), std::string::npos);
    if (fs::exists("/dev/snd"))
        EXPECT_LE(Occurrences(errors, "no ALSA sound device"), 1u);
    else
        EXPECT_EQ(Occurrences(errors, "no ALSA sound device"), 1u);

    // Stretches of sound as (first window, windows).
    const std::vector<bool> loud = LoudWindows(LeftChannel(dir.File("out.wav")));
    std::vector<std::pair<size_t, size_t>> sounds;
    for (size_t w = 0; w < loud.size(); ++w) {
        if (!loud[w]) continue;
        if (!sounds.empty() && sounds.back().first + sounds.back().second == w)
            ++sounds.back().second;
        else
            sounds.push_back({w, 1});
    }
    // The file plays twice (the list wraps after the gap); the second time starts from silence
    // as the first did, with nothing left over from the end of the first.
    ASSERT_GE(sounds.size(), 2 * notes.size()) << "the song did not play twice";
    for (size_t play = 0; play < 2; ++play) {
        SCOPED_TRACE("play " + std::to_string(play + 1));
        const size_t first = play * notes.size();
        const double origin = sounds[first].first * 0.05 - notes[0].On;
        for (size_t i = 0; i < notes.size(); ++i) {
            const double start = sounds[first + i].first * 0.05 - origin, length = sounds[first + i].second * 0.05;
            EXPECT_NEAR(start, notes[i].On, 0.5) << "note " << i;
            EXPECT_NEAR(length, notes[i].Off - notes[i].On, 0.5) << "note " << i;
        }
    }
}

// Without a sound output, and without a General MIDI sound font: every track tries again and fails
// (the red line), and why is told once, in the program's words, with what to install.
TEST(SaverMusicEndToEndTest, WhatTheMusicGoesWithoutIsToldOnce) {
    if (!CanRunSaver()) GTEST_SKIP() << "the program, Xvfb or convert is missing";
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    {
        SCOPED_TRACE("an ALSA device that does not exist, over several tracks");
        test::TempDir dir;
        for (const char* name : {"a.mid", "b.mid", "c.mid"}) dir.WriteFile(std::string("music/") + name, test::OneNoteMidi(480));
        const std::string errors = RunSaver(dir, "LUMORA_AUDIO_OUTPUT=alsa:nosuchdevice", 6);
        EXPECT_EQ(Occurrences(errors, "lumora: no sound output (cannot open ALSA device nosuchdevice: "), 1u) << errors;
        EXPECT_EQ(Occurrences(errors, "audio:"), 0u) << errors;
        EXPECT_EQ(Occurrences(errors, "Can't initialize device"), 0u) << errors;
    }
    {
        SCOPED_TRACE("an empty sound-font folder");
        test::TempDir dir;
        fs::create_directories(dir.File("fonts"));
        dir.WriteFile("music/a.mid", test::OneNoteMidi(480));
        const std::string errors =
            RunSaver(dir, "LUMORA_AUDIO_OUTPUT=null LUMORA_SOUNDFONT_DIR='" + dir.File("fonts") + "'", 4);
        EXPECT_EQ(Occurrences(errors, "lumora: no General MIDI sound font (looked for " + dir.File("fonts") +
                                          "/TimGM6mb.sf2, "),
                  1u)
            << errors;
        EXPECT_NE(errors.find("timgm6mb-soundfont or fluid-soundfont-gm"), std::string::npos) << errors;
    }
}

} // namespace
} // namespace lumora
