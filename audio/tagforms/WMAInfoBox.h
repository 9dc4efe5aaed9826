#pragma once
// Stream information and tag editor of a WMA file.

#include <memory>
#include <string>

#include <QDialog>

#include "audio/tagforms/ShownFields.h"
#include "audio/tags/WMAReader.h"

namespace Ui {
class WMAInfoForm;
}

namespace lumora {

struct TStreamInfo;

// Whole seconds as "m:ss": minutes without a leading zero, at least one digit.
std::string ShortMinutesSeconds(int64_t seconds);

class TWMAInfoForm : public QDialog {
public:
    // The form works on the file it is made for, with the sample rate and channel count the
    // player read from its stream; Open gives none when the file's tags cannot be read.
    static std::unique_ptr<TWMAInfoForm> Open(QWidget* owner, const std::string& fileName, const TStreamInfo& info);
    ~TWMAInfoForm() override;

    Ui::WMAInfoForm* ui;
    const std::string& FileName() const { return fileName_; }
    const TTagsData& Tags() const { return tags_; }

    // Clears the fields and fills them from the file; false when its tags could not be read.
    bool FormShow();
    void btnUpdateClick();
    void btnCancelClick();

private:
    TWMAInfoForm(QWidget* owner, const std::string& fileName, int sampleRate, int channels);

    std::string fileName_;
    int sampleRate_ = 0;
    int channels_ = 0;
    TWMAReader reader_;
    TTagsData tags_;
    TShownFields shown_;
};

// Shows the form for a file; false when its tags cannot be read.
bool ShowWMAInfo(QWidget* owner, const std::string& fileName, const TStreamInfo& info);

} // namespace lumora
