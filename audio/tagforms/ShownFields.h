#pragma once
// What the text controls of a tag form showed when it was filled, so that a save writes only the
// fields the user edited. A control need not hold a tag's text as it was read (a memo turns CRLF
// line ends into LF, a line edit keeps at most 32,767 characters): a field left alone keeps the
// tag's own text instead of the control's copy of it.

#include <initializer_list>
#include <map>

#include <QString>

class QWidget;

namespace lumora {

class TShownFields {
public:
    // Notes what each control (line edit, combo box, memo) shows now, forgetting earlier notes.
    void Remember(std::initializer_list<const QWidget*> controls);
    // True when the control shows something else now, or was never noted.
    bool Edited(const QWidget* control) const;

private:
    static QString Content(const QWidget* control);

    std::map<const QWidget*, QString> shown_;
};

} // namespace lumora
