#pragma once
// Program entry: the mode switch on the first command-line argument.

namespace lumora {

int LumSaverMain(int argc, char** argv);

} // namespace lumora
