#pragma once
// The MIDI preview: plays a standard MIDI file of the sound folder picker through the settings
// dialog's MIDI output, with the activity scope, a progress bar and the file name in a ticker.

#include <memory>
#include <string>

#include <QDialog>

#include "audio/midi/MidiFile.h"
#include "dialogs/previews/SoundPreview.h"

namespace Ui {
class SPrev2;
}

namespace lumora {

class TAudioMixer;
class TMidiScope;
class TSaverSettings;
class TScreenSaverInhibit;

class TSPrev2 : public QDialog {
public:
    TSPrev2(TSaverSettings* settings, QWidget* parent = nullptr);
    ~TSPrev2() override;

    Ui::SPrev2* ui;
    std::unique_ptr<TAudioMixer> AudioMixer1;
    TMidiFile MidiFile1;
    std::string FileName; // given by the picker
    std::string PlayName; // the file played: a shortcut's target
    int SongLength = 0;   // ms
    bool Done = false;

    void FormCreate();
    void FormShow();
    void FormClose();
    void MidiFile1MidiEvent(PMidiEvent event);
    void MidiFile1UpdateEvent();
    void MidiScope1MIDIVisTData(TBitmap& bmp);
    void AllSoundOff();
    // Where the scope's pictures are shown (over the scope's place).
    TPaintBox* ScopeView() const { return scopeView_; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void StopSong();
    TSaverSettings* settings_;
    TPreviewMixing mixing_;
    std::unique_ptr<TScreenSaverInhibit> inhibit_;
    TPaintBox* scopeView_ = nullptr;
    bool closed_ = false;
};

} // namespace lumora
