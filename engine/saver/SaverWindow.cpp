#include "engine/saver/SaverWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

#include "engine/Common.h"
#include "engine/transitions/EffectTable.h"
#include "engine/saver/Scaling.h"
#include "platform/system/Clock.h"
#include "platform/display/Cursor.h"
#include "platform/display/NativeWindow.h"
#include "platform/system/Heap.h"
#include "platform/system/Random.h"
#include "platform/display/Screens.h"
#include "platform/system/System.h"
#include "resources/Resources.h"

namespace lumora {

TNativeHandle PreviewWnd = 0;
TNativeHandle HostWnd = 0;

namespace {
TSaverExtras& Extras() {
    static TSaverExtras extras;
    return extras;
}
} // namespace

void SetSaverExtras(TSaverExtras extras) { Extras() = std::move(extras); }

TDesktopWindow::TDesktopWindow() : engine_(*this) {
    extras_ = Extras();
    setWindowTitle("Lumora");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    Label1 = new QLabel(this);
    Label1->setStyleSheet("color: red;");
    QFont labelFont("IPAPGothic");
    labelFont.setPixelSize(19);
    Label1->setFont(labelFont);
    // The notice passes the moves over it on to the window (a child without tracking would keep them).
    Label1->setMouseTracking(true);
    Label1->hide();
    Timer1.SetEnabled(false);
    Timer1.SetInterval(500);
    Timer1.OnTimer = [this] { Timer1Timer(); };
    Timer2.SetInterval(100);
    Timer2.OnTimer = [this] { Timer2Timer(); };
    powerWatch_.OnMonitorPower = [this] { MonitorPowerCommand(); };
    parentWatch_.SetEnabled(false);
    parentWatch_.SetInterval(500);
    parentWatch_.OnTimer = [this] {
        if (!NativeWindows().Exists(hosted_ ? HostWnd : PreviewWnd)) Close();
    };
    FormCreate();
}

TDesktopWindow::~TDesktopWindow() {
    // Whatever ended the window (a signal, the preview box going away), the reading thread must
    // not hand a picture to a freed window.
    RetireReader();
    if (Application().OnIdle) Application().OnIdle = nullptr;
    FormDestroy();
}

// ---- creation ----

void TDesktopWindow::FormCreate() {
    Randomize();
    common_ = std::make_unique<TRegCommon>(true);
    std::string key;
    try {
        key = TRegCommon::GetKeyPath(common_->CurrentTheme);
    } catch (const std::exception&) {
        key = TRegCommon::GetKeyPath("");
    }
    data_ = std::make_unique<TRegData>(key);
    data_->Load();
    background_ = ColorToRGB(data_->BackGround);
    preview_ = PreviewWnd != 0;

    mouseMoves_ = 0;
    LayOutMonitors();

    form_.Canvas().Brush.Color = background_;
    enabledEffects_ = EnabledEffectCodes(data_->Method);
    if (data_->CapDisp > 0) form_.Canvas().Font.Assign(data_->CapFont);

    muteStart_ = EncodeTimeOfDay(data_->STimeHour, data_->STimeMin, data_->STimeSec);
    muteEnd_ = EncodeTimeOfDay(data_->ETimeHour, data_->ETimeMin, data_->ETimeSec);
    muteState_ = data_->VolContl && data_->TimeZone != 0 && InMuteWindow(data_->TimeZone, muteStart_, muteEnd_);

    currentPicture_ = std::make_unique<TBitmap>();
    currentPicture_->SetPixelFormat(TPixelFormat::pf32bit);
    logo_ = std::make_unique<TBitmap>();
    LoadResourceBitmap(data_->UseSound && data_->LogoSpectrum ? "LMTITLE" : "LMTITLE2", *logo_);
    logo_->SetPixelFormat(TPixelFormat::pf32bit);

    // There is no music in the preview.
    if (preview_) data_->UseSound = false;
    grouping_ = data_->UseSound && data_->Grouping;

    fileManager_ = std::make_unique<TFileManage>(data_->UseSound, preview_, data_->SSoundFolder, data_->SFolder, key,
                                                 grouping_, data_->SoundFolder, data_->Folder);
    fileManager_->SetOrder(ToOrderMode(data_->OrdRandom), data_->ImgSort != 0, ToOrderMode(data_->SndRandom),
                           data_->SndSort != 0);
    fileManager_->InitIndexes();

    // The first change is always the cross-fade from the desktop, enabled or not.
    engine_.SetEffectCode(enabledEffects_.empty() ? NoEffectCode : 0);

    CalibrateTimers();
    if (RaiseTimerPeriod()) {
        timerPeriod_ = TimerCaps().wPeriodMin;
        timeBeginPeriod(timerPeriod_);
    }
    if (extras_.Create && !preview_ && data_->UseSound) extras_.Create(*this);
}

void TDesktopWindow::LayOutMonitors() {
    monitors_.clear();
    TRect host;
    hosted_ = !preview_ && HostWnd && NativeWindows().ClientRect(HostWnd, host) && !host.IsEmpty();
    if (preview_ || hosted_) {
        // The preview box, or the daemon's window that is the screen: the show fills it, and ends with it.
        const TNativeHandle parent = preview_ ? PreviewWnd : HostWnd;
        if (preview_ && (!NativeWindows().ClientRect(parent, host) || host.IsEmpty())) host = TRect{0, 0, 1, 1};
        area_ = TRect{0, 0, host.Width(), host.Height()};
        monitors_.emplace_back();
        monitors_[0].Width = area_.Width();
        monitors_[0].Height = area_.Height();
        currentMonitor_ = logoMonitor_ = 0;
        setWindowFlags(Qt::Widget | Qt::FramelessWindowHint | Qt::WindowTransparentForInput);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(area_.Width(), area_.Height());
        if (!NativeWindows().Embed(this, parent)) move(0, 0);
        parentWatch_.SetEnabled(true);
    } else {
        std::vector<TMonitor> all = Screens().Monitors();
        if (all.empty()) all.push_back(TMonitor{TRect{0, 0, 1024, 768}, true});
        size_t primary = 0;
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].Primary) {
                primary = i;
                break;
            }
        if (data_->MultiMon && all.size() > 1) {
            // Each X screen is a desktop of its own with its own window; on the form they stand
            // side by side, the primary's screen first, then the others in the system's order.
            std::vector<int> screens{all[primary].Screen};
            for (const auto& m : all)
                if (std::find(screens.begin(), screens.end(), m.Screen) == screens.end()) screens.push_back(m.Screen);
            int formLeft = 0;
            for (int screen : screens) {
                TRect a{0, 0, 0, 0};
                for (const auto& m : all) {
                    if (m.Screen != screen) continue;
                    a.Left = std::min(a.Left, m.BoundsRect.Left);
                    a.Top = std::min(a.Top, m.BoundsRect.Top);
                    a.Right = std::max(a.Right, m.BoundsRect.Left + m.Width());
                    a.Bottom = std::max(a.Bottom, m.BoundsRect.Top + m.Height());
                }
                for (size_t i = 0; i < all.size(); ++i) {
                    const TMonitor& m = all[i];
                    if (m.Screen != screen) continue;
                    if (i == primary) logoMonitor_ = static_cast<int>(monitors_.size());
                    TMonitorRec r;
                    r.Left = formLeft + m.BoundsRect.Left - a.Left;
                    r.Top = m.BoundsRect.Top - a.Top;
                    r.Width = m.Width();
                    r.Height = m.Height();
                    monitors_.push_back(std::move(r));
                }
                parts_.push_back(TScreenPart{screen, a, formLeft});
                formLeft += a.Width();
            }
            currentMonitor_ = logoMonitor_;
        } else {
            // One monitor: the primary one, wherever the system placed it.
            const TMonitor& m = all[primary];
            TMonitorRec r;
            r.Width = m.Width();
            r.Height = m.Height();
            monitors_.push_back(std::move(r));
            parts_.push_back(TScreenPart{m.Screen, m.BoundsRect, 0});
            logoMonitor_ = currentMonitor_ = 0;
        }
        area_ = parts_[0].OnScreen;
        if (QScreen* screen = QtScreenOf(parts_[0].XScreen)) setScreen(screen);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                       Qt::X11BypassWindowManagerHint);
        setGeometry(area_.Left, area_.Top, area_.Width(), area_.Height());
        previousMonitor_ = currentMonitor_;
        ShowCursor(false);
        cursorHidden_ = true;
        if (OSLine() == TOSLine::Win9x) SetScreenSaverRunning(true);
        powerWatch_.SetActive(true);
    }
    int formWidth = area_.Width(), formHeight = area_.Height();
    for (const auto& part : parts_) {
        formWidth = std::max(formWidth, part.FormLeft + part.OnScreen.Width());
        formHeight = std::max(formHeight, part.OnScreen.Height());
    }
    form_.SetPixelFormat(TPixelFormat::pf32bit);
    form_.SetSize(formWidth, formHeight);
    previousMonitor_ = currentMonitor_;
    MakeScreenCovers();
}

