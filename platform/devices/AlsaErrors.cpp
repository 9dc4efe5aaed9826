#include "platform/devices/AlsaErrors.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace lumora {

namespace {
void DropAlsaError(const char*, int, const char*, int, const char*, ...) {}
} // namespace

void HoldBackAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(DropAlsaError); });
}

void ReportMissingAlsaDevice(const std::string& what, int error) {
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return;
    std::fprintf(stderr, "lumora: no ALSA sound device here (%s: %s); carrying on without it\n", what.c_str(),
                 snd_strerror(error));
}

} // namespace lumora
