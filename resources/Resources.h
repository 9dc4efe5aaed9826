#pragma once
// The program's built-in resources, looked up by their resource names ("LMTITLE").

#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// Raw bytes of a built-in resource file ("images/LMTITLE.bmp"); empty when there is none.
std::vector<uint8_t> ResourceBytes(const std::string& path);
// Loads the built-in bitmap of that name into bitmap (pf32bit); false when there is none.
bool LoadResourceBitmap(const std::string& name, TBitmap& bitmap);

} // namespace lumora