// ---- the other X screens ----

// A window over the share of the form on another X screen: it shows that share and passes input
// on to the form, so any input closes the saver on every screen.
class TScreenCover : public QWidget {
public:
    TScreenCover(TDesktopWindow& form, size_t part) : form_(form), part_(part) {
        setWindowTitle("Lumora");
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                       Qt::X11BypassWindowManagerHint);
    }

protected:
    void paintEvent(QPaintEvent* event) override { form_.PaintPart(*this, *event, part_); }
    void keyPressEvent(QKeyEvent* event) override { form_.keyPressEvent(event); }
    void mousePressEvent(QMouseEvent* event) override { form_.mousePressEvent(event); }
    void wheelEvent(QWheelEvent* event) override { form_.wheelEvent(event); }
    void mouseMoveEvent(QMouseEvent* event) override {
        QPoint p = event->position().toPoint();
        // Placed as the form's own window reports its moves: from the corner of its covered area.
        const TRect& area = form_.area_;
        const int left = area.Left + form_.parts_[part_].FormLeft;
        Application().Guard([&] { form_.FormMouseMove(left + p.x(), area.Top + p.y()); });
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Application().Guard([this] { form_.Close(); });
    }

private:
    TDesktopWindow& form_;
    size_t part_;
};

void TDesktopWindow::MakeScreenCovers() {
    covers_.clear();
    for (size_t i = 1; i < parts_.size(); ++i) {
        auto cover = std::make_unique<TScreenCover>(*this, i);
        if (QScreen* screen = QtScreenOf(parts_[i].XScreen)) cover->setScreen(screen);
        const TRect& r = parts_[i].OnScreen;
        cover->setGeometry(r.Left, r.Top, r.Width(), r.Height());
        covers_.push_back(std::move(cover));
    }
}

