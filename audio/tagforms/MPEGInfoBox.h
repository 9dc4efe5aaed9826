#pragma once
// Stream information of an MPEG audio file with editors for its ID3v1 and ID3v2 tags.

#include <memory>
#include <string>

#include <QDialog>

#include "audio/tagforms/ShownFields.h"
#include "audio/tags/MPEGaudio.h"

namespace Ui {
class MPEGFileInfoForm;
}

namespace lumora {

// The emphasis text of a frame header's emphasis field.
std::string EmphasisText(uint8_t emphasisID);

class TMPEGFileInfoForm : public QDialog {
public:
    // The form works on the file it is made for; Open gives none for a file that is no MPEG audio.
    static std::unique_ptr<TMPEGFileInfoForm> Open(QWidget* owner, const std::string& fileName);
    ~TMPEGFileInfoForm() override;

    Ui::MPEGFileInfoForm* ui;
    const std::string& FileName() const { return fileName_; }
    TMPEGaudio& Reader() { return *reader_; }

    void FormShow();
    void cbID3v1TagClick();
    void cbID3v2TagClick();
    void btnCopyToClick();
    void btnCopyFromClick();
    void btnUpdateClick();
    void btnUndoClick() { FormShow(); }

private:
    TMPEGFileInfoForm(QWidget* owner, const std::string& fileName, std::unique_ptr<TMPEGaudio> reader);
    void EnableGroup1(bool on);
    void EnableGroup2(bool on);
    bool Edited(const QWidget* w) const { return shown_.Edited(w); }

    TShownFields shown_;
    std::string fileName_;
    std::unique_ptr<TMPEGaudio> reader_;
};

// Shows the form for a file; false when the file is no MPEG audio.
bool ShowMPEGFileInfo(QWidget* owner, const std::string& fileName);

} // namespace lumora
