#pragma once
// Inter-process pieces: named shared memory, named mutexes, registered message numbers, message
// windows found by class and title, per-thread message queues and a waitable timer. The real
// implementation works on POSIX shared memory, named semaphores, Unix datagram sockets in a
// per-user folder and timerfd; the fake one keeps everything inside the process, with timers on
// a time the test moves.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

// A message window of any process; 0 names none.
using TIpcHandle = uint64_t;

// One posted message. Data stands in for the memory a sender points at: it travels with the
// message and the receiver sees it for the duration of its handler.
struct TIpcMessage {
    uint32_t Msg = 0;
    uint64_t WParam = 0;
    int64_t LParam = 0;
    std::vector<uint32_t> Data;
};
constexpr size_t kIpcMaxData = 64;

// The bytes of a message on the wire, and back; decoding refuses anything malformed.
std::vector<uint8_t> EncodeIpcMessage(const TIpcMessage& message);
bool DecodeIpcMessage(const uint8_t* bytes, size_t size, TIpcMessage& message);

// Registered message numbers lie in 0xC000..0xFFFF and come from the name alone (compared without
// regard to case), so that every process finds the same number for the same name.
uint32_t MessageNumberForName(const std::string& name);

class ISharedMemoryBlock {
public:
    virtual ~ISharedMemoryBlock() = default;
    // The whole block, or nullptr when it cannot be mapped; one view at a time.
    virtual uint8_t* Map(bool readOnly) = 0;
    virtual void Unmap() = 0;
    virtual size_t Size() const = 0;
};

class INamedMutex {
public:
    virtual ~INamedMutex() = default;
    // timeoutMs < 0 waits without limit; false when the wait timed out.
    virtual bool Lock(int timeoutMs) = 0;
    virtual void Unlock() = 0;
};

// A window that other processes can find and post to; messages reach the handler on the main thread.
class IIpcWindow {
public:
    virtual ~IIpcWindow() = default;
    virtual TIpcHandle Handle() const = 0;
};

// The message queue of the thread that created it; other processes post to it by its id.
class IThreadQueue {
public:
    virtual ~IThreadQueue() = default;
    virtual uint64_t ThreadId() const = 0;
    // Waits at most timeoutMs for the next message.
    virtual bool Receive(TIpcMessage& message, int timeoutMs) = 0;
};

enum class TWaitResult { Fired, TimedOut, Woken };

// A timer that signals once at its due time and then every period (0 = once); one waiter at a time.
class IWaitableTimer {
public:
    virtual ~IWaitableTimer() = default;
    virtual bool Set(uint32_t dueMs, uint32_t periodMs) = 0;
    virtual void Cancel() = 0;
    virtual TWaitResult Wait(uint32_t timeoutMs) = 0;
    // Makes the current or the next wait return Woken (from any thread).
    virtual void Wake() = 0;
};

using TIpcHandler = std::function<void(TIpcMessage& message)>;

class IIpc {
public:
    virtual ~IIpc() = default;
    // Creates the block or opens the existing one of that name; nullptr when neither works.
    virtual std::unique_ptr<ISharedMemoryBlock> OpenSharedMemory(const std::string& name, size_t size) = 0;
    virtual std::unique_ptr<INamedMutex> OpenMutex(const std::string& name) = 0;
    virtual uint32_t RegisterWindowMessage(const std::string& name) = 0;
    virtual std::unique_ptr<IIpcWindow> CreateWindow(const std::string& className, const std::string& title,
                                                     TIpcHandler handler) = 0;
    virtual std::unique_ptr<IThreadQueue> CreateThreadQueue() = 0;
    // An empty class name matches any class.
    virtual TIpcHandle FindWindow(const std::string& className, const std::string& title) = 0;
    virtual bool IsWindow(TIpcHandle window) = 0;
    virtual bool PostMessage(TIpcHandle window, const TIpcMessage& message) = 0;
    virtual bool PostThreadMessage(uint64_t threadId, const TIpcMessage& message) = 0;
    // Posts to every window; returns how many took it.
    virtual int BroadcastMessage(const TIpcMessage& message) = 0;
    virtual std::unique_ptr<IWaitableTimer> CreateWaitableTimer() = 0;
};

IIpc& Ipc();
void SetIpc(IIpc* ipc); // nullptr = the real one

// The real implementation. Windows and thread queues are sockets in `folder` (created 0700);
// shared memory and mutexes carry `prefix` in their system names.
class TPosixIpc : public IIpc {
public:
    // Folder: $LUMORA_IPC_DIR, else $XDG_RUNTIME_DIR/lumora-ipc, else /tmp/lumora-ipc-<uid>.
    TPosixIpc();
    TPosixIpc(std::string folder, std::string prefix);
    const std::string& Folder() const { return folder_; }

    std::unique_ptr<ISharedMemoryBlock> OpenSharedMemory(const std::string& name, size_t size) override;
    std::unique_ptr<INamedMutex> OpenMutex(const std::string& name) override;
    uint32_t RegisterWindowMessage(const std::string& name) override { return MessageNumberForName(name); }
    std::unique_ptr<IIpcWindow> CreateWindow(const std::string& className, const std::string& title,
                                             TIpcHandler handler) override;
    std::unique_ptr<IThreadQueue> CreateThreadQueue() override;
    TIpcHandle FindWindow(const std::string& className, const std::string& title) override;
    bool IsWindow(TIpcHandle window) override;
    bool PostMessage(TIpcHandle window, const TIpcMessage& message) override;
    bool PostThreadMessage(uint64_t threadId, const TIpcMessage& message) override;
    int BroadcastMessage(const TIpcMessage& message) override;
    std::unique_ptr<IWaitableTimer> CreateWaitableTimer() override;

private:
    std::string SystemName(const std::string& name) const;
    bool Send(const std::string& socketPath, const TIpcMessage& message);
    std::string folder_, prefix_;
};

// Everything inside the process. Windows get their messages through the main thread's queue;
// timers run on a time that only AdvanceTimers moves.
class TFakeIpc : public IIpc {
public:
    TFakeIpc();
    ~TFakeIpc() override;

    std::unique_ptr<ISharedMemoryBlock> OpenSharedMemory(const std::string& name, size_t size) override;
    std::unique_ptr<INamedMutex> OpenMutex(const std::string& name) override;
    uint32_t RegisterWindowMessage(const std::string& name) override { return MessageNumberForName(name); }
    std::unique_ptr<IIpcWindow> CreateWindow(const std::string& className, const std::string& title,
                                             TIpcHandler handler) override;
    std::unique_ptr<IThreadQueue> CreateThreadQueue() override;
    TIpcHandle FindWindow(const std::string& className, const std::string& title) override;
    bool IsWindow(TIpcHandle window) override;
    bool PostMessage(TIpcHandle window, const TIpcMessage& message) override;
    bool PostThreadMessage(uint64_t threadId, const TIpcMessage& message) override;
    int BroadcastMessage(const TIpcMessage& message) override;
    std::unique_ptr<IWaitableTimer> CreateWaitableTimer() override;

    // Makes the next shared memory, mutex or timer creation fail (to test the callers' fallbacks).
    bool FailSharedMemory = false, FailMutex = false, FailTimerSet = false;
    // Moves the timers' time forward; each due signal is taken by its waiter before the next
    // (a waiter that does not come back within a second of real time is left behind).
    void AdvanceTimers(uint32_t ms);
    uint64_t TimerNow() const;
    // Number of timers with a waiter blocked in Wait right now.
    int WaitingTimers() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace lumora
