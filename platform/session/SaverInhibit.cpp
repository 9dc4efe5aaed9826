#include "platform/session/SaverInhibit.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace lumora {

namespace {

const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";

// The session screensaver drops a hold by itself when our bus connection ends, so a crash never
// leaves the screensaver switched off.
class SessionInhibitor : public IScreenSaverInhibitor {
public:
    uint32_t Inhibit(const std::string& reason) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService)) return 0;
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "Inhibit");
        call << QCoreApplication::applicationName() << QString::fromStdString(reason);
        QDBusReply<uint32_t> reply = bus.call(call, QDBus::Block, 2000);
        return reply.isValid() ? reply.value() : 0;
    }
    void UnInhibit(uint32_t cookie) override {
        if (cookie == 0) return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "UnInhibit");
        call << cookie;
        bus.call(call, QDBus::NoBlock);
    }
};

IScreenSaverInhibitor* g_inhibitor = nullptr;

} // namespace

IScreenSaverInhibitor& ScreenSaverInhibitor() {
    static SessionInhibitor session;
    return g_inhibitor ? *g_inhibitor : session;
}

void SetScreenSaverInhibitor(IScreenSaverInhibitor* inhibitor) { g_inhibitor = inhibitor; }

TScreenSaverInhibit::TScreenSaverInhibit(const std::string& reason)
    : inhibitor_(ScreenSaverInhibitor()), cookie_(inhibitor_.Inhibit(reason)) {}

TScreenSaverInhibit::~TScreenSaverInhibit() { inhibitor_.UnInhibit(cookie_); }

} // namespace lumora
