// The plug-in manager dialog on the host: the lists it shows and the refusals it explains.

#include <QCheckBox>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QPushButton>
#include <QTableWidget>

#include <filesystem>

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "audio/plugins/PluginManagerDialog.h"
#include "tests/audio/player/PlayerTestUtil.h"

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
    EXPECT_EQ(form.PluginGrid->item(0, 0)->text().toStdString(), "");

    // The precedence box reaches the player through its window.
    form.PluginFirst->setChecked(true);
    form.PluginFirstClick();
    ASSERT_TRUE(PumpUntil([&] { return player.PluginFirst(); }, 2000));
}

TEST_F(PluginConfig, GridShowsEveryRowAndOnlyLoadedRowsCanBeChosen) {
    ProgramFolderScope folder({"in_test.so", "in_badformat.so"});
    std::string log = folder.Dir().File("plugin.log");
    setenv("LUMORA_TEST_PLUGIN_LOG", log.c_str(), 1);
    TAudioPlayer player;
    TPluginConfigForm form;
    form.show();
    QTableWidget* grid = form.PluginGrid;
    QTableWidget* list = form.PluginList;
    // The header and all eight rows are in sight, with no scroll bar.
    EXPECT_FALSE(grid->verticalScrollBar()->isVisible());
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    EXPECT_LE(grid->rowViewportPosition(7) + grid->rowHeight(7), grid->viewport()->height());
    EXPECT_LE(grid->columnViewportPosition(2) + grid->columnWidth(2), grid->viewport()->width());
    EXPECT_LE(list->rowHeight(0) * 10, list->viewport()->height());

    auto clickRow = [](QTableWidget* table, int row) {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
    };
    clickRow(list, 1);
    ASSERT_EQ(list->item(1, 0)->text().toStdString(), "in_test.so");
    QTest::mouseClick(form.btnLoad, Qt::LeftButton);
    ASSERT_EQ(GetPluginIndex("in_test.so"), 0);
    // The loaded file stays grey while it is selected: no text pixel is drawn as white as the
    // highlighted text of other rows.
    QImage shot = list->viewport()->grab().toImage();
    QRect cell = list->visualRect(list->model()->index(1, 0));
    int white = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            QColor c = shot.pixelColor(x, y);
            white += c.red() > 0xE0 && c.green() > 0xE0 && c.blue() > 0xE0;
        }
    EXPECT_EQ(white, 0);
    form.grab().save(LUMORA_BINARY_DIR "/form-plugin-config.png");

    // An empty row of the grid cannot be chosen; the loaded one can.
    clickRow(grid, 3);
    EXPECT_TRUE(grid->selectionModel()->selectedRows().isEmpty() ||
                grid->selectionModel()->selectedRows().first().row() == 0);
    grid->clearSelection();
    clickRow(grid, 5);
    EXPECT_TRUE(grid->selectionModel()->selectedRows().isEmpty());
    clickRow(grid, 0);
    ASSERT_EQ(grid->selectionModel()->selectedRows().size(), 1);
    // About and Configure open over the manager's window.
    QTest::mouseClick(form.btnAbout, Qt::LeftButton);
    QTest::mouseClick(form.btnConfigure, Qt::LeftButton);
    std::string parent = std::to_string(static_cast<uintptr_t>(form.winId()));
    EXPECT_EQ(test::ReadFile(log), "about " + parent + "\nconfig " + parent + "\n");
    unsetenv("LUMORA_TEST_PLUGIN_LOG");
}

} // namespace
} // namespace lumora::playertest