QWidget& TDesktopWindow::PartWindow(size_t part) { return part == 0 ? *this : *covers_[part - 1]; }

void TDesktopWindow::PaintPart(QWidget& window, QPaintEvent& event, size_t part) {
    PaintFramebuffer(window, event.region(), form_, part < parts_.size() ? parts_[part].FormLeft : 0);
}

// ---- showing ----

void TDesktopWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Application().Guard([this] { FormShow(); });
    // After the snapshot, which must not catch them.
    for (auto& cover : covers_) cover->show();
    if (!preview_ && !hosted_ && QGuiApplication::platformName() != "offscreen")
        QTimer::singleShot(0, this, [this] { GrabInput(); });
}

void TDesktopWindow::GrabInput() {
    // A window that bypasses the window manager gets no focus by itself: take the keyboard.
    raise();
    activateWindow();
    setFocus();
    grabKeyboard();
}

void TDesktopWindow::FormShow() {
    // The daemon's window already hides the desktop: the show starts from the background.
    if (hosted_) FillBackground();
    else if (!preview_) TakeSnapshot();
    if (preview_) {
        int horz = std::max(1, Monitor(PrimaryMonitorIndex()).Width());
        previewScale_ = static_cast<int>(int64_t(area_.Width()) * 1000 / horz);
        FormPaint();
    } else {
        previewScale_ = 1000;
    }
    if (data_->UseTitle && !data_->TitleBmp.empty() && FileExists(data_->TitleBmp)) {
        try {
            TPicture picture;
            picture.LoadFromFile(data_->TitleBmp);
            logo_->Assign(picture.Graphic());
            logo_->SetPixelFormat(TPixelFormat::pf32bit);
        } catch (const std::exception&) {
            // The built-in title stays when the user's picture cannot be read.
        }
    }
    Timer1.SetInterval(100);
    Timer1.SetEnabled(true);
    if (data_->Folder.empty()) {
        data_->PosRandom = true;
        MakeNotice();
    }
    if (extras_.Show && !preview_ && data_->UseSound) extras_.Show(*this);
    if (!preview_ && data_->UseSound && fileManager_->TrackCount() > 0) StartCurrentTrack();
}

