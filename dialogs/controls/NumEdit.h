#pragma once
// An edit box for a whole number within limits, and the up-down buttons that go with it.

#include <climits>
#include <functional>

#include <QLineEdit>
#include <QWidget>

#include "framework/Classes.h"

class QToolButton;

namespace lumora {

class TIntEdit : public QLineEdit {
public:
    explicit TIntEdit(QWidget* parent = nullptr);

    int Min() const { return min_; }
    void SetMin(int value);
    int Max() const { return max_; }
    void SetMax(int value);
    // The text as a number; a text that is no number raises EConvertError.
    int Value() const;
    void SetValue(int value);
    bool ValidateOnExit = true;

    // Fires only while the text is a number within Min..Max.
    TNotifyEvent OnChange;

    // Raises EConvertError for a text that is no number and ERangeError for a number out of range.
    void Validate() const;
    // Checks the value as leaving the box does, for a confirmation that does not leave it (Enter
    // on the dialog's default button): a wrong value is reported once, the focus stays in the box
    // and the answer is false.
    bool ConfirmValue();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void TextChanged();
    void Reject(const Exception& e);
    // A wrong value was just reported and the focus is on its way back.
    bool rejectPending_ = false;
    int min_ = INT_MIN;
    int max_ = INT_MAX;
};

// Up and down arrow buttons that step a position within Min..Max and keep an associated integer edit
// showing it; typing a number into the edit moves the position.
class TUpDown : public QWidget {
public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetRange(int min, int max);
    int Position() const { return position_; }
    void SetPosition(int value);
    void SetAssociate(TIntEdit* edit);
    TIntEdit* Associate() const { return associate_; }
    TNotifyEvent OnChange;

    void StepUp() { SetPosition(position_ + 1); }
    void StepDown() { SetPosition(position_ - 1); }

protected:
    void changeEvent(QEvent* event) override;

private:
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    TIntEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace lumora
