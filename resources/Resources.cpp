// Keeps the resource library linkable before any resource file exists.
namespace lumora {
int ResourcesVersion() { return 1; }
} // namespace lumora