void TDesktopWindow::TakeSnapshot() {
    std::unique_ptr<TBitmap> snap;
    for (const TScreenPart& part : parts_) {
        // Each screen's covered area from its own corner, beside the others as the form has them.
        std::unique_ptr<TBitmap> piece;
        try {
            ScreenCapture1.XScreen = part.XScreen;
            ScreenCapture1.Capture(part.OnScreen.Left, part.OnScreen.Top, 0, piece, part.OnScreen.Height(),
                                   part.OnScreen.Width());
        } catch (const std::exception&) {
            piece = std::make_unique<TBitmap>();
        }
        piece->SetPixelFormat(TPixelFormat::pf32bit);
        if (parts_.size() == 1) {
            snap = std::move(piece);
            break;
        }
        if (!snap) {
            snap = std::make_unique<TBitmap>();
            snap->SetPixelFormat(TPixelFormat::pf32bit);
            snap->SetSize(form_.Width(), form_.Height());
        }
        for (int y = 0; y < std::min(piece->Height(), snap->Height()); ++y)
            std::copy(piece->Row32(y), piece->Row32(y) + std::min(piece->Width(), snap->Width() - part.FormLeft),
                      snap->Row32(y) + part.FormLeft);
    }
    if (!snap) snap = std::make_unique<TBitmap>();
    snap->SetPixelFormat(TPixelFormat::pf32bit);
    currentPicture_ = std::move(snap);
    newPicture_ = TBoundsRec{0, 0, currentPicture_->Width(), currentPicture_->Height()};
    // The form opens showing the desktop it covers, so the first change fades from it.
    TRect r = IntersectRect(TRect{0, 0, currentPicture_->Width(), currentPicture_->Height()},
                            TRect{0, 0, form_.Width(), form_.Height()});
    for (int y = r.Top; y < r.Bottom; ++y)
        std::copy(currentPicture_->Row32(y), currentPicture_->Row32(y) + r.Right, form_.Row32(y));
    InvalidateFormRect(r);
}

void TDesktopWindow::MakeNotice() {
    background_ = ColorToRGB(clNavy);
    form_.Canvas().Brush.Color = background_;
    notice_ = std::make_unique<TBitmap>();
    notice_->SetPixelFormat(TPixelFormat::pf32bit);
    notice_->SetSize(680, 200);
    TCanvas& c = notice_->Canvas();
    c.Brush.Color = clNavy;
    c.FillRect(TRect{0, 0, 680, 200});
    c.Brush.Style = TBrushStyle::bsClear;
    c.Font.Charset = 128;
    c.Font.Name = "ＭＳ Ｐゴシック";
    c.Font.SetSize(80);
    c.Font.SetHeight(-83);
    c.Font.Color = background_ ^ 0xFFFFFF;
    c.TextOut(10, 10, "画像フォルダを");
    c.TextOut(10, 100, "設定してください");
    c.Brush.Style = TBrushStyle::bsSolid;
}

