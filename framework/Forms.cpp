#include "framework/Forms.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <unordered_map>
#include <vector>

namespace lumora {

// ---- main thread and queued calls ----

bool IsMainThread() {
    auto* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void QueueOnMainThread(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [fn = std::move(fn)] { Application().Guard(fn); }, Qt::QueuedConnection);
}

// ---- message reporter ----

namespace {
TMessageReporter& Reporter() {
    static TMessageReporter reporter;
    return reporter;
}
} // namespace

void SetMessageReporter(TMessageReporter reporter) { Reporter() = std::move(reporter); }

int MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, int buttons) {
    if (Reporter()) return Reporter()(text, caption, icon, buttons);
    std::cerr << caption << ": " << text << std::endl;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    bool headless = platform && std::string(platform) == "offscreen";
    if (!headless && qobject_cast<QApplication*>(QCoreApplication::instance()) && IsMainThread())
        return RunMessageBox(text, caption, icon, buttons);
    return IDOK;
}

int RunMessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, int buttons) {
    QMessageBox::Icon qicon = icon == TMsgIcon::Error         ? QMessageBox::Critical
                              : icon == TMsgIcon::Warning     ? QMessageBox::Warning
                              : icon == TMsgIcon::Information ? QMessageBox::Information
                              : icon == TMsgIcon::Question    ? QMessageBox::Question
                                                              : QMessageBox::NoIcon;
    QMessageBox box(qicon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    struct TChoice {
        QMessageBox::StandardButton Button;
        int Id;
    };
    std::vector<TChoice> choices;
    switch (buttons & 0x0F) {
    case MB_OKCANCEL: choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_ABORTRETRYIGNORE:
        choices = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
    case MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO: choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    case MB_RETRYCANCEL: choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
    default: choices = {{QMessageBox::Ok, IDOK}}; break;
    }
    // A standard button takes its place from its role and the desktop's habit, which puts Abort
    // after Ignore. Every button gets the same role, with the standard button's text in the
    // user's language, so the set stands in its own order.
    std::vector<QPushButton*> shown;
    for (const TChoice& choice : choices) {
        QPushButton* standard = box.addButton(choice.Button);
        const QString text = standard->text();
        box.removeButton(standard);
        delete standard;
        shown.push_back(box.addButton(text, QMessageBox::ActionRole));
    }
    box.setDefaultButton(shown.front());
    // The close box and Escape answer as the set's way out.
    box.setEscapeButton(shown.back());
    box.exec();
    QAbstractButton* pressed = box.clickedButton();
    for (size_t i = 0; i < choices.size(); ++i)
        if (pressed && pressed == shown[i]) return choices[i].Id;
    return choices.back().Id;
}

void LoadQtTranslations() {
    auto* app = QCoreApplication::instance();
    static QTranslator* translator = nullptr;
    if (!app || translator) return;
    translator = new QTranslator(app);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

void ShowMessage(const std::string& text) { MessageBox(text, Application().Title); }

// ---- application ----

TApplication& TApplication::Instance() {
    static TApplication app;
    return app;
}

void TApplication::InstallIdleHook() {
    if (idleHookInstalled_) return;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return;
    idleHookInstalled_ = true;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] { DoIdle(); });
}

void TApplication::DoIdle() {
    if (inIdle_ || terminated_) return;
    inIdle_ = true;
    bool done = true;
    if (OnIdle) Guard([&] { OnIdle(done); });
    inIdle_ = false;
    // Not done: come back after the pending events instead of blocking.
    if (!done)
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

void TApplication::Run() {
    if (terminated_ || !QCoreApplication::instance()) return;
    InstallIdleHook();
    QCoreApplication::exec();
}

void TApplication::Terminate() {
    terminated_ = true;
    if (QCoreApplication::instance()) QCoreApplication::quit();
}

void TApplication::ProcessMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
    CheckSynchronize();
}

void TApplication::Guard(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        HandleException(e);
    }
}

void TApplication::HandleException(const std::exception& e) {
    if (OnException) {
        OnException(e);
        return;
    }
    MessageBox(e.what(), Title, TMsgIcon::Error);
}

void TApplication::ResetForTests() {
    terminated_ = false;
    OnIdle = nullptr;
    OnException = nullptr;
}

// ---- timers ----

namespace {
class QtTimerBackend : public ITimerBackend {
public:
    void Start(TTimer* timer, uint32_t intervalMs) override {
        Stop(timer);
        auto* q = new QTimer();
        q->setInterval(static_cast<int>(intervalMs));
        QObject::connect(q, &QTimer::timeout, [timer] { Application().Guard([timer] { timer->Fire(); }); });
        timers_[timer] = q;
        q->start();
    }
    void Stop(TTimer* timer) override {
        auto it = timers_.find(timer);
        if (it == timers_.end()) return;
        it->second->stop();
        it->second->deleteLater();
        timers_.erase(it);
    }

private:
    std::unordered_map<TTimer*, QTimer*> timers_;
};

QtTimerBackend& QtBackend() {
    static QtTimerBackend backend;
    return backend;
}
ITimerBackend* g_timerBackend = nullptr;
} // namespace

void SetTimerBackend(ITimerBackend* backend) { g_timerBackend = backend; }
ITimerBackend& TimerBackend() { return g_timerBackend ? *g_timerBackend : QtBackend(); }

TTimer::TTimer() = default;

TTimer::~TTimer() {
    if (running_) TimerBackend().Stop(this);
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    if (running_) {
        TimerBackend().Stop(this);
        running_ = false;
    }
    Update();
}

