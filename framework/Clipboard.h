#pragma once
// The clipboard: a bitmap and named byte formats, on the system clipboard through Qt, or in memory
// for tests.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// The bitmap format's number; named formats get numbers from 0xC000 on.
constexpr uint16_t CF_BITMAP = 2;
// The same name always gives the same number within a run of the program.
uint16_t RegisterClipboardFormat(const std::string& name);
// The name a number was registered with, or empty.
std::string ClipboardFormatName(uint16_t format);

class IClipboard {
public:
    virtual ~IClipboard() = default;
    virtual void Clear() = 0;
    // Each adds its format to what the clipboard holds, keeping the other formats; false on failure.
    virtual bool SetData(uint16_t format, const std::vector<uint8_t>& bytes) = 0;
    virtual bool SetBitmap(const TBitmap& bitmap) = 0;
    virtual bool HasFormat(uint16_t format) = 0;
    virtual bool GetData(uint16_t format, std::vector<uint8_t>& bytes) = 0;
    // Reads the clipboard's picture as a 32-bit bitmap; false when there is none.
    virtual bool GetBitmap(TBitmap& bitmap) = 0;
};

IClipboard& Clipboard();
void SetClipboard(IClipboard* clipboard); // nullptr = the system clipboard

// Holds what is put on it in memory (tests).
class TMemoryClipboard : public IClipboard {
public:
    void Clear() override;
    bool SetData(uint16_t format, const std::vector<uint8_t>& bytes) override;
    bool SetBitmap(const TBitmap& bitmap) override;
    bool HasFormat(uint16_t format) override;
    bool GetData(uint16_t format, std::vector<uint8_t>& bytes) override;
    bool GetBitmap(TBitmap& bitmap) override;
    bool RefuseWrites = false; // makes every Set fail, as a clipboard held by another program does

private:
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> data_;
    std::vector<uint8_t> bitmap_; // BMP bytes
};

} // namespace lumora