void TDesktopWindow::FormPaint() {
    form_.Canvas().Brush.Color = background_;
    if (preview_) FillBackground();
}

void TDesktopWindow::FillBackground() {
    form_.Canvas().Brush.Color = background_;
    form_.Canvas().FillRect(TRect{0, 0, form_.Width(), form_.Height()});
    InvalidateFormRect(TRect{0, 0, form_.Width(), form_.Height()});
}

// ---- the framebuffer on the screen ----

void TDesktopWindow::InvalidateFormRect(const TRect& rect) {
    presenter_.Mark(IntersectRect(rect, TRect{0, 0, form_.Width(), form_.Height()}));
}

void TDesktopWindow::RepaintFormRect(const TRect& r) {
    if (parts_.size() <= 1) {
        update(QRect(r.Left, r.Top, r.Width(), r.Height()));
        return;
    }
    for (size_t i = 0; i < parts_.size(); ++i) {
        const TScreenPart& part = parts_[i];
        TRect p = IntersectRect(r, Bounds(part.FormLeft, 0, part.OnScreen.Width(), part.OnScreen.Height()));
        if (!p.IsEmpty()) PartWindow(i).update(QRect(p.Left - part.FormLeft, p.Top, p.Width(), p.Height()));
    }
}

void TDesktopWindow::paintEvent(QPaintEvent* event) { PaintPart(*this, *event, 0); }

// ---- input ----

void TDesktopWindow::keyPressEvent(QKeyEvent* event) {
    Application().Guard([&] { FormKeyDown(event->key()); });
}

void TDesktopWindow::mousePressEvent(QMouseEvent*) {
    Application().Guard([&] { FormClick(); });
}

// A turn of the wheel is a press of a mouse button to X and to screensaver daemons.
void TDesktopWindow::wheelEvent(QWheelEvent*) {
    Application().Guard([&] { FormClick(); });
}

void TDesktopWindow::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->globalPosition().toPoint();
    Application().Guard([&] { FormMouseMove(p.x(), p.y()); });
}

void TDesktopWindow::FormKeyDown(int) {
    if (data_->StopOnKey && !preview_) Close();
}

void TDesktopWindow::FormClick() {
    if (data_->StopOnMouseClick && !preview_) Close();
}

void TDesktopWindow::FormMouseMove(int x, int y) {
    // The first event only records where the pointer is: showing a window can report a move
    // without the user touching anything. A refused password resets the count to re-arm this.
    if (++mouseMoves_ == 1) {
        firstMouseX_ = x;
        firstMouseY_ = y;
        return;
    }
    if (data_->StopOnMouseMove && !preview_ && (std::abs(x - firstMouseX_) >= 2 || std::abs(y - firstMouseY_) >= 2))
        Close();
}

void TDesktopWindow::MonitorPowerCommand() {
    if (data_->StopOnPwrSave && !preview_) Close();
}

// ---- closing ----

void TDesktopWindow::Close() {
    if (closed_ || closing_) return;
    closing_ = true;
    if (!FormCloseQuery()) {
        closing_ = false;
        return;
    }
    FormClose();
    closing_ = false;
    if (!closed_) return;
    hide();
    for (auto& cover : covers_) cover->hide();
    if (OnClosed) OnClosed();
}

void TDesktopWindow::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    event->ignore();
    Application().Guard([this] { Close(); });
}

bool TDesktopWindow::FormCloseQuery() {
    if (loading_) {
        // The reading thread's hand-over closes the window once the picture stands.
        closeDeferred_ = true;
        return false;
    }
    if (preview_ || OSLine() == TOSLine::NT) return true;
    if (!ScreenSaveUsePassword()) return true;
    ShowCursor(true);
    bool canClose = true;
    IScreenSaverPassword& provider = ScreenSaverPassword();
    if (provider.CanVerify()) canClose = provider.VerifyScreenSavePwd(static_cast<TNativeHandle>(winId()));
    if (!canClose) {
        // The next move only records a new position; the cursor hides again.
        mouseMoves_ = 0;
        ShowCursor(false);
    }
    return canClose;
}

