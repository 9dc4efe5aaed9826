#pragma once

namespace lumora {

// Registers every picture class once, in the order that makes the latest registration of an
// extension win: the framework's formats, the simple loaders, JPEG, PNG, then the GIF image class.
void RegisterPictureFormats();

} // namespace lumora
