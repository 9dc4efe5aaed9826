#pragma once
// What the tests of the settings dialog's sub-dialogs share: a settings dialog over an in-memory
// registry with fake screens and devices, registry helpers, and screenshots kept as artefacts.

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "dialogs/settings/SaverSettings.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MixerDevices.h"
#include "platform/system/RegistryFile.h"
#include "platform/session/SaverInhibit.h"
#include "platform/display/Screens.h"
#include "tests/support/TempDir.h"

namespace lumora::test {

template <typename T>
T* Find(QWidget& form, const char* name) {
    T* widget = form.findChild<T*>(name);
    if (!widget) throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

// Keeps a picture of the form in <build>/artefacts/subdialogs/<name>.png.
inline void SaveShot(QWidget& form, const std::string& name) {
    std::string dir = std::string(LUMORA_BINARY_DIR) + "/artefacts/subdialogs";
    std::filesystem::create_directories(dir);
    QApplication::processEvents();
    QImage shot = form.grab().toImage();
    EXPECT_TRUE(shot.save(QString::fromStdString(dir + "/" + name + ".png")));
}

// Runs check on the modal window that the next call opens.
inline void WhenModal(std::function<void(QWidget&)> check) {
    QTimer::singleShot(0, [check = std::move(check)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_TRUE(modal);
        check(*modal);
        // A check that failed before closing the window must not leave the test waiting.
        if (modal->isVisible() && QApplication::activeModalWidget() == modal) {
            ADD_FAILURE() << "the window was left open";
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        }
    });
}

// Every direct child lies inside its parent, so nothing is cut off.
inline void ExpectInside(QWidget& form) {
    for (QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        EXPECT_TRUE(form.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
}

class SubDialogTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    FakeScreens screens{{TMonitor{Bounds(0, 0, 1920, 1080), true}}};
    std::unique_ptr<TFakeMidiDevices> midi;
    std::unique_ptr<TFakeMixerDevices> mixer;
    FakeScreenSaverInhibitor inhibitor;
    std::vector<std::string> messages;

    void SetUp() override {
        SetRegistryStore(store);
        SetScreens(&screens);
        dir.WriteFile("devices/devices.conf", "midi \"Fake Synthesizer\" synth\nmidi \"Fake MIDI Port\"\n");
        midi = std::make_unique<TFakeMidiDevices>(dir.File("devices"));
        SetMidiDevices(midi.get());
        mixer = std::make_unique<TFakeMixerDevices>(dir.File("devices"));
        SetMixerDevices(mixer.get());
        SetScreenSaverInhibitor(&inhibitor);
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetMessageReporter(nullptr);
        SetScreenSaverInhibitor(nullptr);
        SetMixerDevices(nullptr);
        SetMidiDevices(nullptr);
        SetScreens(nullptr);
        SetRegistryStore(std::make_shared<TMemoryRegistryStore>());
        SettingsForm = nullptr;
    }
    static void Put(const std::string& key, const std::string& section, const std::string& name,
                    const std::string& value) {
        TRegIniFile ini(key);
        ini.WriteString(section, name, value);
    }
    static std::string Get(const std::string& key, const std::string& section, const std::string& name) {
        TRegIniFile ini(key, TRegIniFile::ReadOnly);
        return ini.ReadString(section, name, "<missing>");
    }
    static std::string ThemeKey(int id) { return std::string(kLumoraKey) + "\\T" + std::to_string(id); }
    std::string ReadLog(const std::string& name) const {
        std::string path = dir.File("devices/" + name);
        return std::filesystem::exists(path) ? ReadFile(path) : std::string();
    }
    // The settings dialog as mode "C" shows it.
    std::unique_ptr<TSaverSettings> OpenSettings() {
        auto dlg = std::make_unique<TSaverSettings>();
        SettingsForm = dlg.get();
        dlg->show();
        return dlg;
    }
};

} // namespace lumora::test
