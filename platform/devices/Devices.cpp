#include "platform/devices/Devices.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>

#include "platform/system/Clock.h"

namespace lumora {

TDevicesSetting ParseDevicesSetting(const char* value) {
    TDevicesSetting setting;
    std::string text = value ? value : "";
    if (text.empty() || text == "real") return setting;
    if (text.rfind("fake:", 0) == 0 && text.size() > 5) {
        setting.Fake = true;
        setting.Dir = text.substr(5);
        while (setting.Dir.size() > 1 && setting.Dir.back() == '/') setting.Dir.pop_back();
        return setting;
    }
    std::cerr << "LUMORA_DEVICES: unknown value \"" << text << "\", using the real devices" << std::endl;
    return setting;
}

TDevicesSetting DevicesSetting() {
    static const TDevicesSetting setting = ParseDevicesSetting(std::getenv("LUMORA_DEVICES"));
    return setting;
}

std::vector<std::string> SplitConfigLine(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        std::string word;
        if (c == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') word += line[i++];
            ++i; // the closing quote (a missing one ends the word at the line's end)
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

std::vector<std::string> ReadFakeConfig(const std::string& dir) {
    std::vector<std::string> lines;
    std::ifstream in(dir + "/devices.conf");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

namespace {
std::mutex g_logMutex;
}

void AppendFakeLog(const std::string& dir, const std::string& file, const std::string& text) {
    std::lock_guard lock(g_logMutex);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::ofstream out(dir + "/" + file, std::ios::app);
    out << timeGetTime() << ' ' << text << '\n';
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

} // namespace lumora
