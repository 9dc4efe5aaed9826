// The lumora program: everything happens in the entry unit of the engine.
#include "engine/LumSaver.h"

int main(int argc, char** argv) { return lumora::LumSaverMain(argc, argv); }
