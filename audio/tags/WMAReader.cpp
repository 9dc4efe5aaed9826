#include "audio/tags/WMAReader.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "audio/tags/WMAEditor.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {

// Opens the editor on the file; a file that went away between the check and the open is an error
// the caller's handler reports.
TWMResult OpenEditor(TWMMetadataEditor& editor, const std::string& fileName) {
    TWMResult result = editor.Open(fileName);
    if (result == wmErrFileNotFound) throw Exception("The file\r\n" + FileNameUtf8(fileName) + "\r\ndoes'nt exists!");
    return result;
}

} // namespace

bool TWMAReader::LoadTags(const std::string& fileName, TTagsData& data) {
    bool ok = false;
    if (FileExists(fileName)) {
        fileName_ = fileName;
        data = TTagsData();
        loaded_ = TTagsData();
        TWMMetadataEditor editor;
        if (OpenEditor(editor, fileName) == wmOK) {
            uint16_t count = editor.GetAttributeCount(0);
            uint64_t duration = 0; // 100-nanosecond units, the preroll left out
            for (uint16_t i = 0; i < count; ++i) {
                TWMAttribute a;
                if (editor.GetAttributeByIndex(0, i, a) != wmOK) continue;
                std::string name = UpperCase(a.Name);
                if (a.Type == WMT_TYPE_STRING) {
                    // Texts are kept whole: a tag that was cut here would be written back cut.
                    std::string text = WMValueText(a.Value);
                    std::string* field = name == "WM/ENCODEDBY"     ? &data.EncodedBy
                                         : name == "WMFSDKVERSION"  ? &data.WMFSDKVersion
                                         : name == "WM/GENRE"       ? &data.Genre
                                         : name == "AUTHOR"         ? &data.Author
                                         : name == "TITLE"          ? &data.Title
                                         : name == "WM/ALBUMTITLE"  ? &data.AlbumTitle
                                         : name == "WM/COMPOSER"    ? &data.Composer
                                         : name == "WM/URL"         ? &data.URL
                                         : name == "WM/TRACKNUMBER" ? &data.TrackNumber
                                         : name == "WM/YEAR"        ? &data.Year
                                         : name == "COPYRIGHT"      ? &data.Copyright
                                         : name == "DESCRIPTION"    ? &data.Description
                                         : name == "WM/LYRICS"      ? &data.Lyrics
                                                                    : nullptr;
                    if (field) *field = text;
                } else if (name == "WM/TRACKNUMBER" &&
                           (a.Type == WMT_TYPE_DWORD || a.Type == WMT_TYPE_QWORD ||
                            a.Type == WMT_TYPE_WORD)) {
                    // Many tools store the track as a number; it is shown, and written back, as text
                    // only when edited.
                    data.TrackNumber = std::to_string(WMValueNumber(a.Type, a.Value));
                } else if (a.Type == WMT_TYPE_QWORD && name == "DURATION") {
                    duration = WMValueNumber(a.Type, a.Value);
                } else if (a.Type == WMT_TYPE_BOOL && name == "ISVBR") {
                    data.IsVBR = WMValueNumber(a.Type, a.Value) != 0;
                } else if (a.Type == WMT_TYPE_DWORD && name == "BITRATE") {
                    data.BitRate = static_cast<int32_t>(std::min<uint64_t>(WMValueNumber(a.Type, a.Value), INT32_MAX));
                } else if (a.Type == WMT_TYPE_QWORD && name == "FILESIZE") {
                    data.FileSize = static_cast<int64_t>(std::min<uint64_t>(WMValueNumber(a.Type, a.Value), INT64_MAX));
                }
            }
            // The play time of the file properties; the size over the bit rate, which counts the
            // header with its tags as sound, only for a file without one.
            if (duration > 0)
                data.Duration = static_cast<int32_t>(std::min<uint64_t>(
                    duration / 10'000'000 + (duration % 10'000'000 >= 5'000'000), INT32_MAX));
            else
                data.Duration = data.FileSize > 0 && data.BitRate > 0
                                    ? static_cast<int32_t>(std::llround(double(data.FileSize) * 8 /
                                                                        (data.BitRate / 1000.0) / 1000))
                                    : 0;
            editor.Close();
            loaded_ = data;
            ok = true;
        }
    }
    if (!ok) MessageBox("Could Not Load Tags!", "Error", TMsgIcon::Error);
    return ok;
}

bool TWMAReader::SaveTags(const TTagsData& data) {
    bool ok = false;
    TWMMetadataEditor editor;
    if (!fileName_.empty() && OpenEditor(editor, fileName_) == wmOK) {
        const std::tuple<const char*, const std::string*, const std::string*> fields[] = {
            {"WM/EncodedBy", &data.EncodedBy, &loaded_.EncodedBy},
            {"WM/Genre", &data.Genre, &loaded_.Genre},
            {"Author", &data.Author, &loaded_.Author},
            {"WM/Composer", &data.Composer, &loaded_.Composer},
            {"Title", &data.Title, &loaded_.Title},
            {"WM/AlbumTitle", &data.AlbumTitle, &loaded_.AlbumTitle},
            {"WM/Year", &data.Year, &loaded_.Year},
            {"WM/TrackNumber", &data.TrackNumber, &loaded_.TrackNumber},
            {"WM/URL", &data.URL, &loaded_.URL},
            {"Copyright", &data.Copyright, &loaded_.Copyright},
            {"Description", &data.Description, &loaded_.Description},
            {"WM/Lyrics", &data.Lyrics, &loaded_.Lyrics}};
        ok = true;
        for (const auto& [name, text, before] : fields) {
            // A field left as it was keeps every attribute behind it, several values included.
            if (*text == *before) continue;
            // Only file-level attributes are changed; one that belongs to a stream is left alone.
            // The new text replaces every file-level value of the name (files often carry a title
            // both in the content description and as an extended item), since readers show the
            // last one and an edit that left another behind would not be seen.
            std::vector<uint16_t> found;
            for (uint16_t index : editor.GetAttributeIndices(wmAnyStream, name))
                if (index < editor.GetAttributeCount(0)) found.push_back(index);
            std::vector<uint8_t> value = WMStringValue(*text);
            TWMResult result = wmOK;
            bool modified = false;
            if (!text->empty() && !found.empty()) {
                result = editor.ModifyAttribute(0, found[0], WMT_TYPE_STRING, 0, value);
                modified = result == wmOK;
                // The content description and the extended content hold values of up to 65,535
                // bytes; a longer one replaces the attribute with a new one, which the editor
                // places in the metadata library.
                if (result == wmErrTooLarge) result = wmOK;
            }
            // Deleting from the last index down leaves the lower indices as they were.
            for (size_t k = found.size(); k > (modified ? 1u : 0u) && result == wmOK; --k)
                result = editor.DeleteAttribute(0, found[k - 1]);
            if (result == wmOK && !text->empty() && !modified) {
                uint16_t added = 0;
                result = editor.AddAttribute(0, name, added, WMT_TYPE_STRING, 0, value);
            }
            if (result != wmOK) {
                ok = false;
                break;
            }
        }
        // Nothing reaches the file unless every attribute step succeeded.
        if (ok) ok = editor.Flush() == wmOK;
        editor.Close();
        if (ok) {
            std::string version = loaded_.WMFSDKVersion;
            loaded_ = data;
            loaded_.WMFSDKVersion = version;
        }
    }
    if (!ok) MessageBox("Could not save Tags ! (Check if the file is opened for other purpose.)", "Error", TMsgIcon::Error);
    return ok;
}

} // namespace lumora
