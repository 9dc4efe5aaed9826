#include "dialogs/pickers/ContextMenu.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QMenu>
#include <QMimeData>
#include <QWidget>

#include "dialogs/pickers/ShellViews.h"
#include "framework/Forms.h"

namespace lumora {

namespace {

void ReportInvokeFailure() {
    MessageBox(" InvokeCommand failed! ", " TContextMenuEx component version 2.04", TMsgIcon::Information);
}

std::unique_ptr<TShellFolder> BindSendTo() {
    TItemIdList id;
    if (!ParseDisplayName(SendToFolder(), id)) return nullptr;
    if (id.Empty()) return nullptr;
    return DesktopFolder().BindToObject(id);
}

} // namespace

int FindMenuItem(const QMenu& menu, int verb) {
    const QList<QAction*> actions = menu.actions();
    for (int i = 0; i < actions.size(); ++i) {
        QAction* a = actions[i];
        if (a->isSeparator() || !a->isEnabled()) continue;
        if (a->data().toInt() == verb) return i + 1;
    }
    return -1;
}

std::vector<TItemIdList> TContextMenuEx::SendToItems(const TShellFolder& sendTo) {
    std::vector<TItemIdList> items, folders;
    // Only what is not a folder is an entry. A symbolic link to a folder stands for a shortcut to
    // one (the usual entry), so it counts as a link, not as a folder.
    if (!sendTo.EnumObjects(SHCONTF_NONFOLDERS, items) || !sendTo.EnumObjects(SHCONTF_FOLDERS, folders)) return {};
    for (auto& folder : folders)
        if (std::error_code error; std::filesystem::is_symlink(sendTo.PathOf(folder), error))
            items.push_back(std::move(folder));
    sendTo.SortIds(items);
    if (items.size() > static_cast<size_t>(kMaxSendToItems)) items.resize(kMaxSendToItems);
    return items;
}

void TContextMenuEx::ShowMenu(QWidget* owner, const TShellFolder* folder, const QPoint& screenPoint, int count,
                              const TItemIdList& items) {
    if (!owner || !folder || count < 1 || count > kMaxShellItems) return;
    std::vector<TItemIdList> list = items.Split(count);
    if (static_cast<int>(list.size()) < count) return;

    QMenu menu(owner);
    BuildItemMenu(menu, *folder, list);

    // The Send To sub-menu lists the entries of the user's Send To folder in place of the shell's own.
    bool sendToFilled = false;
    int sendToPos = FindMenuItem(menu, svSendTo);
    std::unique_ptr<TShellFolder> sendTo;
    if (sendToPos > 0) {
        QMenu* sub = menu.actions()[sendToPos - 1]->menu();
        sendTo = BindSendTo();
        if (sub && sendTo) {
            std::vector<TItemIdList> entries = SendToItems(*sendTo);
            for (size_t i = 0; i < entries.size(); ++i) {
                QAction* a = sub->addAction(FileNameText(sendTo->DisplayNameOf(entries[i], SHGDN_NORMAL)));
                a->setData(kSendToFirstCommand + static_cast<int>(i));
            }
            QAction* own = sub->actions().value(0);
            sub->removeAction(own);
            delete own;
            sendToFilled = true;
        }
    }

    QAction* chosen = ShellUi().PopupMenu(menu, screenPoint);
    int command = chosen ? chosen->data().toInt() : 0;
    int sendToIndex = -1;
    if (sendToFilled && command >= kSendToFirstCommand && command < kSendToFirstCommand + kMaxSendToItems) {
        sendToIndex = command - kSendToFirstCommand;
        command = svCopy;
    }
    if (command == 0) return;
    if (!InvokeShellVerb(command, *folder, list)) {
        ReportInvokeFailure();
        return;
    }
    if (sendToIndex >= 0) {
        // The entry is looked up again: the folder may have changed while the menu was open.
        std::vector<TItemIdList> entries = SendToItems(*sendTo);
        if (sendToIndex < static_cast<int>(entries.size()))
            RunNamedCommand(owner, sendTo.get(), ncPaste, screenPoint, entries[sendToIndex]);
    }
}

bool TContextMenuEx::RunNamedCommand(QWidget* owner, const TShellFolder* folder, int code, const QPoint&,
                                     const TItemIdList& item) {
    if (!owner || !folder || item.Empty() || code < 0 || code > ncPaste) return false;
    std::vector<TItemIdList> list = item.Split(1);
    uint32_t attrs = folder->GetAttributesOf(list[0], 0x800F0177);
    QMenu menu(owner);
    BuildItemMenu(menu, *folder, list);
    int verb = 0;
    bool allowed = false;
    switch (code) {
    case ncCreateLink: verb = svCreateLink, allowed = attrs & SFGAO_CANLINK; break;
    case ncDelete: verb = svDelete, allowed = attrs & SFGAO_CANDELETE; break;
    case ncProperties: verb = svProperties, allowed = attrs & SFGAO_HASPROPSHEET; break;
    case ncCopy: verb = svCopy, allowed = attrs & SFGAO_CANCOPY; break;
    case ncPaste: verb = svPaste, allowed = FindMenuItem(menu, svPaste) > 0; break;
    }
    if (!allowed) return false;
    if (!InvokeShellVerb(verb, *folder, list)) {
        ReportInvokeFailure();
        return false;
    }
    return true;
}

Qt::DropAction TDropSourceEx::StartDrag(QWidget* owner, const TShellFolder* folder, int count,
                                        const TItemIdList& items) {
    if (!owner || !folder || count < 1 || count > kMaxShellItems) return Qt::IgnoreAction;
    std::vector<TItemIdList> list = items.Split(count);
    if (static_cast<int>(list.size()) < count) return Qt::IgnoreAction;
    std::vector<std::string> paths;
    for (const auto& item : list) {
        std::string path = folder->PathOf(item);
        if (path.empty()) return Qt::IgnoreAction; // only file-system items can be dragged as files
        paths.push_back(path);
    }
    // The drop target moves or links the files itself, so nothing is left to do here afterwards.
    return ShellUi().Drag(owner, MakeFileDragData(paths), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
}

} // namespace lumora
