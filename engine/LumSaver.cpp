#include "engine/LumSaver.h"

#include <QApplication>

#include "engine/PictureFormats.h"
#include "framework/Forms.h"
#include "platform/Platform.h"

namespace lumora {

int LumSaverMain(int argc, char** argv) {
    QApplication app(argc, argv);
    InstallPlatform();
    RegisterPictureFormats();
    Application().Title = "Lumora 2.0";
    return 0;
}

} // namespace lumora
