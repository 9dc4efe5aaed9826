#pragma once
// A named shared-memory block with a mutex beside it, and notifications to a partner application's
// window, found by its title.

#include <cstdint>
#include <memory>
#include <string>

#include "framework/Classes.h"
#include "platform/system/Ipc.h"

namespace lumora {

class TSharedMemory : public TObject {
public:
    explicit TSharedMemory(TObject* owner = nullptr);
    ~TSharedMemory() override;
    TSharedMemory(const TSharedMemory&) = delete;
    TSharedMemory& operator=(const TSharedMemory&) = delete;

    bool ReadOnly = false;
    // Name of the block; the mutex is named ShareName + "_SMMutex".
    std::string ShareName;
    int Size = 0;
    // Show a message box when a notification cannot be sent.
    bool MsgOutOnErr = false;
    // Wait limit for the mutex (kept for the partner's use; nothing here waits).
    int Timeout = -1;

    const std::string& TargetApplication() const { return target_; }
    // Trims the title and, when it is not empty, looks up the partner's window.
    void SetTargetApplication(const std::string& title);

    // Creates or opens the block and the mutex; true only when both are there.
    bool Open();
    bool IsOpen() const { return block_ && mutex_; }
    // The whole block (read-only when ReadOnly), or nullptr when it is not open or cannot be mapped.
    uint8_t* MapView();
    void UnmapView();
    void Close();
    // Posts the "WM_SendingData" message to the partner's window.
    void SendNotification(uint64_t wParam, int64_t lParam);

    uint32_t SendingDataMessage() const { return sendingData_; }
    uint32_t RequestingDataMessage() const { return requestingData_; }
    INamedMutex* Mutex() const { return mutex_.get(); }
    TIpcHandle PartnerWindow() const { return partner_; }

private:
    std::string target_;
    TIpcHandle partner_ = 0;
    uint32_t sendingData_ = 0, requestingData_ = 0;
    std::unique_ptr<ISharedMemoryBlock> block_;
    std::unique_ptr<INamedMutex> mutex_;
    bool viewMapped_ = false;
};

} // namespace lumora
