#include "platform/devices/AlsaErrors.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <mutex>
#include <set>

namespace lumora {

namespace {
void DropAlsaError(const char*, int, const char*, int, const char*, ...) {}
} // namespace

void HoldBackAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(DropAlsaError); });
}

void ReportMissingAlsaDevice(const std::string& what, int error) {
    TellMissingDevice("ALSA", "no ALSA sound device here (" + what + ": " + snd_strerror(error) +
                                  "); carrying on without it");
}

void TellMissingDevice(const std::string& topic, const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (!told.insert(topic).second) return;
    std::fprintf(stderr, "lumora: %s\n", text.c_str());
}

} // namespace lumora
