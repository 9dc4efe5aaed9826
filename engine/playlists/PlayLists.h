#pragma once
// Play lists: the picture and sound folder trees turned into ordered lists, the sound-to-picture
// groups, and the manager that answers the saver's "which picture, which track" questions.

#include <cstdint>
#include <memory>
#include <string>

#include "framework/Classes.h"

namespace lumora {

// Extension lists as the play-list manager passes them.
extern const char* const kPictureExtensions; // ".jpg;.jpeg;.bmp;.gif;.tif;.tiff;.png;.pcx;.tga"
extern const char* const kTrackExtensions;   // ".mp3;.wav;.mid;.rmi;.wma;.ogg"

// A preview scan stops as soon as its list holds more than this many files.
constexpr int kPreviewScanLimit = 50;

// Order of a list, 0..5: by file name, random pick, shuffle once, shuffle at each wrap, as found,
// by full path.
using TOrderMode = uint8_t;
enum : TOrderMode { omByName = 0, omRandom = 1, omShuffle = 2, omShuffleEachWrap = 3, omAsFound = 4, omByPath = 5 };

// ---- Free routines ----

void CutAtNul(std::string& s);
// The target of a shortcut file (see platform/shell/ShellLink.h for how a Windows target maps onto
// this file system); false when the file is no readable shortcut.
bool ResolveShortcut(const std::string& linkPath, std::string& target);
// Whether the file folder/name exists; for a ".lnk" name, whether its shortcut's target exists.
bool FileExistsIn(const std::string& folder, const std::string& name);
// Empty when path does not exist; for a shortcut that resolves, its target (empty when the target
// does not exist); otherwise path itself. The case of a path is never changed.
std::string ResolveLinkPath(const std::string& path);
// 0..4 as they are, anything else 5.
TOrderMode ToOrderMode(int value);
inline bool IntToBool(int value) { return value != 0; }

// Comparers for TStringList::CustomSort: by the file-name part or by the whole path, ordinal bytes.
int CompareByName(const TStringList& list, int a, int b);
int CompareByNameDesc(const TStringList& list, int a, int b);
int CompareByPath(const TStringList& list, int a, int b);
int CompareByPathDesc(const TStringList& list, int a, int b);

// Uniform random order; attached objects move with their entries.
void ShuffleList(TStringList& list);
void ReverseList(TStringList& list);
// Puts a list into the order of mode; descending matters for modes 0, 4 and 5 only.
void ApplyOrder(TStringList& list, TOrderMode mode, bool descending);
// The rest of path after folder and its separator; empty when path is not longer than that.
std::string RelativePath(const std::string& folder, const std::string& path);

// ---- One folder scan ----

class TFileProc : public TObject {
public:
    // Scans folder (and its sub-folders when subFolders) for files with the listed extensions
    // (semicolon-separated, dot optional, any case). With stopAfter50 the scan ends as soon as the
    // list holds more than 50 files. An empty folder scans nothing: NoFolder() is then true and
    // the list stays empty.
    TFileProc(const std::string& folder, bool stopAfter50, bool subFolders, const std::string& extensions);

    std::string Folder;  // with a trailing "/" (empty when no folder was given)
    TStringList ExtList; // upper-case extensions with their dot, sorted
    bool SubFolders = false;
    TStringList Files;   // full paths in scan order until ordered

    bool NoFolder() const { return noFolder_; }
    // Whether ext (with its dot, any case) is listed.
    bool HasExt(const std::string& ext) const;

private:
    struct TScanState;
    void Scan(const std::string& folder, TScanState& state);
    bool noFolder_ = false;
};

// ---- Sound-to-picture groups ----

class TFileGrpProc : public TObject {
public:
    // Reads the groups stored under the settings key keyPath: tracks must exist in soundFolder,
    // pictures in pictureFolder; entries become full paths when fullPaths; groups left without a
    // picture are dropped.
    TFileGrpProc(const std::string& soundFolder, bool fullPaths, const std::string& keyPath,
                 const std::string& pictureFolder);

    // Entries are the groups' tracks; each entry's object is its picture list (a TStringList).
    TStringList Groups;

    TStringList* PicturesOf(int group) const;
};

// ---- The play-list manager ----

class TFileManage {
public:
    TFileManage(bool useSound, bool isPreview, bool sSoundFolder, bool sFolder, const std::string& keyPath,
                bool grouping, const std::string& soundFolder, const std::string& folder);
    ~TFileManage();
    TFileManage(const TFileManage&) = delete;
    TFileManage& operator=(const TFileManage&) = delete;

    void SetOrder(TOrderMode picMode, bool picDesc, TOrderMode trackMode, bool trackDesc);
    void InitIndexes();
    // The picture to show now; false when there is none (true with an empty name when no picture
    // folder is set).
    bool CurrentPicture(std::string& name);
    void AdvancePicture();
    // The current picture relative to the picture folder.
    void CurrentCaption(std::string& text) const;
    int TrackCount() const;
    void CurrentTrack(std::string& name) const;
    void NextTrack(std::string& name);

    bool GroupMode = false;
    bool UseSound = false;
    std::unique_ptr<TFileProc> Pictures;
    std::unique_ptr<TFileProc> Tracks;
    std::unique_ptr<TFileGrpProc> GroupProc;
    std::string PictureFolder, SoundFolder, KeyPath;
    TOrderMode PicMode = omAsFound, TrackMode = omAsFound;
    bool PicDesc = false, TrackDesc = false;
    int TrackIndex = 0;
    int PictureIndex = 0;

private:
    // The picture list in use: the picture list, or in group mode the current group's list.
    TStringList* PictureList() const;
    // The track list in use: the track list, or in group mode the group list.
    TStringList* TrackList() const;
};

} // namespace lumora
