#include "platform/system/Ipc.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <QSocketNotifier>

#include "framework/Forms.h"

namespace lumora {

// ---- wire format ----

namespace {

constexpr uint32_t kMagic = 0x4C4D4931; // "LMI1"
constexpr size_t kHeaderBytes = 4 + 4 + 8 + 8 + 4;

void Put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t Get(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

} // namespace

std::vector<uint8_t> EncodeIpcMessage(const TIpcMessage& m) {
    std::vector<uint8_t> out;
    const size_t count = std::min(m.Data.size(), kIpcMaxData);
    out.reserve(kHeaderBytes + 4 * count);
    Put(out, kMagic, 4);
    Put(out, m.Msg, 4);
    Put(out, m.WParam, 8);
    Put(out, static_cast<uint64_t>(m.LParam), 8);
    Put(out, count, 4);
    for (size_t i = 0; i < count; ++i) Put(out, m.Data[i], 4);
    return out;
}

bool DecodeIpcMessage(const uint8_t* bytes, size_t size, TIpcMessage& m) {
    if (!bytes || size < kHeaderBytes || Get(bytes, 4) != kMagic) return false;
    const uint64_t count = Get(bytes + 24, 4);
    if (count > kIpcMaxData || size != kHeaderBytes + 4 * count) return false;
    m.Msg = static_cast<uint32_t>(Get(bytes + 4, 4));
    m.WParam = Get(bytes + 8, 8);
    m.LParam = static_cast<int64_t>(Get(bytes + 16, 8));
    m.Data.resize(count);
    for (size_t i = 0; i < count; ++i) m.Data[i] = static_cast<uint32_t>(Get(bytes + kHeaderBytes + 4 * i, 4));
    return true;
}

uint32_t MessageNumberForName(const std::string& name) {
    // FNV-1a over the lower-cased name.
    uint32_t h = 2166136261u;
    for (unsigned char c : name) {
        h ^= static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        h *= 16777619u;
    }
    return 0xC000 + (h % 0x4000);
}

namespace {

IIpc* g_ipc = nullptr;

// ---- real: shared memory and mutexes ----

// Named blocks and mutexes live, as named mappings do, while any process holds them. Every holder
// keeps a shared lock on the object's file; the kernel drops it with the process, so whoever finds
// no other holder when it lets go is the last one, even after others crashed.
bool HoldShared(int fd) {
    while (flock(fd, LOCK_SH) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool LastHolder(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

bool SameFile(int fd, const struct stat& other) {
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_dev == other.st_dev && st.st_ino == other.st_ino;
}

// Whether the block's name still leads to the file behind fd.
bool NameLeadsTo(const std::string& name, int fd) {
    int current = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (current < 0) return false;
    struct stat st;
    bool same = fstat(current, &st) == 0 && SameFile(fd, st);
    close(current);
    return same;
}

class PosixSharedMemory : public ISharedMemoryBlock {
public:
    PosixSharedMemory(int fd, std::string name, size_t size) : fd_(fd), name_(std::move(name)), size_(size) {}
    ~PosixSharedMemory() override {
        Unmap();
        if (LastHolder(fd_) && NameLeadsTo(name_, fd_)) shm_unlink(name_.c_str());
        close(fd_);
    }
    uint8_t* Map(bool readOnly) override {
        Unmap();
        void* p = mmap(nullptr, size_, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        view_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
        return view_;
    }
    void Unmap() override {
        if (view_) munmap(view_, size_);
        view_ = nullptr;
    }
    size_t Size() const override { return size_; }

private:
    int fd_;
    std::string name_;
    size_t size_;
    uint8_t* view_ = nullptr;
};

class PosixMutex : public INamedMutex {
public:
    PosixMutex(sem_t* sem, std::string name, bool created, int holdFd)
        : sem_(sem), name_(std::move(name)), created_(created), holdFd_(holdFd) {}
    ~PosixMutex() override {
        sem_close(sem_);
        if (holdFd_ >= 0 ? LastHolder(holdFd_) : created_) sem_unlink(name_.c_str());
        if (holdFd_ >= 0) close(holdFd_);
    }
    bool Lock(int timeoutMs) override {
        if (timeoutMs < 0) {
            while (sem_wait(sem_) != 0)
                if (errno != EINTR) return false;
            return true;
        }
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += timeoutMs / 1000;
        until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000;
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        while (sem_timedwait(sem_, &until) != 0)
            if (errno != EINTR) return false;
        return true;
    }
    void Unlock() override { sem_post(sem_); }

private:
    sem_t* sem_;
    std::string name_;
    bool created_;
    int holdFd_; // the semaphore's file, when the system shows it
};

// ---- real: sockets ----

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int BindDatagram(const std::string& path) {
    sockaddr_un addr;
    if (!FillAddress(path, addr)) return -1;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads one datagram; false when none is waiting or it is malformed.
bool ReceiveOne(int fd, TIpcMessage& m, bool& more) {
    uint8_t buffer[kHeaderBytes + 4 * kIpcMaxData + 16];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    more = n >= 0;
    return n > 0 && DecodeIpcMessage(buffer, static_cast<size_t>(n), m);
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::string Hex(uint64_t v) {
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

class PosixWindow : public IIpcWindow {
public:
    PosixWindow(TIpcHandle handle, int fd, std::string socketPath, std::string titlePath, TIpcHandler handler)
        : handle_(handle), fd_(fd), socketPath_(std::move(socketPath)), titlePath_(std::move(titlePath)),
          handler_(std::move(handler)), notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Drain(); });
    }
    ~PosixWindow() override {
        notifier_.setEnabled(false);
        unlink(titlePath_.c_str());
        unlink(socketPath_.c_str());
        close(fd_);
    }
    TIpcHandle Handle() const override { return handle_; }

private:
    void Drain() {
        TIpcMessage m;
        bool more = true;
        while (more) {
            if (ReceiveOne(fd_, m, more) && handler_) Application().Guard([&] { handler_(m); });
        }
    }
    TIpcHandle handle_;
    int fd_;
    std::string socketPath_, titlePath_;
    TIpcHandler handler_;
    QSocketNotifier notifier_;
};

class PosixThreadQueue : public IThreadQueue {
public:
    PosixThreadQueue(uint64_t id, int fd, std::string path) : id_(id), fd_(fd), path_(std::move(path)) {}
    ~PosixThreadQueue() override {
        unlink(path_.c_str());
        close(fd_);
    }
    uint64_t ThreadId() const override { return id_; }
    bool Receive(TIpcMessage& m, int timeoutMs) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            bool more = false;
            if (ReceiveOne(fd_, m, more)) return true;
            if (more) continue; // a malformed datagram was dropped
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
    }

private:
    uint64_t id_;
    int fd_;
    std::string path_;
};

class PosixTimer : public IWaitableTimer {
public:
    PosixTimer(int timer, int wake) : timer_(timer), wake_(wake) {}
    ~PosixTimer() override {
        close(timer_);
        close(wake_);
    }
    bool Set(uint32_t dueMs, uint32_t periodMs) override {
        itimerspec spec{};
        const uint64_t dueNs = std::max<uint64_t>(uint64_t(dueMs) * 1000000, 1);
        spec.it_value.tv_sec = static_cast<time_t>(dueNs / 1000000000);
        spec.it_value.tv_nsec = static_cast<long>(dueNs % 1000000000);
        spec.it_interval.tv_sec = periodMs / 1000;
        spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000;
        return timerfd_settime(timer_, 0, &spec, nullptr) == 0;
    }
    void Cancel() override {
        itimerspec off{};
        timerfd_settime(timer_, 0, &off, nullptr);
        uint64_t count;
        while (read(timer_, &count, sizeof count) > 0) {
        }
    }
    TWaitResult Wait(uint32_t timeoutMs) override {
        pollfd p[2] = {{wake_, POLLIN, 0}, {timer_, POLLIN, 0}};
        const int timeout = timeoutMs > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMs);
        int r;
        do r = poll(p, 2, timeout);
        while (r < 0 && errno == EINTR);
        uint64_t count;
        if (p[0].revents & POLLIN) {
            while (read(wake_, &count, sizeof count) > 0) {
            }
            return TWaitResult::Woken;
        }
        if (p[1].revents & POLLIN) {
            // Any number of expirations since the last wait count as one signal.
            while (read(timer_, &count, sizeof count) > 0) {
            }
            return TWaitResult::Fired;
        }
        return TWaitResult::TimedOut;
    }
    void Wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
    }

private:
    int timer_, wake_;
};

std::string SafeName(const std::string& name) {
    std::string s;
    for (char c : name) s += (c == '/' || c == '\0') ? '_' : c;
    return s;
}

std::string DefaultFolder() {
    if (const char* dir = getenv("LUMORA_IPC_DIR"); dir && *dir) return dir;
    if (const char* run = getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/lumora-ipc";
    return "/tmp/lumora-ipc-" + std::to_string(getuid());
}

uint64_t CurrentThreadId() { return static_cast<uint64_t>(gettid()); }

} // namespace

IIpc& Ipc() {
    static TPosixIpc real;
    return g_ipc ? *g_ipc : real;
}

void SetIpc(IIpc* ipc) { g_ipc = ipc; }

// ---- TPosixIpc ----

TPosixIpc::TPosixIpc() : TPosixIpc(DefaultFolder(), "lumora-" + std::to_string(getuid()) + "-") {}

TPosixIpc::TPosixIpc(std::string folder, std::string prefix) : folder_(std::move(folder)), prefix_(std::move(prefix)) {}

std::string TPosixIpc::SystemName(const std::string& name) const { return '/' + SafeName(prefix_ + name); }

std::unique_ptr<ISharedMemoryBlock> TPosixIpc::OpenSharedMemory(const std::string& name, size_t size) {
    if (size == 0) return nullptr;
    const std::string sys = SystemName(name);
    // The last holder of an existing block may remove its name between our open and our hold; then
    // the block is opened (or made) again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        bool created = true;
        int fd = shm_open(sys.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = shm_open(sys.c_str(), O_RDWR | O_CLOEXEC, 0600);
            if (fd < 0 && errno == ENOENT) continue;
        }
        if (fd < 0) return nullptr;
        if (!HoldShared(fd)) {
            close(fd);
            if (created) shm_unlink(sys.c_str());
            return nullptr;
        }
        if (!created && !NameLeadsTo(sys, fd)) {
            close(fd);
            continue;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 ||
            (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
            if (LastHolder(fd)) shm_unlink(sys.c_str());
            close(fd);
            return nullptr;
        }
        return std::make_unique<PosixSharedMemory>(fd, sys, size);
    }
    return nullptr;
}

std::unique_ptr<INamedMutex> TPosixIpc::OpenMutex(const std::string& name) {
    const std::string sys = SystemName(name);
    bool created = true;
    sem_t* sem = sem_open(sys.c_str(), O_CREAT | O_EXCL, 0600, 1);
    if (sem == SEM_FAILED && errno == EEXIST) {
        created = false;
        sem = sem_open(sys.c_str(), 0);
    }
    if (sem == SEM_FAILED) return nullptr;
    // Linux keeps a named semaphore as a file "sem.NAME" in its shared-memory folder.
    int holdFd = open(("/dev/shm/sem." + sys.substr(1)).c_str(), O_RDONLY | O_CLOEXEC);
    if (holdFd >= 0 && !HoldShared(holdFd)) {
        close(holdFd);
        holdFd = -1;
    }
    return std::make_unique<PosixMutex>(sem, sys, created, holdFd);
}

std::unique_ptr<IIpcWindow> TPosixIpc::CreateWindow(const std::string& className, const std::string& title,
                                                   TIpcHandler handler) {
    static std::atomic<uint32_t> sequence{0};
    if (mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
    const TIpcHandle handle = (static_cast<uint64_t>(getpid()) << 20) | (++sequence & 0xFFFFF);
    const std::string base = folder_ + "/w" + Hex(handle);
    int fd = BindDatagram(base);
    if (fd < 0) return nullptr;
    // The title file appears whole, after the socket, so a lookup never finds half a window.
    const std::string temp = base + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary);
        out << className << '\n' << title;
        if (!out) {
            close(fd);
            unlink(base.c_str());
            return nullptr;
        }
    }
    if (rename(temp.c_str(), (base + ".title").c_str()) != 0) {
        close(fd);
        unlink(base.c_str());
        unlink(temp.c_str());
        return nullptr;
    }
    return std::make_unique<PosixWindow>(handle, fd, base, base + ".title", std::move(handler));
}

std::unique_ptr<IThreadQueue> TPosixIpc::CreateThreadQueue() {
    if (mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
    const uint64_t id = CurrentThreadId();
    const std::string path = folder_ + "/t" + std::to_string(id);
    int fd = BindDatagram(path);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixThreadQueue>(id, fd, path);
}

namespace {

// Every live window's handle with its class and title; entries of ended processes are removed.
std::vector<std::tuple<TIpcHandle, std::string, std::string>> ListWindows(const std::string& folder) {
    std::vector<std::tuple<TIpcHandle, std::string, std::string>> list;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return list;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        const std::string suffix = ".title";
        if (name.size() <= suffix.size() + 1 || name[0] != 'w' ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string hex = name.substr(1, name.size() - suffix.size() - 1);
        char* end = nullptr;
        const TIpcHandle handle = std::strtoull(hex.c_str(), &end, 16);
        if (!end || *end != '\0' || handle == 0) continue;
        const std::string path = folder + "/" + name;
        if (!ProcessAlive(static_cast<pid_t>(handle >> 20))) {
            unlink(path.c_str());
            unlink((folder + "/w" + hex).c_str());
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        std::string className, title;
        std::getline(in, className);
        std::getline(in, title, '\0');
        list.emplace_back(handle, className, title);
    }
    closedir(dir);
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

TIpcHandle TPosixIpc::FindWindow(const std::string& className, const std::string& title) {
    for (const auto& [handle, cls, t] : ListWindows(folder_))
        if ((className.empty() || cls == className) && t == title) return handle;
    return 0;
}

bool TPosixIpc::IsWindow(TIpcHandle window) {
    if (window == 0 || !ProcessAlive(static_cast<pid_t>(window >> 20))) return false;
    struct stat st;
    return stat((folder_ + "/w" + Hex(window) + ".title").c_str(), &st) == 0;
}

bool TPosixIpc::Send(const std::string& socketPath, const TIpcMessage& message) {
    sockaddr_un addr;
    if (!FillAddress(socketPath, addr)) return false;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const auto bytes = EncodeIpcMessage(message);
    const ssize_t n = sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

bool TPosixIpc::PostMessage(TIpcHandle window, const TIpcMessage& message) {
    return window != 0 && Send(folder_ + "/w" + Hex(window), message);
}

bool TPosixIpc::PostThreadMessage(uint64_t threadId, const TIpcMessage& message) {
    return threadId != 0 && Send(folder_ + "/t" + std::to_string(threadId), message);
}

int TPosixIpc::BroadcastMessage(const TIpcMessage& message) {
    int n = 0;
    for (const auto& entry : ListWindows(folder_))
        if (PostMessage(std::get<0>(entry), message)) ++n;
    return n;
}

std::unique_ptr<IWaitableTimer> TPosixIpc::CreateWaitableTimer() {
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer < 0) return nullptr;
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        close(timer);
        return nullptr;
    }
    return std::make_unique<PosixTimer>(timer, wake);
}

// ---- TFakeIpc ----

struct FakeTimerState {
    bool armed = false, signalled = false, woken = false, waiting = false, resultReady = false;
    uint64_t due = 0, deadline = 0;
    uint32_t period = 0;
    bool hasDeadline = false;
    TWaitResult result = TWaitResult::TimedOut;
    uint64_t waits = 0; // counts the calls of Wait
};

struct TFakeIpc::State {
    mutable std::mutex mu;
    std::condition_variable cv;
    uint64_t now = 0;
    std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> blocks;
    std::map<std::string, std::shared_ptr<std::timed_mutex>> mutexes;
    struct Window {
        std::string className, title;
        std::shared_ptr<TIpcHandler> handler;
    };
    std::map<TIpcHandle, Window> windows;
    TIpcHandle nextHandle = 0x10;
    struct Queue {
        std::deque<TIpcMessage> messages;
    };
    std::map<uint64_t, std::shared_ptr<Queue>> queues;
    uint64_t nextThread = 1000;
    std::vector<std::shared_ptr<FakeTimerState>> timers;
};

namespace {

class FakeBlock : public ISharedMemoryBlock {
public:
    explicit FakeBlock(std::shared_ptr<std::vector<uint8_t>> bytes) : bytes_(std::move(bytes)) {}
    uint8_t* Map(bool) override { return bytes_->data(); }
    void Unmap() override {}
    size_t Size() const override { return bytes_->size(); }

private:
    std::shared_ptr<std::vector<uint8_t>> bytes_;
};

class FakeMutex : public INamedMutex {
public:
    explicit FakeMutex(std::shared_ptr<std::timed_mutex> m) : m_(std::move(m)) {}
    bool Lock(int timeoutMs) override {
        if (timeoutMs < 0) {
            m_->lock();
            return true;
        }
        return m_->try_lock_for(std::chrono::milliseconds(timeoutMs));
    }
    void Unlock() override { m_->unlock(); }

private:
    std::shared_ptr<std::timed_mutex> m_;
};

class FakeWindow : public IIpcWindow {
public:
    FakeWindow(std::shared_ptr<TFakeIpc::State> state, TIpcHandle handle) : state_(std::move(state)), handle_(handle) {}
    ~FakeWindow() override {
        std::lock_guard lock(state_->mu);
        state_->windows.erase(handle_);
    }
    TIpcHandle Handle() const override { return handle_; }

private:
    std::shared_ptr<TFakeIpc::State> state_;
    TIpcHandle handle_;
};

class FakeQueue : public IThreadQueue {
public:
    FakeQueue(std::shared_ptr<TFakeIpc::State> state, uint64_t id) : state_(std::move(state)), id_(id) {}
    ~FakeQueue() override {
        std::lock_guard lock(state_->mu);
        state_->queues.erase(id_);
    }
    uint64_t ThreadId() const override { return id_; }
    bool Receive(TIpcMessage& m, int timeoutMs) override {
        std::unique_lock lock(state_->mu);
        auto queue = state_->queues[id_];
        if (!state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue->messages.empty(); }))
            return false;
        m = std::move(queue->messages.front());
        queue->messages.pop_front();
        return true;
    }

private:
    std::shared_ptr<TFakeIpc::State> state_;
    uint64_t id_;
};

class FakeTimer : public IWaitableTimer {
public:
    FakeTimer(std::shared_ptr<TFakeIpc::State> state, std::shared_ptr<FakeTimerState> t, bool* failSet)
        : state_(std::move(state)), t_(std::move(t)), failSet_(failSet) {}
    ~FakeTimer() override {
        std::lock_guard lock(state_->mu);
        auto& list = state_->timers;
        list.erase(std::remove(list.begin(), list.end(), t_), list.end());
        state_->cv.notify_all();
    }
    bool Set(uint32_t dueMs, uint32_t periodMs) override {
        std::lock_guard lock(state_->mu);
        if (*failSet_) return false;
        t_->armed = true;
        t_->signalled = false;
        t_->due = state_->now + dueMs;
        t_->period = periodMs;
        return true;
    }
    void Cancel() override {
        std::lock_guard lock(state_->mu);
        t_->armed = false;
        t_->signalled = false;
    }
    TWaitResult Wait(uint32_t timeoutMs) override {
        std::unique_lock lock(state_->mu);
        ++t_->waits;
        if (t_->woken) {
            t_->woken = false;
            state_->cv.notify_all();
            return TWaitResult::Woken;
        }
        if (t_->signalled) {
            t_->signalled = false;
            state_->cv.notify_all();
            return TWaitResult::Fired;
        }
        t_->waiting = true;
        t_->resultReady = false;
        t_->hasDeadline = timeoutMs <= 0x7FFFFFFF;
        t_->deadline = state_->now + timeoutMs;
        state_->cv.notify_all();
        state_->cv.wait(lock, [&] { return t_->resultReady || t_->woken; });
        t_->waiting = false;
        TWaitResult r = t_->resultReady ? t_->result : TWaitResult::Woken;
        if (!t_->resultReady) t_->woken = false;
        t_->resultReady = false;
        if (r == TWaitResult::Fired) t_->signalled = false;
        state_->cv.notify_all();
        return r;
    }
    void Wake() override {
        std::lock_guard lock(state_->mu);
        t_->woken = true;
        state_->cv.notify_all();
    }

private:
    std::shared_ptr<TFakeIpc::State> state_;
    std::shared_ptr<FakeTimerState> t_;
    bool* failSet_;
};

} // namespace

TFakeIpc::TFakeIpc() : state_(std::make_shared<State>()) {}
TFakeIpc::~TFakeIpc() {
    if (g_ipc == this) g_ipc = nullptr;
}

std::unique_ptr<ISharedMemoryBlock> TFakeIpc::OpenSharedMemory(const std::string& name, size_t size) {
    if (FailSharedMemory || size == 0) return nullptr;
    std::lock_guard lock(state_->mu);
    auto& block = state_->blocks[name];
    if (!block) block = std::make_shared<std::vector<uint8_t>>(size, 0);
    if (block->size() < size) block->resize(size, 0);
    return std::make_unique<FakeBlock>(block);
}

std::unique_ptr<INamedMutex> TFakeIpc::OpenMutex(const std::string& name) {
    if (FailMutex) return nullptr;
    std::lock_guard lock(state_->mu);
    auto& m = state_->mutexes[name];
    if (!m) m = std::make_shared<std::timed_mutex>();
    return std::make_unique<FakeMutex>(m);
}

std::unique_ptr<IIpcWindow> TFakeIpc::CreateWindow(const std::string& className, const std::string& title,
                                                  TIpcHandler handler) {
    std::lock_guard lock(state_->mu);
    const TIpcHandle h = state_->nextHandle++;
    state_->windows[h] = State::Window{className, title, std::make_shared<TIpcHandler>(std::move(handler))};
    return std::make_unique<FakeWindow>(state_, h);
}

std::unique_ptr<IThreadQueue> TFakeIpc::CreateThreadQueue() {
    std::lock_guard lock(state_->mu);
    const uint64_t id = state_->nextThread++;
    state_->queues[id] = std::make_shared<State::Queue>();
    return std::make_unique<FakeQueue>(state_, id);
}

TIpcHandle TFakeIpc::FindWindow(const std::string& className, const std::string& title) {
    std::lock_guard lock(state_->mu);
    for (const auto& [h, w] : state_->windows)
        if ((className.empty() || w.className == className) && w.title == title) return h;
    return 0;
}

bool TFakeIpc::IsWindow(TIpcHandle window) {
    std::lock_guard lock(state_->mu);
    return state_->windows.count(window) > 0;
}

bool TFakeIpc::PostMessage(TIpcHandle window, const TIpcMessage& message) {
    std::shared_ptr<TIpcHandler> handler;
    {
        std::lock_guard lock(state_->mu);
        auto it = state_->windows.find(window);
        if (it == state_->windows.end()) return false;
        handler = it->second.handler;
    }
    // A window freed before the message arrives drops it, as a closed socket would.
    std::weak_ptr<TIpcHandler> weak = handler;
    auto state = state_;
    QueueOnMainThread([weak, message, state, window] {
        {
            std::lock_guard lock(state->mu);
            if (!state->windows.count(window)) return;
        }
        if (auto h = weak.lock()) {
            TIpcMessage m = message;
            (*h)(m);
        }
    });
    return true;
}

bool TFakeIpc::PostThreadMessage(uint64_t threadId, const TIpcMessage& message) {
    std::lock_guard lock(state_->mu);
    auto it = state_->queues.find(threadId);
    if (it == state_->queues.end()) return false;
    TIpcMessage m = message;
    if (m.Data.size() > kIpcMaxData) m.Data.resize(kIpcMaxData);
    it->second->messages.push_back(std::move(m));
    state_->cv.notify_all();
    return true;
}

int TFakeIpc::BroadcastMessage(const TIpcMessage& message) {
    std::vector<TIpcHandle> handles;
    {
        std::lock_guard lock(state_->mu);
        for (const auto& entry : state_->windows) handles.push_back(entry.first);
    }
    int n = 0;
    for (TIpcHandle h : handles)
        if (PostMessage(h, message)) ++n;
    return n;
}

std::unique_ptr<IWaitableTimer> TFakeIpc::CreateWaitableTimer() {
    std::lock_guard lock(state_->mu);
    auto t = std::make_shared<FakeTimerState>();
    state_->timers.push_back(t);
    return std::make_unique<FakeTimer>(state_, t, &FailTimerSet);
}

uint64_t TFakeIpc::TimerNow() const {
    std::lock_guard lock(state_->mu);
    return state_->now;
}

int TFakeIpc::WaitingTimers() const {
    std::lock_guard lock(state_->mu);
    int n = 0;
    // A waiter that has been given its result or woken is on its way out, not waiting.
    for (const auto& t : state_->timers)
        if (t->waiting && !t->resultReady && !t->woken) ++n;
    return n;
}

void TFakeIpc::AdvanceTimers(uint32_t ms) {
    std::unique_lock lock(state_->mu);
    const uint64_t target = state_->now + ms;
    for (;;) {
        // The earliest event: a timer falling due, or a waiter's time running out.
        std::shared_ptr<FakeTimerState> next;
        uint64_t when = 0;
        bool isDue = false;
        for (const auto& t : state_->timers) {
            if (t->armed && t->due <= target && (!next || t->due < when)) {
                next = t;
                when = t->due;
                isDue = true;
            }
            if (t->waiting && !t->resultReady && t->hasDeadline && t->deadline <= target &&
                (!next || t->deadline < when)) {
                next = t;
                when = t->deadline;
                isDue = false;
            }
        }
        if (!next) break;
        state_->now = std::max(state_->now, when);
        const uint64_t waitsBefore = next->waits;
        bool delivered = false;
        if (isDue) {
            next->armed = next->period > 0;
            next->due = when + std::max<uint32_t>(next->period, 1);
            if (next->waiting && !next->resultReady && !next->woken) {
                next->result = TWaitResult::Fired;
                next->resultReady = true;
                delivered = true;
            } else {
                next->signalled = true;
            }
        } else {
            next->result = TWaitResult::TimedOut;
            next->resultReady = true;
        }
        state_->cv.notify_all();
        if (delivered) {
            // The waiter handles its signal and comes back to wait before time moves on.
            state_->cv.wait_for(lock, std::chrono::seconds(1), [&] {
                return next->waits > waitsBefore || std::find(state_->timers.begin(), state_->timers.end(), next) ==
                                                        state_->timers.end();
            });
        }
    }
    state_->now = std::max(state_->now, target);
}

} // namespace lumora