void TTimer::Update() {
    // The handler may be assigned after the interval (it is a plain member), so the timer runs
    // whenever it is enabled with an interval; Fire skips a missing handler.
    bool shouldRun = enabled_ && interval_ > 0;
    if (shouldRun && !running_) {
        TimerBackend().Start(this, interval_);
        running_ = true;
    } else if (!shouldRun && running_) {
        TimerBackend().Stop(this);
        running_ = false;
    } else if (shouldRun && running_) {
        // Re-enabling a running timer restarts its interval, as the framework does.
        TimerBackend().Start(this, interval_);
    }
}

void TTimer::Fire() {
    if (enabled_ && interval_ > 0 && OnTimer) OnTimer();
}

// ---- message targets ----

namespace {
std::mutex g_targetsMutex;
std::map<HWND, std::shared_ptr<std::function<void(TMessage&)>>>& Targets() {
    static std::map<HWND, std::shared_ptr<std::function<void(TMessage&)>>> targets;
    return targets;
}
HWND g_nextHandle = 0x10000;

std::shared_ptr<std::function<void(TMessage&)>> FindTarget(HWND h) {
    std::lock_guard lock(g_targetsMutex);
    auto it = Targets().find(h);
    return it == Targets().end() ? nullptr : it->second;
}
} // namespace

TMessageTarget::TMessageTarget(std::function<void(TMessage&)> handler) {
    std::lock_guard lock(g_targetsMutex);
    handle_ = g_nextHandle++;
    Targets()[handle_] = std::make_shared<std::function<void(TMessage&)>>(std::move(handler));
}

TMessageTarget::~TMessageTarget() {
    std::lock_guard lock(g_targetsMutex);
    Targets().erase(handle_);
}

bool PostMessage(HWND target, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    if (!FindTarget(target)) return false;
    QueueOnMainThread([=] {
        // Looked up again on delivery: a target freed meanwhile gets nothing.
        if (auto handler = FindTarget(target)) {
            TMessage m{msg, wparam, lparam, 0};
            (*handler)(m);
        }
    });
    return true;
}

intptr_t SendMessage(HWND target, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    auto handler = FindTarget(target);
    if (!handler) return 0;
    TMessage m{msg, wparam, lparam, 0};
    if (IsMainThread()) {
        (*handler)(m);
        return m.Result;
    }
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    QueueOnMainThread([&] {
        if (auto h = FindTarget(target)) (*h)(m);
        std::lock_guard lock(mu);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return done; });
    return m.Result;
}

// ---- synchronised calls ----

namespace {
struct SyncCall {
    std::function<void()> fn;
    bool done = false;
    std::exception_ptr error;
};
// Never destroyed: a worker may still wait in Synchronize while the program exits, and destroying a
// condition variable it waits on hangs the exit.
std::mutex& g_syncMutex = *new std::mutex;
std::condition_variable& g_syncQueued = *new std::condition_variable; // main thread waits for work
std::condition_variable& g_syncDone = *new std::condition_variable;   // workers wait for their call
std::deque<SyncCall*>& g_syncQueue = *new std::deque<SyncCall*>;
} // namespace

bool CheckSynchronize(int timeoutMs) {
    std::deque<SyncCall*> calls;
    {
        std::unique_lock lock(g_syncMutex);
        if (g_syncQueue.empty() && timeoutMs > 0)
            g_syncQueued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return !g_syncQueue.empty(); });
        calls.swap(g_syncQueue);
    }
    for (SyncCall* call : calls) {
        try {
            call->fn();
        } catch (...) {
            call->error = std::current_exception();
        }
        std::lock_guard lock(g_syncMutex);
        call->done = true;
    }
    if (!calls.empty()) g_syncDone.notify_all();
    return !calls.empty();
}

static void Wake() {
    g_syncQueued.notify_all();
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

// ---- threads ----

// A thread cannot start from the base constructor (the derived part is not built yet), so every
// thread starts with Start(); the flag is kept for the framework's signature.
TThread::TThread(bool) {}

TThread::~TThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            terminated_ = true;
            WaitFor();
        }
    }
}

void TThread::Start() {
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
    try {
        Execute();
    } catch (const std::exception& e) {
        FatalException = e.what();
    } catch (...) {
        FatalException = "Unknown exception";
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(); });
        } catch (...) {
        }
    }
    {
        // Under the lock, so a WaitFor about to sleep cannot miss the end.
        std::lock_guard lock(g_syncMutex);
        finished_ = true;
    }
    g_syncQueued.notify_all();
    if (FreeOnTerminate) delete this; // the destructor detaches the running thread
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (IsMainThread()) {
        method();
        return;
    }
    SyncCall call{method, false, nullptr};
    {
        std::lock_guard lock(g_syncMutex);
        g_syncQueue.push_back(&call);
    }
    Wake();
    std::unique_lock lock(g_syncMutex);
    g_syncDone.wait(lock, [&] { return call.done; });
    if (call.error) std::rethrow_exception(call.error);
}

int TThread::WaitFor() {
    if (!started_) return ReturnValue;
    if (thread_.get_id() == std::this_thread::get_id()) throw EThread("Thread cannot wait for itself");
    if (IsMainThread()) {
        // Wakes for each call the thread hands over and for its end, not only for calls: woken by
        // the end and sent back to sleep, it would return a whole wait late.
        while (!finished_) {
            {
                std::unique_lock lock(g_syncMutex);
                g_syncQueued.wait_for(lock, std::chrono::milliseconds(5),
                                      [&] { return !g_syncQueue.empty() || finished_; });
            }
            CheckSynchronize();
        }
    }
    if (thread_.joinable()) thread_.join();
    return ReturnValue;
}

} // namespace lumora