void TDesktopWindow::FormClose() {
    if (closed_) return;
    Application().OnIdle = nullptr;
    Timer1.SetEnabled(false);
    if (!preview_ && data_->UseSound && fileManager_->TrackCount() > 0) {
        if (MusicClosing) return;
        MusicClosing = true;
        if (extras_.Close) extras_.Close(*this);
    }
    if (OSLine() == TOSLine::Win9x) SetScreenSaverRunning(false);
    if (!preview_ && !hosted_) ShowCursor(true);
    powerWatch_.SetActive(false);
    parentWatch_.SetEnabled(false);
    releaseKeyboard();
    closed_ = true;
}

void TDesktopWindow::FormDestroy() {
    Timer1.SetEnabled(false);
    Timer2.SetEnabled(false);
    fileManager_.reset();
    if (!preview_ && cursorHidden_) {
        ShowCursor(true);
        cursorHidden_ = false;
    }
    if (timerPeriod_) timeEndPeriod(timerPeriod_);
    timerPeriod_ = 0;
    if (OSLine() == TOSLine::Win9x && !closed_) SetScreenSaverRunning(false);
}

// ---- timers and the picture cycle ----

int TDesktopWindow::ChgSpeed() { return std::clamp(data_->ChgSpeed, 0, 10); }

void TDesktopWindow::Timer2Timer() {
    if (extras_.ClockTick) extras_.ClockTick(*this);
}

void TDesktopWindow::Timer1Timer() {
    // The timer stays off while a picture loads and changes; the end of the change re-arms it.
    Timer1.SetEnabled(false);
    if (!firstTickDone_) {
        firstTickDone_ = true;
        FirstTick();
        return;
    }
    if (!enabledEffects_.empty()) {
        int old = engine_.EffectCode();
        int code = enabledEffects_[static_cast<size_t>(Random(static_cast<int>(enabledEffects_.size())))];
        if (old != NoEffectCode && code == old)
            code = enabledEffects_[static_cast<size_t>(Random(static_cast<int>(enabledEffects_.size())))];
        engine_.SetEffectCode(static_cast<uint8_t>(code));
    } else {
        engine_.SetEffectCode(NoEffectCode);
    }
    NextPicture();
}

void TDesktopWindow::FirstTick() { NextPicture(); }

void TDesktopWindow::RetireReader() {
    if (!reader_) return;
    reader_->CancelHandOver();
    reader_->WaitFor();
    reader_.reset();
    loading_ = false;
}

