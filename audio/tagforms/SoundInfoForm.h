#pragma once
// Reaching the information and tag forms: the one that fits a sound file by its kind.

#include <string>

class QWidget;

namespace lumora {

struct TStreamInfo;

// True when a form fits the file's kind (MPEG audio, Ogg Vorbis, WMA).
bool HasSoundInfoForm(const std::string& fileName);

// Shows, modally, the form that fits the file, made for that file and its own reader. The WMA form
// shows the sample rate and channels of streamInfo when given (the player's open file), else as the
// file's header gives them. False when no form fits or the file cannot be read as its kind.
bool ShowSoundInfoForm(QWidget* owner, const std::string& fileName, const TStreamInfo* streamInfo = nullptr);

} // namespace lumora
