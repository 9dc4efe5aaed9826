#include "audio/tagforms/ShownFields.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace lumora {

void TShownFields::Remember(std::initializer_list<const QWidget*> controls) {
    shown_.clear();
    for (const QWidget* control : controls)
        shown_[control] = Content(control);
}

bool TShownFields::Edited(const QWidget* control) const {
    auto it = shown_.find(control);
    return it == shown_.end() || it->second != Content(control);
}

QString TShownFields::Content(const QWidget* control) {
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
    if (auto* combo = qobject_cast<const QComboBox*>(control)) return combo->currentText();
    if (auto* memo = qobject_cast<const QPlainTextEdit*>(control)) return memo->toPlainText();
    return {};
}

} // namespace lumora
