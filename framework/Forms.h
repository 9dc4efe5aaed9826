#pragma once
// The application object, timers, threads with Synchronize, and posted messages to hidden targets.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "framework/Classes.h"

namespace lumora {

using TIdleEvent = std::function<void(bool& done)>;
using TExceptionEvent = std::function<void(const std::exception& e)>;

// The framework's application object on top of Qt's event loop.
// OnIdle is called each time the event queue runs empty; Done = false asks to be called again after
// pending events, Done = true waits for the next event (no busy loop).
class TApplication {
public:
    static TApplication& Instance();

    std::string Title;
    TIdleEvent OnIdle;
    // The default handler shows the exception's message (through the message reporter) and goes on.
    TExceptionEvent OnException;

    void Run();          // runs the event loop until Terminate
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ProcessMessages();
    // Runs fn, routing an escaping exception to HandleException (every event handler goes through this).
    void Guard(const std::function<void()>& fn);
    void HandleException(const std::exception& e);
    void ShowMainForm(bool show) { showMainForm_ = show; }

    // Internal: called by the idle hook on the main thread.
    void DoIdle();
    void ResetForTests();

private:
    TApplication() = default;
    void InstallIdleHook();
    bool terminated_ = false;
    bool showMainForm_ = true;
    bool idleHookInstalled_ = false;
    bool inIdle_ = false;
};

inline TApplication& Application() { return TApplication::Instance(); }

// Message boxes from components go through this seam so tests can capture them.
enum class TMsgIcon { None, Error, Warning, Information, Question };
using TMessageReporter = std::function<int(const std::string& text, const std::string& caption, TMsgIcon icon,
                                           int buttons)>;
void SetMessageReporter(TMessageReporter reporter);
// Button sets of a message box, and the answers.
enum : int { MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_YESNO, MB_RETRYCANCEL };
enum : int { IDOK = 1, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO };
// Shows a message box with one of the button sets; returns the button pressed. Without a screen
// to show it on (or off the main thread) the text goes to standard error and the answer is IDOK.
int MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon = TMsgIcon::None,
               int buttons = MB_OK);
// The message box itself, run modally over the active window: the answer, or IDCANCEL (IDNO for
// MB_YESNO, IDOK for MB_OK) when it is closed without a button.
int RunMessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, int buttons);
// Makes Qt's own texts (standard buttons and the colour, font and file dialogs) Japanese, as the
// rest of the program is; safe to call more than once.
void LoadQtTranslations();
void ShowMessage(const std::string& text);

// Timer scheduling seam: the real one runs on Qt timers, the virtual clock's fires on Advance.
class TTimer;
class ITimerBackend {
public:
    virtual ~ITimerBackend() = default;
    virtual void Start(TTimer* timer, uint32_t intervalMs) = 0;
    virtual void Stop(TTimer* timer) = 0;
};
void SetTimerBackend(ITimerBackend* backend); // nullptr = the Qt backend
ITimerBackend& TimerBackend();

// A timer with the framework's meaning: Interval 0 or Enabled false = stopped.
class TTimer {
public:
    TTimer();
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t ms);
    TNotifyEvent OnTimer;
    void Fire(); // called by the backend

private:
    void Update();
    bool enabled_ = true;
    uint32_t interval_ = 1000;
    bool running_ = false;
};

// Window-message stand-in: hidden targets that receive posted messages on the main thread.
using HWND = uintptr_t; // 0 = none
struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_APP = 0x8000;

// A target owns its handle; messages posted to a freed handle are dropped.
class TMessageTarget {
public:
    explicit TMessageTarget(std::function<void(TMessage&)> handler);
    ~TMessageTarget();
    TMessageTarget(const TMessageTarget&) = delete;
    TMessageTarget& operator=(const TMessageTarget&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_;
};
// Thread-safe; returns false when the handle names no live target.
bool PostMessage(HWND target, uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Runs the handler at once when called on the main thread (else posts and waits); returns Result.
intptr_t SendMessage(HWND target, uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Runs fn on the main thread later (from any thread).
void QueueOnMainThread(std::function<void()> fn);
bool IsMainThread();

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Worker thread with the framework's life: created suspended or not, Execute on the thread,
// Synchronize runs a call on the main thread while the worker waits, OnTerminate runs on the main
// thread after Execute, FreeOnTerminate deletes the object after that.
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start(); // also Resume
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits for Execute to end, running pending synchronised calls meanwhile when on the main thread.
    int WaitFor();
    bool Finished() const { return finished_; }
    bool FreeOnTerminate = false;
    TThreadPriority Priority = TThreadPriority::tpNormal;
    TNotifyEvent OnTerminate;
    int ReturnValue = 0;
    // Set when Execute ended with an exception (its message).
    std::string FatalException;

protected:
    virtual void Execute() = 0;
    void Synchronize(const std::function<void()>& method);

private:
    void Run();
    void AfterExecute(); // main thread
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool started_ = false;
    bool waitedFor_ = false;
    bool afterExecuteDone_ = false;
};

// Runs queued Synchronize calls; the main thread calls it while it waits for a worker.
bool CheckSynchronize(int timeoutMs = 0);

} // namespace lumora
