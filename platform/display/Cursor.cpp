#include "platform/display/Cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace lumora {

namespace {
int g_count = 0;
std::function<void(bool)> g_applier;

void ApplyToQt(bool hidden) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    if (hidden) QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    else QGuiApplication::restoreOverrideCursor();
}
} // namespace

int ShowCursor(bool show) {
    bool wasHidden = g_count < 0;
    g_count += show ? 1 : -1;
    bool hidden = g_count < 0;
    // Only a crossing of the threshold changes what the user sees.
    if (hidden != wasHidden) {
        if (g_applier) g_applier(hidden);
        else ApplyToQt(hidden);
    }
    return g_count;
}

int CursorDisplayCount() { return g_count; }
bool CursorHidden() { return g_count < 0; }
void SetCursorApplier(std::function<void(bool hidden)> applier) { g_applier = std::move(applier); }

} // namespace lumora
