// Fuzz target: the ASF attribute editor. A header that parses must rebuild into one that parses
// to the same attributes, before and after a round of edits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/tags/WMAEditor.h"

namespace {

using namespace lumora;

// The lists agree but for the file size, which a rebuild sets to the new total.
bool SameAttributes(const TAsfHeader& a, const TAsfHeader& b) {
    std::vector<TWMAttribute> x = a.Attributes(wmAnyStream), y = b.Attributes(wmAnyStream);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (!(x[i] == y[i]) && !(x[i].ReadOnly && x[i].Name == "FileSize" && y[i].Name == "FileSize")) return false;
    return true;
}

void RoundTrip(const TAsfHeader& header) {
    std::vector<uint8_t> rebuilt = header.Rebuild(1000);
    if (rebuilt.empty()) return;
    TAsfHeader again;
    if (again.Parse(rebuilt) != wmOK || !SameAttributes(header, again)) std::abort();
    if (!header.Modified() && rebuilt.size() != header.Size()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    // The declared header size is made to match, so the fuzzer spends its time on the objects.
    if (bytes.size() >= 24)
        for (int i = 0; i < 8; ++i) bytes[16 + i] = static_cast<uint8_t>(uint64_t(bytes.size()) >> (8 * i));
    TAsfHeader header;
    if (header.Parse(bytes) != wmOK) return 0;
    RoundTrip(header);

    uint16_t index = 0;
    header.AddAttribute(0, "Title", index, WMT_TYPE_STRING, 0, WMStringValue("fuzz title"));
    header.AddAttribute(0, "WM/Genre", index, WMT_TYPE_STRING, 0, WMStringValue("Genre"));
    header.AddAttribute(5, "Stream", index, WMT_TYPE_BOOL, 0, std::vector<uint8_t>{1, 0, 0, 0});
    uint16_t count = header.AttributeCount(0);
    if (count > 0) {
        header.ModifyAttribute(0, 0, WMT_TYPE_DWORD, 0, std::vector<uint8_t>{1, 2, 3, 4});
        header.DeleteAttribute(0, static_cast<uint16_t>(count / 2));
    }
    RoundTrip(header);
    return 0;
}
