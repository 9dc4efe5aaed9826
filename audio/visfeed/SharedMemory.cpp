#include "audio/visfeed/SharedMemory.h"

#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {
// The partner is the application object's window of the other program.
constexpr const char* kPartnerClass = "TApplication";
} // namespace

TSharedMemory::TSharedMemory(TObject*)
    : sendingData_(Ipc().RegisterWindowMessage("WM_SendingData")),
      requestingData_(Ipc().RegisterWindowMessage("WM_RequestingData")) {}

TSharedMemory::~TSharedMemory() { Close(); }

void TSharedMemory::SetTargetApplication(const std::string& title) {
    target_ = Trim(title);
    partner_ = target_.empty() ? 0 : Ipc().FindWindow(kPartnerClass, target_);
}

bool TSharedMemory::Open() {
    Close();
    if (Size <= 0) return false;
    block_ = Ipc().OpenSharedMemory(ShareName, static_cast<size_t>(Size));
    if (!block_) return false;
    mutex_ = Ipc().OpenMutex(ShareName + "_SMMutex");
    if (!mutex_) {
        block_.reset();
        return false;
    }
    return true;
}

uint8_t* TSharedMemory::MapView() {
    if (!block_) return nullptr;
    uint8_t* view = block_->Map(ReadOnly);
    // A failed map leaves the mutex alone: this side never holds it, and releasing a semaphore it
    // does not hold would let two holders in.
    viewMapped_ = view != nullptr;
    return view;
}

void TSharedMemory::UnmapView() {
    if (block_ && viewMapped_) block_->Unmap();
    viewMapped_ = false;
}

void TSharedMemory::Close() {
    UnmapView();
    mutex_.reset();
    block_.reset();
}

void TSharedMemory::SendNotification(uint64_t wParam, int64_t lParam) {
    if (!mutex_) return;
    if (partner_ == 0 && !target_.empty()) partner_ = Ipc().FindWindow(kPartnerClass, target_);
    if (partner_ == 0) {
        if (MsgOutOnErr)
            MessageBox("The target application is not specified.\nThe notification message has not been sent.",
                       "Warning...", TMsgIcon::Warning);
        return;
    }
    if (!Ipc().IsWindow(partner_)) {
        // Forget the gone window, so that a partner started again is found by the next notification.
        partner_ = 0;
        if (MsgOutOnErr)
            MessageBox("The target application is not active on your system.\nThe notification message has not "
                       "been sent.",
                       "Warning...", TMsgIcon::Warning);
        return;
    }
    TIpcMessage m;
    m.Msg = sendingData_;
    m.WParam = wParam;
    m.LParam = lParam;
    Ipc().PostMessage(partner_, m);
}

} // namespace lumora
