#pragma once
// A drop-down list of named colours with a swatch before each name. A click on the swatch or the
// name does not open the list (it fires OnClick); only the arrow at the right end does.

#include <QComboBox>

#include "framework/Classes.h"
#include "framework/Graphics.h"

namespace lumora {

class TColorComboBox : public QComboBox {
public:
    static constexpr int kColorCount = 18;

    explicit TColorComboBox(QWidget* parent = nullptr);

    TColor CustomColor() const { return customColor_; }
    void SetCustomColor(TColor color);
    TColor SelectColor() const { return selectColor_; }
    void SetSelectColor(TColor color);
    // The colour that stands for "no entry selected".
    TColor Color = clWindow;

    // Colour of an entry (index outside the list: Color); entry of a colour (-1 when none).
    TColor ColorOfIndex(int index) const;
    int IndexOfColor(TColor color) const;
    static const char* ColorName(int index);

    TNotifyEvent OnChange;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool OnArrow(int x) const;
    void Changed();
    void UpdateSwatch(int index);

    TColor customColor_ = clBlack;
    TColor selectColor_ = clBlack;
};

} // namespace lumora
