// Reading 8-bit text of no declared code page, beside a reference that converts the same bytes
// from the code page they were written in, as a reader that knew it would:
// - a folder of 20,000 file names in CP932 and Windows-1252, listed and sorted as the pickers do;
// - 2,000 ID3v1 tags whose fields hold such titles, some cut by the 30-byte field;
// - a 1 MB value of Windows-1252 words with quotes, and one of CP932 text.
//
// Counters: "ratio" is our time over the reference time measured in the same run; ours_ms of the
// 1 MB rows stays under 50.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QString>

#include <benchmark/benchmark.h>

#include "audio/tags/ID3v1.h"
#include "bench/BenchSupport.h"
#include "framework/LegacyText.h"
#include "framework/SysUtils.h"
#include "platform/shell/Shell.h"

namespace {

using namespace lumora;

// Titles made of Western words with accents and quotes in Windows-1252 and of Japanese words in
// CP932, alternately.
struct TTitle {
    std::string Bytes, Codec;
};

std::vector<TTitle> Titles() {
    static const char* western[] = {"Café", "Crème", "brûlée", "Über", "Größe", "naïve", "Déjà", "vu", "São", "Tomé",
                                    "Ação", "Mañana", "Smörgåsbord", "Ölgemälde", "Ça", "marche", "très", "bien",
                                    "Björk", "Noël", "“Heroes”", "I’m", "Yours", "–", "…", "Œuvres", "Žena", "€5",
                                    "Love", "Song", "Live", "(Remix)", "Night", "Dream", "Blue", "Fête"};
    static const char* japanese[] = {"写真", "ソング", "さくら", "上を向いて", "歩こう", "千本桜", "夜に駆ける", "ｿﾝｸﾞ",
                                     "ﾗﾌﾞﾏｼｰﾝ", "ＬＯＶＥ", "残酷な", "天使の", "テーゼ", "米津玄師", "ライブ", "東京",
                                     "第1話", "鬼滅の刃", "君の名は。", "ありがとう", "Lemon", "feat.", "初音ミク", "海の声"};
    std::vector<TTitle> titles;
    uint32_t seed = 52;
    auto next = [&](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int i = 0; i < 4000; ++i) {
        bool jp = i % 2 == 1;
        std::string text;
        for (size_t w = 0, words = 1 + next(4); w < words; ++w) {
            if (!text.empty() && (!jp || next(3) == 0)) text += ' ';
            text += jp ? japanese[next(std::size(japanese))] : western[next(std::size(western))];
        }
        auto bytes = jp ? Utf8ToCP932(text) : Utf8ToWindows1252(text);
        if (bytes) titles.push_back({*bytes, jp ? "CP932" : "WINDOWS-1252"});
    }
    return titles;
}

std::string Known(const TTitle& t, std::string_view bytes) {
    return t.Codec == "CP932" ? CP932ToUtf8(bytes).value_or(std::string()) : Windows1252ToUtf8(bytes);
}

class TNameFolder {
public:
    TNameFolder() {
        dir_ = std::filesystem::temp_directory_path() / ("lumora-bench-names-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::vector<TTitle> titles = Titles();
        for (int i = 0; i < 20000; ++i) {
            const TTitle& t = titles[static_cast<size_t>(i) % titles.size()];
            std::string name = std::to_string(i / titles.size()) + " " + t.Bytes + ".mp3";
            std::replace(name.begin(), name.end(), '/', '_');
            std::ofstream(dir_ / name);
            names_.push_back({name, t.Codec});
        }
    }
    ~TNameFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Path() const { return dir_.string(); }
    const std::vector<TTitle>& Names() const { return names_; }

private:
    std::filesystem::path dir_;
    std::vector<TTitle> names_;
};

// The pickers' listing: the folder's items sorted, each name shown.
void BM_FolderOfLegacyNames(benchmark::State& state) {
    static TNameFolder folder;
    TItemIdList id;
    if (!ParseDisplayName(folder.Path(), id)) return state.SkipWithError("no such folder");
    TShellFolder shell(id);
    size_t shown = 0;
    bench::CompareFastest(
        state, "known_code_page",
        [&] {
            std::vector<TItemIdList> items;
            shell.EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items);
            shell.SortIds(items);
            for (const auto& item : items) shown += shell.DisplayNameOf(item, SHGDN_INFOLDER).size();
        },
        [&] {
            // Each name converted once from the code page it is in, then sorted by the converted text.
            std::vector<std::pair<QString, std::string>> keys;
            for (const auto& n : folder.Names()) {
                std::string text = Known(n, n.Bytes);
                keys.emplace_back(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), n.Bytes);
            }
            std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
                int c = QString::compare(a.first, b.first, Qt::CaseInsensitive);
                return c != 0 ? c < 0 : a.second < b.second;
            });
            shown += keys.size();
        });
    benchmark::DoNotOptimize(shown);
}
BENCHMARK(BM_FolderOfLegacyNames)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_Id3v1Tags(benchmark::State& state) {
    std::vector<TTitle> titles = Titles();
    std::vector<std::string> blocks;
    std::vector<const TTitle*> sources;
    for (int i = 0; i < 2000; ++i) {
        const TTitle& t = titles[static_cast<size_t>(i * 7) % titles.size()];
        std::string block(128, '\0');
        block.replace(0, 3, "TAG");
        for (int field = 0; field < 3; ++field) block.replace(3 + 30 * field, std::min<size_t>(30, t.Bytes.size()), t.Bytes.substr(0, 30));
        block.replace(97, std::min<size_t>(28, t.Bytes.size()), t.Bytes.substr(0, 28));
        blocks.push_back(block);
        sources.push_back(&t);
    }
    size_t read = 0;
    bench::CompareFastest(
        state, "known_code_page",
        [&] {
            for (const auto& block : blocks) {
                TID3v1 tag;
                TMP3TagInfo info;
                tag.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 128, info);
                read += tag.Title().size() + tag.Artist().size() + tag.Album().size() + tag.Comment().size();
            }
        },
        [&] {
            for (size_t i = 0; i < blocks.size(); ++i) {
                std::string_view b(blocks[i]);
                for (auto [at, length] : {std::pair{3, 30}, std::pair{33, 30}, std::pair{63, 30}, std::pair{97, 28}}) {
                    std::string_view field = b.substr(static_cast<size_t>(at), static_cast<size_t>(length));
                    read += Known(*sources[i], field.substr(0, field.find('\0'))).size();
                }
            }
        });
    benchmark::DoNotOptimize(read);
}
BENCHMARK(BM_Id3v1Tags)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

// A long value: words with opening and closing quotes and dashes in Windows-1252, or CP932 text.
void BM_OneMegabyteValue(benchmark::State& state) {
    bool japanese = state.range(0) == 1;
    std::vector<TTitle> titles = Titles();
    std::string value;
    for (size_t i = 0; value.size() < (1u << 20); ++i) {
        const TTitle& t = titles[(i * 13) % titles.size()];
        if ((t.Codec == "CP932") != japanese) continue;
        value += (japanese ? "" : "\x93") + t.Bytes + (japanese ? "\x81\x42" : "\x94 \x96 ");
    }
    TTitle kind{"", japanese ? "CP932" : "WINDOWS-1252"};
    size_t read = 0;
    bench::CompareFastest(
        state, "known_code_page", [&] { read += DecodeLegacyText(value).size(); },
        [&] { read += Known(kind, value).size(); });
    benchmark::DoNotOptimize(read);
}
BENCHMARK(BM_OneMegabyteValue)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
