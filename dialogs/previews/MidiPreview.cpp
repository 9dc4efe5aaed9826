#include "dialogs/previews/MidiPreview.h"

#include <algorithm>

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "audio/mixer/AudioMixer.h"
#include "audio/midi/MidiOut.h"
#include "audio/midi/MidiScope.h"
#include "audio/midi/SynthSound.h"
#include "audio/mixer/VolumeRoutines.h"
#include "dialogs/settings/SaverSettings.h"
#include "engine/playlists/PlayLists.h"
#include "engine/saver/ScrollingText.h"
#include "framework/SysUtils.h"
#include "platform/session/SaverInhibit.h"
#include "ui_MidiPreview.h"

namespace lumora {

namespace {
// Mixer line kinds of SetSourceVolume.
constexpr int kSynthLine = 2;
} // namespace

TSPrev2::TSPrev2(TSaverSettings* settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::SPrev2), settings_(settings), mixing_(TPreviewMixing::FromDialog(settings)) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    TScrollingText& ticker = *ui->ScrollingText1;
    ticker.SetBackgroundColor(clWhite);
    ticker.Font.Color = clBlack;
    ticker.FontChanged();
    ticker.SetTextDirection(TTextDirection::tdRightToLeft);
    ticker.SetEnabled(false);
    ticker.Loaded();
    // The scope paints nothing itself; its pictures are shown in a box over its place.
    scopeView_ = new TPaintBox(ui->MidiScope1);
    scopeView_->setGeometry(0, 0, TMidiScope::kWidth, TMidiScope::kHeight);
    ui->MidiScope1->OnMIDIVisTData = [this](TMidiScope*, TBitmap& bmp) {
        Application().Guard([&] { MidiScope1MIDIVisTData(bmp); });
    };
    MidiFile1.OnMidiEvent = [this](PMidiEvent event) { MidiFile1MidiEvent(event); };
    MidiFile1.OnUpdateEvent = [this] { Application().Guard([this] { MidiFile1UpdateEvent(); }); };
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    Application().Guard([this] { FormCreate(); });
}

TSPrev2::~TSPrev2() {
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    MidiFile1.OnMidiEvent = nullptr;
    MidiFile1.OnUpdateEvent = nullptr;
    delete ui;
}

void TSPrev2::FormCreate() {
    inhibit_ = std::make_unique<TScreenSaverInhibit>("Lumora MIDI preview");
    AudioMixer1 = std::make_unique<TAudioMixer>();
    BeginPreviewMixer(*AudioMixer1, mixing_);
    // A device that cannot be opened is reported; the song then plays to the scope alone.
    if (!settings_) return;
    try {
        settings_->OpenMidiOut();
    } catch (const EmidioutputError&) {
        // The built-in synthesizer without a sound output to play through: said in the program's
        // words, in the one box of this preview.
        if (settings_->MidiOutput1.LastError() != MMSYSERR_NOTENABLED) throw;
        ShowMessage(std::string("ソフトウェアシンセサイザーを使用できません\n") + kNoSoundOutputText);
    }
}

void TSPrev2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TSPrev2::done(int result) {
    if (!closed_) {
        closed_ = true;
        Application().Guard([this] { FormClose(); });
    }
    QDialog::done(result);
}

void TSPrev2::FormShow() {
    PlayName = ResolveLinkPath(FileName);
    if (PlayName.empty()) PlayName = FileName;
    ui->ProgressBar1->setValue(0);
    if (mixing_.VolContl) {
        const int level = mixing_.MuteNow() ? mixing_.MuteMidiVol : mixing_.MidiVol;
        if (settings_)
            SetMidiSourceVolume(*AudioMixer1, settings_->MidiOutput1, level);
        else
            SetSourceVolume(*AudioMixer1, kSynthLine, level);
    }
    Done = false;
    ui->MidiScope1->setVisible(true);
    ui->MidiScope1->SetActive(true);
    std::string suffix;
    try {
        MidiFile1.SetFilename(PlayName);
        MidiFile1.LoadFile();
        SongLength = MidiFile1.SongLengthMs();
        MidiFile1.Play();
    } catch (const Exception&) {
        // A file that is no readable song: nothing plays, and the ticker says so.
        ui->MidiScope1->SetActive(false);
        Done = true;
        suffix = "の再生はできません";
    }
    TScrollingText& ticker = *ui->ScrollingText1;
    ticker.SetText(FileNameUtf8(ExtractFileName(FileName)) + suffix);
    ticker.SetEnabled(true);
}

void TSPrev2::MidiFile1MidiEvent(PMidiEvent event) {
    if (!event || event->IsMeta()) return;
    if (settings_ && settings_->MidiOutOpen) {
        try {
            settings_->MidiOutput1.PutEvent(TMyMidiEvent::FromFileEvent(*event));
        } catch (const std::exception&) {
            // One lost message; the song goes on.
        }
    }
    ui->MidiScope1->NoteEvent(event->Status, event->Data1, event->Data2);
}

void TSPrev2::StopSong() {
    ui->MidiScope1->SetActive(false);
    MidiFile1.Stop();
    AllSoundOff();
}

void TSPrev2::MidiFile1UpdateEvent() {
    if (Done || !MidiFile1.AllTracksDone()) return;
    StopSong();
    Done = true;
    // The MIDI player is still inside its own call: the form closes once that returns.
    QTimer::singleShot(0, this, [this] {
        if (!closed_) reject();
    });
}

void TSPrev2::MidiScope1MIDIVisTData(TBitmap& bmp) {
    scopeView_->Draw(bmp, 0, 0);
    if (Done) return;
    const int t = MidiFile1.PlayTimeMs();
    if (SongLength > 0 && t <= SongLength)
        ui->ProgressBar1->setValue(static_cast<int>(int64_t(t) * 100 / SongLength));
}

void TSPrev2::AllSoundOff() {
    for (uint8_t channel = 0; channel < 16; ++channel) {
        const uint8_t status = static_cast<uint8_t>(0xB0 + channel);
        if (settings_ && settings_->MidiOutOpen) {
            try {
                settings_->MidiOutput1.PutShort(status, 120, 0);
            } catch (const std::exception&) {
                // A refused message must not keep the others (and the close) from going out.
            }
        }
        ui->MidiScope1->NoteEvent(status, 120, 0);
    }
}

void TSPrev2::FormClose() {
    if (!Done) StopSong();
    if (settings_) settings_->CloseMidiOut();
    if (AudioMixer1) EndPreviewMixer(*AudioMixer1, mixing_);
    inhibit_.reset();
}

} // namespace lumora
