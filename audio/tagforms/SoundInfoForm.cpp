#include "audio/tagforms/SoundInfoForm.h"

#include "audio/player/AudioPlayer.h"
#include "audio/tagforms/MPEGInfoBox.h"
#include "audio/tagforms/OGGInfoBox.h"
#include "audio/tagforms/WMAInfoBox.h"
#include "audio/tags/WMAfile.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {

enum class TFormKind { None, Mpeg, Ogg, Wma };

TFormKind FormKind(const std::string& fileName) {
    std::string ext = UpperCase(ExtractFileExt(fileName));
    if (ext == ".MP1" || ext == ".MP2" || ext == ".MP3") return TFormKind::Mpeg;
    if (ext == ".OGG") return TFormKind::Ogg;
    if (ext == ".WMA") return TFormKind::Wma;
    return TFormKind::None;
}

} // namespace

bool HasSoundInfoForm(const std::string& fileName) { return FormKind(fileName) != TFormKind::None; }

bool ShowSoundInfoForm(QWidget* owner, const std::string& fileName, const TStreamInfo* streamInfo) {
    switch (FormKind(fileName)) {
    case TFormKind::Mpeg: return ShowMPEGFileInfo(owner, fileName);
    case TFormKind::Ogg: return ShowOggVorbisInfo(owner, fileName);
    case TFormKind::Wma: {
        TStreamInfo info;
        if (streamInfo) {
            info = *streamInfo;
        } else {
            TWMAfile header;
            if (!header.LoadFromFile(fileName) || !header.Valid()) return false;
            info.FileName = fileName;
            info.SampleRate = header.SampleRate();
            info.Channels = header.ChannelModeID();
        }
        return ShowWMAInfo(owner, fileName, info);
    }
    case TFormKind::None: break;
    }
    return false;
}

} // namespace lumora
