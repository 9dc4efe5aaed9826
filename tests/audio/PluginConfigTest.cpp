// The plug-in manager dialog on the host: the lists it shows and the refusals it explains.

#include <QCheckBox>
#include <QPushButton>
#include <QTableWidget>

#include <filesystem>

#include <gtest/gtest.h>

#include "audio/AudioPlayer.h"
#include "audio/PluginConfig.h"
#include "tests/audio/PlayerTestUtil.h"

namespace lumora::playertest {
namespace {

class PluginConfig : public ::testing::Test {
protected:
    void SetUp() override { setenv("LUMORA_AUDIO_OUTPUT", "null", 1); }
    void TearDown() override { unsetenv("LUMORA_AUDIO_OUTPUT"); }
    MessageCapture boxes_;
};

TEST_F(PluginConfig, AnEmptyPluginsFolderLeavesBothListsDisabled) {
    ProgramFolderScope folder;
    TAudioPlayer player;
    TPluginConfigForm form;
    form.FormShow();
    EXPECT_FALSE(form.PluginList->isEnabled());
    EXPECT_FALSE(form.PluginGrid->isEnabled());
    EXPECT_TRUE(form.PluginList->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(form.btnLoad->isEnabled());
    form.btnUnloadClick();
    EXPECT_EQ(boxes_.Last(), "No plug-ins are loaded");
    EXPECT_EQ(boxes_.Boxes().back().Caption, "Confirm");
    form.btnAboutClick();
    EXPECT_EQ(boxes_.Last(), "No plug-ins to query are loaded");
}

TEST_F(PluginConfig, LoadingTwiceAndUnloadingThePlugInInUseAreRefused) {
    ProgramFolderScope folder({"in_test.so"});
    TAudioPlayer player;
    TPluginConfigForm form;
    form.SetPlayerWindow(player.Handle());
    form.FormShow();
    ASSERT_TRUE(form.PluginList->isEnabled());
    EXPECT_EQ(form.PluginList->item(0, 0)->text().toStdString(), "in_test.so");
    EXPECT_TRUE(form.btnLoad->isEnabled());
    form.btnLoadClick();
    ASSERT_EQ(GetPluginIndex("in_test.so"), 0);
    EXPECT_EQ(form.PluginGrid->item(0, 1)->text().toStdString(), "Lumora counter test plug-in");
    EXPECT_EQ(form.PluginGrid->item(0, 2)->text().toStdString(), "TST;TSX");
    EXPECT_FALSE(form.btnLoad->isEnabled()); // the selected file is loaded now
    form.btnLoadClick();
    EXPECT_EQ(boxes_.Last(), "Load denied : Already loaded before");

    std::string track = folder.Dir().WriteFile("a.tst", "44100 2 16 4410\n");
    ASSERT_TRUE(player.Open(track)); // selects the plug-in and tells the player's own form
    form.SetInUsePlugin("in_test.so");
    EXPECT_FALSE(form.btnUnload->isEnabled());
    form.btnUnloadClick();
    EXPECT_EQ(boxes_.Last(), "Cannot unload : Plug-in is in use");
    player.Close();
    form.SetInUsePlugin("");
    EXPECT_TRUE(form.btnUnload->isEnabled());
    form.btnUnloadClick();
    EXPECT_EQ(GetPluginIndex("in_test.so"), -1);
    EXPECT_EQ(form.PluginGrid->item(0, 0), nullptr);

    // The precedence box reaches the player through its window.
    form.PluginFirst->setChecked(true);
    form.PluginFirstClick();
    ASSERT_TRUE(PumpUntil([&] { return player.PluginFirst(); }, 2000));
}

} // namespace
} // namespace lumora::playertest
