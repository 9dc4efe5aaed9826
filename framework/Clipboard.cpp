#include "framework/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <algorithm>
#include <mutex>

namespace lumora {

namespace {

std::mutex g_formatMutex;
std::vector<std::string>& FormatNames() {
    static std::vector<std::string> names;
    return names;
}

// Named formats travel under the MIME type Qt uses for named Windows clipboard formats.
QString MimeType(uint16_t format) {
    return QStringLiteral("application/x-qt-windows-mime;value=\"%1\"")
        .arg(QString::fromStdString(ClipboardFormatName(format)));
}

std::vector<uint8_t> BitmapBytes(const TBitmap& bitmap) {
    TBitmap copy;
    copy.Assign(bitmap);
    TMemoryStream stream;
    copy.SaveToStream(stream);
    return stream.Bytes();
}

class TSystemClipboard : public IClipboard {
public:
    void Clear() override {
        if (auto* c = Board()) c->clear();
    }
    bool SetData(uint16_t format, const std::vector<uint8_t>& bytes) override {
        if (ClipboardFormatName(format).empty()) return false;
        QMimeData* data = CopyOfCurrent();
        if (!data) return false;
        data->setData(MimeType(format),
                      QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
        Board()->setMimeData(data);
        return true;
    }
    bool SetBitmap(const TBitmap& bitmap) override {
        QMimeData* data = CopyOfCurrent();
        if (!data) return false;
        TBitmap copy;
        copy.Assign(bitmap);
        data->setImageData(copy.AsQImage().copy());
        Board()->setMimeData(data);
        return true;
    }
    bool HasFormat(uint16_t format) override {
        auto* c = Board();
        const QMimeData* data = c ? c->mimeData() : nullptr;
        if (!data) return false;
        return format == CF_BITMAP ? data->hasImage() : data->hasFormat(MimeType(format));
    }
    bool GetData(uint16_t format, std::vector<uint8_t>& bytes) override {
        if (!HasFormat(format) || format == CF_BITMAP) return false;
        QByteArray raw = Board()->mimeData()->data(MimeType(format));
        bytes.assign(raw.begin(), raw.end());
        return true;
    }
    bool GetBitmap(TBitmap& bitmap) override {
        if (!HasFormat(CF_BITMAP)) return false;
        QImage image = qvariant_cast<QImage>(Board()->mimeData()->imageData());
        if (image.isNull()) return false;
        bitmap.FromQImage(image);
        return true;
    }

private:
    static QClipboard* Board() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr; }
    // Qt replaces the whole content on each set, so the formats already there are carried over.
    static QMimeData* CopyOfCurrent() {
        auto* c = Board();
        if (!c) return nullptr;
        auto* copy = new QMimeData;
        if (const QMimeData* old = c->mimeData()) {
            for (const QString& f : old->formats()) copy->setData(f, old->data(f));
            if (old->hasImage()) copy->setImageData(old->imageData());
        }
        return copy;
    }
};

IClipboard* g_clipboard = nullptr;

} // namespace

uint16_t RegisterClipboardFormat(const std::string& name) {
    std::lock_guard lock(g_formatMutex);
    auto& names = FormatNames();
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) it = names.insert(names.end(), name);
    return static_cast<uint16_t>(0xC000 + (it - names.begin()));
}

std::string ClipboardFormatName(uint16_t format) {
    std::lock_guard lock(g_formatMutex);
    auto& names = FormatNames();
    if (format < 0xC000 || format - 0xC000 >= static_cast<int>(names.size())) return {};
    return names[format - 0xC000];
}

IClipboard& Clipboard() {
    static TSystemClipboard system;
    return g_clipboard ? *g_clipboard : system;
}

void SetClipboard(IClipboard* clipboard) { g_clipboard = clipboard; }

void TMemoryClipboard::Clear() {
    data_.clear();
    bitmap_.clear();
}

bool TMemoryClipboard::SetData(uint16_t format, const std::vector<uint8_t>& bytes) {
    if (RefuseWrites) return false;
    for (auto& d : data_)
        if (d.first == format) {
            d.second = bytes;
            return true;
        }
    data_.emplace_back(format, bytes);
    return true;
}

bool TMemoryClipboard::SetBitmap(const TBitmap& bitmap) {
    if (RefuseWrites) return false;
    bitmap_ = BitmapBytes(bitmap);
    return true;
}

bool TMemoryClipboard::HasFormat(uint16_t format) {
    if (format == CF_BITMAP) return !bitmap_.empty();
    return std::any_of(data_.begin(), data_.end(), [&](const auto& d) { return d.first == format; });
}

bool TMemoryClipboard::GetData(uint16_t format, std::vector<uint8_t>& bytes) {
    for (auto& d : data_)
        if (d.first == format) {
            bytes = d.second;
            return true;
        }
    return false;
}

bool TMemoryClipboard::GetBitmap(TBitmap& bitmap) {
    if (bitmap_.empty()) return false;
    TMemoryStream stream(bitmap_);
    bitmap.LoadFromStream(stream);
    return true;
}

} // namespace lumora
