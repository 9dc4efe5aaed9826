#include "engine/playlists/PlayLists.h"

#include <cstring>
#include <set>

#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "platform/system/Random.h"
#include "platform/shell/ShellLink.h"

namespace lumora {

const char* const kPictureExtensions = ".jpg;.jpeg;.bmp;.gif;.tif;.tiff;.png;.pcx;.tga";
const char* const kTrackExtensions = ".mp3;.wav;.mid;.rmi;.wma;.ogg";

// ---- Free routines ----

void CutAtNul(std::string& s) {
    size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
}

bool ResolveShortcut(const std::string& linkPath, std::string& target) {
    bool ok = ResolveShellLink(linkPath, target);
    CutAtNul(target);
    return ok && !target.empty();
}

namespace {
bool IsLinkName(const std::string& name) { return UpperCase(ExtractFileExt(name)) == ".LNK"; }
} // namespace

bool FileExistsIn(const std::string& folder, const std::string& name) {
    // No folder is no place for a file (rather than the root of the file system).
    if (folder.empty() || name.empty()) return false;
    std::string path = IncludeTrailingPathDelimiter(folder) + name;
    if (!IsLinkName(name)) return FileExists(path);
    std::string target;
    return ResolveShortcut(path, target) && FileExists(target);
}

std::string ResolveLinkPath(const std::string& path) {
    if (!FileExists(path)) return {};
    if (!IsLinkName(path)) return path;
    std::string target;
    if (!ResolveShortcut(path, target)) return path;
    return FileExists(target) ? target : std::string();
}

TOrderMode ToOrderMode(int value) { return value >= 0 && value <= 4 ? static_cast<TOrderMode>(value) : TOrderMode{omByPath}; }

namespace {
int Sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

// The file-name part: the text after the last separator. Only "/" separates here; "\" and ":"
// are ordinary characters of a Linux file name.
std::string_view NamePart(const std::string& path) {
    size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string_view(path) : std::string_view(path).substr(cut + 1);
}
} // namespace

int CompareByName(const TStringList& list, int a, int b) {
    return Sign(NamePart(list[a]).compare(NamePart(list[b])));
}
int CompareByNameDesc(const TStringList& list, int a, int b) { return -CompareByName(list, a, b); }
int CompareByPath(const TStringList& list, int a, int b) { return Sign(list[a].compare(list[b])); }
int CompareByPathDesc(const TStringList& list, int a, int b) { return -CompareByPath(list, a, b); }

void ShuffleList(TStringList& list) {
    // Fisher-Yates: every order equally likely, in one pass.
    for (int i = list.Count() - 1; i > 0; --i) {
        int j = Random(i + 1);
        if (j != i) list.Exchange(i, j);
    }
}

void ReverseList(TStringList& list) {
    for (int i = 0, j = list.Count() - 1; i < j; ++i, --j) list.Exchange(i, j);
}

void ApplyOrder(TStringList& list, TOrderMode mode, bool descending) {
    switch (mode) {
    case omByName: list.CustomSort(descending ? CompareByNameDesc : CompareByName); break;
    case omShuffle:
    case omShuffleEachWrap: ShuffleList(list); break;
    case omAsFound:
        if (descending) ReverseList(list);
        break;
    case omByPath: list.CustomSort(descending ? CompareByPathDesc : CompareByPath); break;
    default: break;
    }
}

std::string RelativePath(const std::string& folder, const std::string& path) {
    size_t skip = folder.size();
    if (!folder.empty() && folder.back() != '/') ++skip;
    return skip < path.size() ? path.substr(skip) : std::string();
}

// ---- One folder scan ----

struct TFileProc::TScanState {
    bool stopAfter50 = false;
    std::set<TFolderId> entered; // folders met once are not entered again (link loops)

