#pragma once
// The saver window: one borderless form over the covered area (all monitors or the primary one)
// or inside a preview window. It loads the settings once, builds the play lists, opens with the
// desktop snapshot, drives the picture cycle and closes on the input the settings allow.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "engine/playlists/PlayLists.h"
#include "engine/saver/FramePresenter.h"
#include "engine/saver/PictureReader.h"
#include "engine/settings/Settings.h"
#include "engine/capture/ScreenCapture.h"
#include "engine/transitions/Transition.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "platform/session/PowerWatch.h"
#include "platform/session/ScreenSaver.h"

class QLabel;

namespace lumora {

// The parent of the preview, set by the program's entry before the window is made; 0 = full screen.
extern TNativeHandle PreviewWnd;
// The window a desktop's screensaver daemon hands a full-screen run to draw into; 0 = our own window.
extern TNativeHandle HostWnd;

class TDesktopWindow;

// What the window asks of the music and of the overlays (logo, caption). They come with their own
// components; a window without them runs as with music and the title switched off.
struct TSaverExtras {
    std::function<void(TDesktopWindow&)> Create;              // end of FormCreate
    std::function<void(TDesktopWindow&)> Show;                // FormShow: mixer, effects, first track
    std::function<void(TDesktopWindow&, const std::string&)> PlayTrack;
    std::function<void(TDesktopWindow&)> Close;               // FormClose: stop music, restore mixer
    std::function<void(TDesktopWindow&)> ClockTick;           // Timer2, every 100 ms
    std::function<void(TDesktopWindow&)> PlaceLogo;
    std::function<void(TDesktopWindow&)> HideLogo;
    std::function<void(TDesktopWindow&, TBitmap&)> DrawCaption;
};
// Installed once by whoever provides them; every window made afterwards uses them.
void SetSaverExtras(TSaverExtras extras);

class TDesktopWindow : public QWidget, public ITransitionHost {
public:
    TDesktopWindow();
    ~TDesktopWindow() override;

    // The framework's Close: asks FormCloseQuery, then runs FormClose and hides the window.
    void Close();
    // Called once the window has closed (the program ends its message loop here).
    std::function<void()> OnClosed;

    // Handlers, named as the form binds them.
    void FormCreate();
    void FormShow();
    void FormPaint();
    void FormClick();
    void FormKeyDown(int key);
    void FormMouseMove(int x, int y);
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();
    void Timer1Timer();
    void Timer2Timer();
    void FirstTick();
    void NextPicture();
    void PictureLoaded();
    // The system's monitor power-saving command.
    void MonitorPowerCommand();
    // A request to start a second saver is refused (true = handled).
    bool ScreenSaveCommand() { return true; }

    // ITransitionHost.
    TBitmap& FormBitmap() override { return form_; }
    void InvalidateFormRect(const TRect& rect) override;
    TColor BackGround() override { return background_; }
    int ChgSpeed() override;
    bool PosRandom() override { return data_->PosRandom; }
    bool IsPreview() override { return preview_; }
    // Drawing into the daemon's window: it handles input, the cursor and locking.
    bool Hosted() const { return hosted_; }
    int LogoHeight() override { return logo_->Height(); }
    TRect LogoRect() override { return LogoRectOnForm; }
    int LogoMonitor() override { return logoMonitor_; }
    void HideLogo() override;
    std::vector<TMonitorRec>& Monitors() override { return monitors_; }
    int CurrentMonitor() override { return currentMonitor_; }
    TBitmap& CurrentPicture() override { return *currentPicture_; }
    TBoundsRec& NewPictureRect() override { return newPicture_; }
    void DrawCaption() override;
    void DrawPicture() override { engine_.DrawPicture(); }
    void EndTransition() override;
    // The notice stands in for missing pictures, so every change has a picture to show.
    bool NoPictures() override { return false; }
    int EnabledEffectCount() override { return static_cast<int>(enabledEffects_.size()); }

