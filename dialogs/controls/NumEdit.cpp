#include "dialogs/controls/NumEdit.h"

#include <algorithm>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "framework/Forms.h"

namespace lumora {

TIntEdit::TIntEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(11);
    setText("0");
    connect(this, &QLineEdit::textChanged, this, [this] { TextChanged(); });
}

void TIntEdit::SetMin(int value) {
    min_ = value;
    if (max_ < min_) max_ = min_;
    int current;
    if (TryStrToInt(text().toStdString(), current) && current < min_) SetValue(min_);
}

void TIntEdit::SetMax(int value) {
    max_ = value;
    if (min_ > max_) min_ = max_;
    int current;
    if (TryStrToInt(text().toStdString(), current) && current > max_) SetValue(max_);
}

int TIntEdit::Value() const { return StrToInt(text().toStdString()); }

void TIntEdit::SetValue(int value) { setText(QString::number(value)); }

void TIntEdit::Validate() const {
    int value = Value();
    if (value < min_ || value > max_) throw ERangeError(Format("%d から %d の間の値でなければなりません", min_, max_));
}

void TIntEdit::keyPressEvent(QKeyEvent* event) {
    // Control keys, the space and the minus sign pass; any other character but a digit is dropped.
    const QString typed = event->text();
    if (!typed.isEmpty()) {
        for (QChar c : typed) {
            ushort u = c.unicode();
            if (u >= 33 && u != '-' && (u < '0' || u > '9')) {
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TIntEdit::TextChanged() {
    int value;
    if (!TryStrToInt(text().toStdString(), value) || value < min_ || value > max_) return;
    if (OnChange) Application().Guard(OnChange);
}

void TIntEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Only a move to another control of the same window checks the value; switching windows does not.
    if (!ValidateOnExit || event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    try {
        Validate();
    } catch (const Exception& e) {
        Reject(e);
    }
}

bool TIntEdit::ConfirmValue() {
    if (rejectPending_) return false;
    try {
        Validate();
        return true;
    } catch (const Exception& e) {
        Reject(e);
        return false;
    }
}

void TIntEdit::Reject(const Exception& e) {
    // The value stays in front of the user until it is right; the message says what is wrong.
    rejectPending_ = true;
    QTimer::singleShot(0, this, [this] {
        rejectPending_ = false;
        setFocus(Qt::OtherFocusReason);
        selectAll();
    });
    Application().HandleException(e);
}

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, [this] { StepUp(); });
    connect(down_, &QToolButton::clicked, this, [this] { StepDown(); });
}

void TUpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    if (associate_) {
        associate_->SetMin(min_);
        associate_->SetMax(max_);
    }
    SetPosition(position_);
}

void TUpDown::SetPosition(int value) {
    value = std::clamp(value, min_, max_);
    bool changed = value != position_;
    position_ = value;
    if (associate_) {
        int shown;
        if (!TryStrToInt(associate_->text().toStdString(), shown) || shown != value) associate_->SetValue(value);
    }
    if (changed && OnChange) Application().Guard(OnChange);
}

void TUpDown::SetAssociate(TIntEdit* edit) {
    associate_ = edit;
    if (!edit) return;
    edit->SetMin(min_);
    edit->SetMax(max_);
    edit->SetValue(position_);
    connect(edit, &QLineEdit::textChanged, this, [this] {
        int value;
        if (TryStrToInt(associate_->text().toStdString(), value) && value >= min_ && value <= max_ &&
            value != position_) {
            position_ = value;
            if (OnChange) Application().Guard(OnChange);
        }
    });
}

void TUpDown::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && associate_) associate_->setEnabled(isEnabled());
}

} // namespace lumora
