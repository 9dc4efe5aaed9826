#pragma once
// Stream information and comment editor of an Ogg Vorbis file.

#include <memory>
#include <string>
#include <vector>

#include <QDialog>

#include "audio/tagforms/ShownFields.h"
#include "audio/tags/OggVorbis.h"

namespace Ui {
class OggVorbisInfoForm;
}

namespace lumora {

// Thousands grouped with commas: 1234567 gives "1,234,567".
std::string GroupedNumber(int64_t value);
// Whole seconds as "mm:ss" (minutes at least two digits).
std::string MinutesSeconds(double seconds);

class TOggVorbisInfoForm : public QDialog {
public:
    // The form works on the file it is made for; Open gives none for a file that is no Ogg Vorbis.
    static std::unique_ptr<TOggVorbisInfoForm> Open(QWidget* owner, const std::string& fileName);
    ~TOggVorbisInfoForm() override;

    Ui::OggVorbisInfoForm* ui;
    const std::string& FileName() const { return fileName_; }
    TOggVorbis& Reader() { return *reader_; }

    void FormShow();
    void btnAddNewClick();
    void btnDeleteClick();
    void btnDeleteAllClick();
    void ExtraTagListDblClick();
    void btnUpdateClick();
    // The items of the "Other" list, NAME=value each.
    std::vector<std::string> ExtraItems() const;

private:
    TOggVorbisInfoForm(QWidget* owner, const std::string& fileName, std::unique_ptr<TOggVorbis> reader);
    // Checks a new item's name; shows why it is refused. skipRow is the item being edited.
    bool NameAllowed(const std::string& name, int skipRow);

    std::string fileName_;
    std::unique_ptr<TOggVorbis> reader_;
    TShownFields shown_;
};

// Shows the form for a file; false when the file is no Ogg Vorbis.
bool ShowOggVorbisInfo(QWidget* owner, const std::string& fileName);

} // namespace lumora