    bool Full(const TStringList& files) const { return stopAfter50 && files.Count() > kPreviewScanLimit; }
};

TFileProc::TFileProc(const std::string& folder, bool stopAfter50, bool subFolders, const std::string& extensions)
    : SubFolders(subFolders) {
    ExtList.SetCaseSensitive(true); // entries are upper-cased already; lookups stay byte-exact
    std::string text = extensions + ";";
    size_t start = 0;
    for (size_t semi; (semi = text.find(';', start)) != std::string::npos; start = semi + 1) {
        std::string piece = text.substr(start, semi - start);
        if (piece.empty()) continue;
        if (piece[0] != '.') piece.insert(0, 1, '.');
        ExtList.Add(UpperCase(piece));
    }
    ExtList.Sort();

    if (folder.empty()) {
        // No folder set: nothing to scan, and nothing in the list that could be played.
        noFolder_ = true;
        return;
    }
    Folder = IncludeTrailingPathDelimiter(folder);
    TScanState state;
    state.stopAfter50 = stopAfter50;
    Scan(Folder, state);
}

bool TFileProc::HasExt(const std::string& ext) const {
    int index;
    return !ext.empty() && ExtList.Find(UpperCase(ext), index);
}

void TFileProc::Scan(const std::string& folder, TScanState& state) {
    if (state.Full(Files)) return;
    TFolderReader reader;
    if (!reader.Open(folder)) return;
    if (!state.entered.insert(reader.Id()).second) return;

    TFolderEntry entry;
    std::string path;
    while (reader.Next(entry)) {
        if (state.Full(Files)) break;
        path.assign(folder).append(entry.Name);
        if (entry.Kind == TEntryKind::Folder) {
            if (SubFolders) Scan(path + "/", state);
            continue;
        }
        if (entry.Kind != TEntryKind::File) continue;
        size_t dot = entry.Name.find_last_of('.');
        if (dot == std::string::npos) continue;
        std::string ext = UpperCase(entry.Name.substr(dot));
        if (ext != ".LNK") {
            int index;
            if (ExtList.Find(ext, index)) Files.Add(path);
            continue;
        }
        // A shortcut counts when its target has a listed extension and exists; the list keeps the
        // shortcut's own path.
        std::string target;
        if (ResolveShortcut(path, target) && HasExt(ExtractFileExt(target)) && FileExists(target)) Files.Add(path);
    }
}

// ---- Sound-to-picture groups ----

namespace {
// A value stored with another type than text counts as missing, so no hand edit of the groups
// stops the saver.
std::string ReadGroupText(TRegIniFile& reg, const std::string& section, const std::string& name) {
    try {
        return reg.ReadString(section, name, "");
    } catch (const ERegistryException&) {
        return {};
    }
}
} // namespace

TFileGrpProc::TFileGrpProc(const std::string& soundFolder, bool fullPaths, const std::string& keyPath,
                           const std::string& pictureFolder) {
    Groups.SetOwnsObjects(true);
    TRegIniFile reg(keyPath, TRegIniFile::ReadOnly);
    TStringList names;
    reg.ReadSection("GroupDef", names);
    for (int i = 0; i < names.Count(); ++i) {
        const std::string& section = names[i];
        std::string track = ReadGroupText(reg, "GroupDef", section);
        auto pictures = std::make_unique<TStringList>();
        pictures->SetOwnsObjects(true);
        if (!track.empty() && FileExistsIn(soundFolder, track)) {
            TStringList values;
            reg.ReadSection(section, values);
            for (int j = 0; j < values.Count(); ++j) {
                std::string picture = ReadGroupText(reg, section, values[j]);
                if (!picture.empty() && FileExistsIn(pictureFolder, picture))
                    pictures->Add(fullPaths ? IncludeTrailingPathDelimiter(pictureFolder) + picture : picture);
            }
            Groups.AddObject(fullPaths ? IncludeTrailingPathDelimiter(soundFolder) + track : track, pictures.release());
        } else {
            Groups.AddObject("", pictures.release());
        }
    }
    // A group whose track is missing, or none of whose pictures exists, is dropped.
    for (int i = Groups.Count() - 1; i >= 0; --i)
        if (PicturesOf(i)->Count() == 0) Groups.Delete(i);
}

TStringList* TFileGrpProc::PicturesOf(int group) const {
    return static_cast<TStringList*>(Groups.Objects(group));
}

// ---- The play-list manager ----

TFileManage::TFileManage(bool useSound, bool isPreview, bool sSoundFolder, bool sFolder, const std::string& keyPath,
                         bool grouping, const std::string& soundFolder, const std::string& folder)
    : GroupMode(grouping && useSound), UseSound(useSound), PictureFolder(folder), SoundFolder(soundFolder),
      KeyPath(keyPath) {
    if (GroupMode) {
        GroupProc = std::make_unique<TFileGrpProc>(soundFolder, true, keyPath, folder);
        return;
    }
    Pictures = std::make_unique<TFileProc>(folder, isPreview, sFolder, kPictureExtensions);
    if (useSound) Tracks = std::make_unique<TFileProc>(soundFolder, false, sSoundFolder, kTrackExtensions);
}

TFileManage::~TFileManage() = default;

TStringList* TFileManage::PictureList() const {
    if (!GroupMode) return Pictures ? &Pictures->Files : nullptr;
    if (TrackIndex < 0 || TrackIndex >= GroupProc->Groups.Count()) return nullptr;
    return GroupProc->PicturesOf(TrackIndex);
}

TStringList* TFileManage::TrackList() const {
    if (GroupMode) return &GroupProc->Groups;
    return Tracks ? &Tracks->Files : nullptr;
}

void TFileManage::SetOrder(TOrderMode picMode, bool picDesc, TOrderMode trackMode, bool trackDesc) {
    PicMode = picMode;
    PicDesc = picDesc;
    TrackMode = trackMode;
    TrackDesc = trackDesc;
    if (GroupMode) {
        for (int i = 0; i < GroupProc->Groups.Count(); ++i) ApplyOrder(*GroupProc->PicturesOf(i), PicMode, PicDesc);
        ApplyOrder(GroupProc->Groups, TrackMode, TrackDesc);
        return;
    }
    ApplyOrder(Pictures->Files, PicMode, PicDesc);
    if (Tracks) ApplyOrder(Tracks->Files, TrackMode, TrackDesc);
}

void TFileManage::InitIndexes() {
    if (GroupMode) {
        int groups = GroupProc->Groups.Count();
        if (TrackMode == omRandom) TrackIndex = Random(groups);
        TStringList* pictures = PictureList();
        if (groups > 0 && pictures && pictures->Count() > 0 && PicMode == omRandom)
            PictureIndex = Random(pictures->Count());
        return;
    }
    if (Pictures->Files.Count() > 0 && PicMode == omRandom) PictureIndex = Random(Pictures->Files.Count());
    if (Tracks && Tracks->Files.Count() > 0 && TrackMode == omRandom) TrackIndex = Random(Tracks->Files.Count());
}

bool TFileManage::CurrentPicture(std::string& name) {
    name.clear();
    // Without a picture folder the saver runs with no pictures at all, and that is not a failure.
    if (PictureFolder.empty()) return true;
    TStringList* list = PictureList();
    if (!list || list->Count() == 0) return false;
    if (PictureIndex < 0 || PictureIndex >= list->Count()) {
        PictureIndex = 0;
        if (PicMode == omShuffleEachWrap) ShuffleList(*list);
    }
    name = (*list)[PictureIndex];
    return true;
}

void TFileManage::AdvancePicture() {
    TStringList* list = PictureList();
    if (PicMode == omRandom && list && list->Count() > 0) {
        int last = PictureIndex;
        PictureIndex = Random(list->Count());
        for (int tries = 0; tries < 4 && PictureIndex == last; ++tries) PictureIndex = Random(list->Count());
        return;
    }
    ++PictureIndex;
}

void TFileManage::CurrentCaption(std::string& text) const {
    text.clear();
    TStringList* list = PictureList();
    if (!list || PictureIndex < 0 || PictureIndex >= list->Count()) return;
    text = RelativePath(PictureFolder, (*list)[PictureIndex]);
}

int TFileManage::TrackCount() const {
    if (!UseSound) return 0;
    TStringList* list = TrackList();
    return list ? list->Count() : 0;
}

void TFileManage::CurrentTrack(std::string& name) const {
    name.clear();
    TStringList* list = TrackList();
    if (!UseSound || !list || TrackIndex < 0 || TrackIndex >= list->Count()) return;
    name = (*list)[TrackIndex];
}

void TFileManage::NextTrack(std::string& name) {
    name.clear();
    TStringList* list = TrackList();
    int n = list ? list->Count() : 0;
    // An empty list has no next track (and no modulus to take).
    if (!UseSound || n == 0) return;
    if (TrackMode != omRandom) {
        TrackIndex = (TrackIndex + 1) % n;
        if (TrackIndex < 0) TrackIndex = 0;
        if (TrackIndex == 0 && TrackMode == omShuffleEachWrap) ShuffleList(*list);
    } else {
        int last = TrackIndex;
        TrackIndex = Random(n);
        for (int tries = 0; tries < 4 && TrackIndex == last && n >= 2; ++tries) TrackIndex = Random(n);
    }
    if (GroupMode) PictureIndex = 0;
    name = (*list)[TrackIndex];
}

} // namespace lumora
