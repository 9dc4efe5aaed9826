#pragma once
// The right click and the drag of the shell views: a context menu with the shell's commands for one
// or more items of a folder (its "送る" sub-menu filled from the user's Send To folder), and a drag
// of such items as file data that allows copy, move and link.

#include <string>
#include <vector>

#include <QObject>
#include <QPoint>
#include <qnamespace.h>

#include "framework/Classes.h"
#include "platform/shell/Shell.h"

class QWidget;

namespace lumora {

// Most items one menu or drag handles.
constexpr int kMaxShellItems = 1024;
// Most Send To entries listed.
constexpr int kMaxSendToItems = 100;
// Command numbers of the Send To entries.
constexpr int kSendToFirstCommand = 1525;

// Named commands RunNamedCommand accepts.
enum TNamedCommand : int { ncCreateLink = 0, ncDelete = 1, ncProperties = 2, ncCopy = 3, ncPaste = 4 };

class TContextMenuEx : public QObject {
public:
    explicit TContextMenuEx(QObject* owner = nullptr) : QObject(owner) {}

    // Kept for the form descriptions; the menu does not use it.
    const TStringList& CMFileName() const { return cmFileName_; }
    void SetCMFileName(const TStringList& list) { cmFileName_.Assign(list); }

    // Shows the menu for count items of folder (joined one after another in items) at a screen
    // point and runs the chosen command. Does nothing without an owner or folder, or when count
    // is not 1..1024 or items holds fewer.
    void ShowMenu(QWidget* owner, const TShellFolder* folder, const QPoint& screenPoint, int count,
                  const TItemIdList& items);
    // Runs a named command (code 0..4) on one item when the item allows it; true when it ran.
    bool RunNamedCommand(QWidget* owner, const TShellFolder* folder, int code, const QPoint& screenPoint,
                         const TItemIdList& item);

    // The Send To folder's entries in the order the menu lists them (at most 100).
    static std::vector<TItemIdList> SendToItems(const TShellFolder& sendTo);

private:
    TStringList cmFileName_;
};

class TDropSourceEx : public QObject {
public:
    explicit TDropSourceEx(QObject* owner = nullptr) : QObject(owner) {}

    const TStringList& DSFileName() const { return dsFileName_; }
    void SetDSFileName(const TStringList& list) { dsFileName_.Assign(list); }

    // Drags count items of folder (joined in items) from owner with copy, move and link allowed.
    // Returns what the drop did (IgnoreAction when nothing was dragged or the drag was cancelled).
    Qt::DropAction StartDrag(QWidget* owner, const TShellFolder* folder, int count, const TItemIdList& items);

private:
    TStringList dsFileName_;
};

// Finds the first enabled, non-separator action of menu whose verb is verb; 1-based position, or
// -1 when there is none.
int FindMenuItem(const QMenu& menu, int verb);

} // namespace lumora