    // State the overlays, the music and the tests read.
    TRegData& Settings() { return *data_; }
    TRegCommon& Common() { return *common_; }
    TFileManage& FileManager() { return *fileManager_; }
    TTransitionEngine& Engine() { return engine_; }
    TBitmap& Logo() { return *logo_; }
    TBitmap* Notice() { return notice_.get(); }
    const std::vector<int>& EnabledEffects() const { return enabledEffects_; }
    int PreviousMonitor() const { return previousMonitor_; }
    TRect CoveredArea() const { return area_; }
    // One X screen's share of the form: the area it covers there (in its device pixels) and where
    // that starts on the form. The form's own window shows the first; each other has a window of
    // its own.
    struct TScreenPart {
        int XScreen = 0;
        TRect OnScreen;
        int FormLeft = 0;
    };
    const std::vector<TScreenPart>& ScreenParts() const { return parts_; }
    int PreviewScale() const { return previewScale_; }
    int MouseMoves() const { return mouseMoves_; }
    bool Loading() const { return loading_; }
    bool Changing() const { return changing_; }
    bool Closed() const { return closed_; }
    bool CloseDeferred() const { return closeDeferred_; }
    bool MuteState() const { return muteState_; }
    bool Grouping() const { return grouping_; }
    bool UseSound() const { return data_->UseSound; }
    // Music flags (set by the music component).
    bool TrackDeferred = false;
    bool GroupChangeRequested = false;
    bool MusicClosing = false;
    // Where the logo stands on the form (set by the overlays).
    TRect LogoRectOnForm;
    bool LogoVisible = false;
    // The music asks to start a track; during a change it waits for the change's end.
    void PlayTrack(const std::string& name);

    TTimer Timer1; // picture timer
    TTimer Timer2; // music clock
    QLabel* Label1 = nullptr;
    TScreenCapture ScreenCapture1;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void LayOutMonitors();
    void TakeSnapshot();
    void FillBackground();
    void MakeScreenCovers();
    QWidget& PartWindow(size_t part);
    void PaintPart(QWidget& window, QPaintEvent& event, size_t part);
    void RepaintFormRect(const TRect& r);
    friend class TScreenCover;
    void MakeNotice();
    void StartTransition();
    void RetireReader();
    void StartCurrentTrack();
    void GrabInput();

    std::unique_ptr<TRegCommon> common_;
    std::unique_ptr<TRegData> data_;
    std::unique_ptr<TFileManage> fileManager_;
    TSaverExtras extras_;
    TTransitionEngine engine_;
    TBitmap form_;
    TFramePresenter presenter_{[this](const TRect& r) { RepaintFormRect(r); }};
    TColor background_ = clBlack;
    bool preview_ = false;
    bool hosted_ = false;
    TRect area_;
    std::vector<TScreenPart> parts_;
    std::vector<std::unique_ptr<QWidget>> covers_;
    std::vector<TMonitorRec> monitors_;
    int currentMonitor_ = 0, logoMonitor_ = 0, previousMonitor_ = 0;
    std::unique_ptr<TBitmap> currentPicture_ = std::make_unique<TBitmap>();
    std::unique_ptr<TBitmap> logo_ = std::make_unique<TBitmap>();
    std::unique_ptr<TBitmap> notice_;
    TBoundsRec newPicture_;
    int previewScale_ = 1000;
    std::vector<int> enabledEffects_;
    std::unique_ptr<TImgRead> reader_;
    int muteStart_ = 0, muteEnd_ = 0;
    bool muteState_ = false;
    int mouseMoves_ = 0, firstMouseX_ = 0, firstMouseY_ = 0;
    bool firstTickDone_ = false;
    bool grouping_ = false, closed_ = false, changing_ = false, loading_ = false;
    bool closeDeferred_ = false, closing_ = false, cursorHidden_ = false, shown_ = false;
    uint32_t timerPeriod_ = 0; // raised in FormCreate, restored in FormDestroy
    TPowerWatch powerWatch_;
    TTimer parentWatch_; // preview: ends the saver when the preview box goes away
};

} // namespace lumora
