#include "resources/Resources.h"

#include <QFile>

// Resources compiled into a static library must be registered explicitly before the first use.
static void InitImageResources() { Q_INIT_RESOURCE(images); }

namespace lumora {

std::vector<uint8_t> ResourceBytes(const std::string& path) {
    static const bool initialised = (InitImageResources(), true);
    (void)initialised;
    QFile f(QString::fromStdString(":/" + path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = f.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool LoadResourceBitmap(const std::string& name, TBitmap& bitmap) {
    std::vector<uint8_t> bytes = ResourceBytes("images/" + name + ".bmp");
    if (bytes.empty()) return false;
    TMemoryStream stream(std::move(bytes));
    bitmap.LoadFromStream(stream);
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    return true;
}

} // namespace lumora
