#pragma once
// A label that opens a link when pressed; its pop-up menu copies the link.

#include <functional>
#include <string>

#include <QLabel>

#include "framework/Graphics.h"

namespace lumora {

// Opens a link with the desktop's default handler; tests put a recorder here.
using TUrlOpener = std::function<bool(const std::string& link)>;
void SetUrlOpener(TUrlOpener opener); // nullptr = the desktop's handler

class TUrlLabel : public QLabel {
public:
    explicit TUrlLabel(QWidget* parent = nullptr);

    bool Click() const { return click_; }
    void SetClick(bool value); // hand cursor when true
    std::string GoURL = "mailto:lumora@example.org";
    TColor FontDownColor = 0x800080;
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);
    std::string Caption() const { return text().toStdString(); }

    // GoURL, or the caption when GoURL is blank.
    std::string Link() const;
    // The "&Copy" command.
    void CopyLink();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool click_ = true;
    bool down_ = false;
    TColor fontColor_ = 0xFF0000;
    TColor savedColor_ = 0xFF0000;
};

} // namespace lumora
