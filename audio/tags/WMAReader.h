#pragma once
// The tags of a WMA file as the information form shows them, read and written through the
// attribute editor.

#include <cstdint>
#include <string>

namespace lumora {

struct TTagsData {
    std::string EncodedBy, WMFSDKVersion, Genre, Author, Title, AlbumTitle, Composer, URL, TrackNumber, Year,
        Copyright;
    std::string Description, Lyrics;
    int32_t BitRate = 0;  // bits per second
    int64_t FileSize = 0;
    int32_t Duration = 0; // seconds
    bool IsVBR = false;
};

class TWMAReader {
public:
    // Reads the tags of an existing file and remembers it for SaveTags. False (after the message
    // "Could Not Load Tags!") when the file is missing or no readable WMA file.
    bool LoadTags(const std::string& fileName, TTagsData& data);
    // Writes the text fields (all but WMFSDKVersion) that differ from what was loaded to the file
    // last loaded: a non-empty text sets its attribute, an empty one deletes it; a text too long
    // for the object its attribute lives in is stored as a new attribute where it fits. Either every
    // attribute is written or, on failure (after its message), the file is left as it was.
    bool SaveTags(const TTagsData& data);
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    TTagsData loaded_;
};

} // namespace lumora