void TDesktopWindow::NextPicture() {
    changing_ = true;
    if (GroupChangeRequested) {
        GroupChangeRequested = false;
        std::string track;
        fileManager_->NextTrack(track);
        PlayTrack(track); // deferred to the end of this change
    }
    std::string name;
    // A folder without pictures shows the notice that asks for one, as no folder does: the change
    // runs and ends, so the cycle and the music waiting for its end go on.
    const bool noPictures = !fileManager_->CurrentPicture(name);
    if (noPictures && !notice_) {
        data_->PosRandom = true;
        MakeNotice();
    }
    // The picture shown now becomes the last picture of the monitor it stands on.
    if (currentPicture_->Width() > 0 && currentPicture_->Height() > 0 && previousMonitor_ >= 0 &&
        previousMonitor_ < static_cast<int>(monitors_.size())) {
        TMonitorRec& rec = monitors_[static_cast<size_t>(previousMonitor_)];
        rec.Bitmap = std::make_unique<TBitmap>();
        rec.Bitmap->Assign(*currentPicture_);
        rec.X = newPicture_.X;
        rec.Y = newPicture_.Y;
        rec.W = newPicture_.W;
        rec.H = newPicture_.H;
    }
    if (!noPictures && !data_->Folder.empty()) {
        RetireReader();
        const TMonitorRec& target = monitors_[static_cast<size_t>(currentMonitor_)];
        reader_ = std::make_unique<TImgRead>(true);
        reader_->FileName = ResolveLinkPath(name);
        reader_->Size.TargetWidth = target.Width;
        reader_->Size.TargetHeight = target.Height;
        reader_->Size.SizeMode = data_->SizeAdjust;
        reader_->Size.SizeLimitX = data_->SizeAdjustX;
        reader_->Size.SizeLimitY = data_->SizeAdjustY;
        reader_->Size.PreviewScale = previewScale_;
        reader_->Size.Smooth = data_->CImgFilter;
        reader_->Size.Background = background_;
        reader_->OnHandOver = [this](std::unique_ptr<TBitmap> bmp) {
            bmp->SetPixelFormat(TPixelFormat::pf32bit);
            currentPicture_ = std::move(bmp);
        };
        TImgRead* reader = reader_.get();
        reader_->OnTerminate = [this, reader] {
            if (!reader->Cancelled()) PictureLoaded();
        };
        loading_ = true;
        reader_->Start();
    } else {
        auto pic = std::make_unique<TBitmap>();
        if (notice_) pic->Assign(*notice_);
        pic->SetPixelFormat(TPixelFormat::pf32bit);
        if (preview_)
            ResizeBitmap(pic->Width() * previewScale_ / 1000, pic->Height() * previewScale_ / 1000, data_->CImgFilter,
                         pic);
        currentPicture_ = std::move(pic);
        StartTransition();
    }
}

void TDesktopWindow::PictureLoaded() {
    loading_ = false;
    // The reader's buffers are free now, and the saver shows pictures all night.
    ReleaseFreeHeapPages();
    StartTransition();
    if (closeDeferred_) {
        closeDeferred_ = false;
        Close();
    }
}

void TDesktopWindow::StartTransition() {
    engine_.PrepareTransition();
    Application().OnIdle = [this](bool& done) { engine_.TransitionStep(done); };
    // With no effect enabled the change is instant: the picture stands now and the cycle goes on.
    if (engine_.EffectCode() == NoEffectCode) EndTransition();
}

void TDesktopWindow::EndTransition() {
    Application().OnIdle = nullptr;
    DrawPicture();
    if (extras_.PlaceLogo) extras_.PlaceLogo(*this);
    // The new picture stands whole: on the screen at once, not a frame later.
    presenter_.Present();
    fileManager_->AdvancePicture();
    previousMonitor_ = currentMonitor_;
    currentMonitor_ = (currentMonitor_ + 1) % std::max<int>(1, static_cast<int>(monitors_.size()));
    // A stored interval below one second would stop the timer (interval 0) or wrap: one second is
    // the shortest stay.
    Timer1.SetInterval(static_cast<uint32_t>(std::clamp(data_->Interval, 1, 2'000'000)) * 1000u);
    Timer1.SetEnabled(true);
    changing_ = false;
    if (TrackDeferred) {
        TrackDeferred = false;
        StartCurrentTrack();
    }
}

void TDesktopWindow::HideLogo() {
    if (extras_.HideLogo) extras_.HideLogo(*this);
}

void TDesktopWindow::DrawCaption() {
    if (data_->Folder.empty() || preview_ || data_->CapDisp <= 0 || !extras_.DrawCaption) return;
    extras_.DrawCaption(*this, *currentPicture_);
}

void TDesktopWindow::PlayTrack(const std::string& name) {
    if (preview_) return;
    if (changing_) {
        TrackDeferred = true;
        return;
    }
    if (extras_.PlayTrack) extras_.PlayTrack(*this, name);
}

void TDesktopWindow::StartCurrentTrack() {
    if (fileManager_->TrackCount() <= 0) return;
    std::string track;
    fileManager_->CurrentTrack(track);
    PlayTrack(track);
}

} // namespace lumora
