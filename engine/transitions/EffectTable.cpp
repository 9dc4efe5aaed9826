#include "engine/transitions/EffectTable.h"

namespace lumora {

std::vector<int> EnabledEffectCodes(const TMethodSwitches& method) {
    std::vector<int> codes;
    for (int i = 0; i < EffectCount; ++i)
        if (method[i]) codes.push_back(EffectCodeTable[i]);
    return codes;
}

void ApplyMethodPreset(TMethodSwitches& method, int preset) {
    if (preset != 0 && preset != 1) return;
    for (int i = 0; i < EffectCount; ++i) method[i] = MethodPresets[i][preset] != 0;
}

TMethodSwitches DefaultMethodSwitches() {
    TMethodSwitches method{};
    ApplyMethodPreset(method, 0);
    return method;
}

int SettingsIndexOfCode(int code) {
    for (int i = 0; i < EffectCount; ++i)
        if (EffectCodeTable[i] == code) return i;
    return -1;
}

TEffectFamily FamilyOfCode(int code) {
    int index = SettingsIndexOfCode(code);
    return index < 0 ? TEffectFamily::Blend : EffectTable[index].Family;
}

const char* EffectName(int index) {
    if (index < 0 || index >= EffectCount) return "";
    return EffectTable[index].Name;
}

} // namespace lumora
