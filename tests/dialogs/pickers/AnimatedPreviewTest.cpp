// Animated GIFs in the picture picker: the thumbnail and the "表示" window play the frames at their
// delays (sampled on the widget over time), transparent pixels show the panel behind (those of a
// PNG, Targa or TIFF too), and closing stops the painters.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "dialogs/pickers/PictureFolderPicker.h"
#include "dialogs/pickers/PicturePreview.h"
#include "dialogs/controls/ImageView.h"
#include "dialogs/pickers/ShellViews.h"
#include "engine/saver/PictureFormats.h"
#include "engine/settings/Settings.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "pictures/gif/GIFImage.h"
#include "platform/shell/Shell.h"
#include "tests/support/MagickFlatten.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double ms;
    QRgb left, right;
};

// Grabs the control every few milliseconds for a while, keeping the main thread's events going.
std::vector<Sample> Watch(QWidget& view, int forMs) {
    std::vector<Sample> samples;
    const auto start = Clock::now();
    for (;;) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (ms > forMs) break;
        QApplication::processEvents();
        const QImage shot = view.grab().toImage();
        samples.push_back({ms, shot.pixel(1, shot.height() / 2), shot.pixel(shot.width() - 2, shot.height() / 2)});
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    return samples;
}

// Counts the paints a control gets without being asked from outside.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

int PaintsWhileIdle(QWidget& view, int forMs) {
    PaintCounter counter;
    view.installEventFilter(&counter);
    const auto end = Clock::now() + std::chrono::milliseconds(forMs);
    while (Clock::now() < end) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    view.removeEventFilter(&counter);
    return counter.paints;
}

// The colours the control went through (runs collapsed) and when each run began.
struct Runs {
    std::vector<QRgb> colors;
    std::vector<double> starts;
};
Runs RunsOf(const std::vector<Sample>& samples, bool right = false) {
    Runs runs;
    for (const Sample& s : samples) {
        const QRgb c = (right ? s.right : s.left) & 0xFFFFFF;
        if (runs.colors.empty() || runs.colors.back() != c) {
            runs.colors.push_back(c);
            runs.starts.push_back(s.ms);
        }
    }
    return runs;
}

class AnimatedPreview : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string folder;
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    std::unique_ptr<TRegData> data;
    TFakeShellUi ui;

    void SetUp() override {
        RegisterPictureFormats();
        SetRegistryStore(store);
        SetShellUi(&ui);
        folder = dir.File("pics");
        fs::create_directories(folder);
        // Three opaque frames of 1/10 s, looping; and two half-transparent frames cleared between them.
        Make("-delay 10 -loop 0 -size 20x10 xc:'#ff0000' xc:'#00ff00' xc:'#0000ff' " + folder + "/play.gif");
        Make("-dispose Background -delay 10 -loop 0 -size 20x10 "
             "\\( xc:none -fill '#ff0000' -draw 'rectangle 0,0 9,9' \\) "
             "\\( xc:none -fill '#0000ff' -draw 'rectangle 10,0 19,9' \\) " + folder + "/clear.gif");
        SetShellPlaces({{"Root", dir.File("")}});
        data = std::make_unique<TRegData>(kLumoraKey);
        data->ImgPreview = true;
    }
    void TearDown() override {
        PickerModalRunner() = [](QDialog& dialog) { return dialog.exec(); };
        SetMessageReporter(nullptr);
        SetShellPlaces({});
        SetShellUi(nullptr);
        SetRegistryStore(std::make_shared<TMemoryRegistryStore>());
    }
    static void Make(const std::string& arguments) {
        ASSERT_EQ(std::system(("convert " + arguments).c_str()), 0) << arguments;
    }
    static void Select(TDSelect& form, const std::string& name) {
        TFileView* list = form.findChild<TFileView*>("FileView1");
        const int row = list->FindRow(name);
        ASSERT_GE(row, 0) << name;
        list->SelectRow(row);
    }
    // Shows the picker on the GIFs with one of them selected; its thumbnail control (null if none).
    TImageView* ShowSelected(TDSelect& form, const std::string& name) const {
        form.Folder = folder;
        form.Mask = "*.gif;*.png;*.tga;*.tif";
        form.show();
        Select(form, name);
        return form.findChild<TImageView*>("Image1");
    }
    static QRgb Panel(QWidget& view) { return view.palette().color(view.backgroundRole()).rgb() & 0xFFFFFF; }
};

// The frames come in order and loop, each shown for about its delay (10 units of 12 ms).
void ExpectPlays(const Runs& runs) {
    ASSERT_GE(runs.colors.size(), 5u);
    const std::vector<QRgb> cycle{0xFF0000, 0x00FF00, 0x0000FF};
    const auto first = std::find(cycle.begin(), cycle.end(), runs.colors[0]);
    ASSERT_NE(first, cycle.end());
    for (size_t i = 0; i < runs.colors.size(); ++i)
        EXPECT_EQ(runs.colors[i], cycle[(static_cast<size_t>(first - cycle.begin()) + i) % 3]) << i;
    // Whole runs only (the first and last are cut by the watch).
    const size_t whole = runs.colors.size() - 2;
    const double mean = (runs.starts.back() - runs.starts[1]) / static_cast<double>(whole);
    EXPECT_GT(mean, 90.0);
    EXPECT_LT(mean, 400.0);
}

TEST_F(AnimatedPreview, ThumbnailAndShowWindowPlayTheGif) {
    TDSelect form(nullptr, *data);
    TImageView* thumb = ShowSelected(form, "play.gif");
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(form.ThumbnailSize(), QSize(126, 63));
    ExpectPlays(RunsOf(Watch(*thumb, 900)));
    // Each new frame repaints the control by itself.
    EXPECT_GE(PaintsWhileIdle(*thumb, 600), 3);

    // "表示" plays it too, in a window of the picture's size.
    std::vector<Sample> shown;
    PickerModalRunner() = [&](QDialog& dialog) {
        EXPECT_EQ(dialog.size(), QSize(20, 10));
        auto* view = dialog.findChild<TImageView*>("Image1");
        EXPECT_NE(view, nullptr);
        if (view) shown = Watch(*view, 900);
        return 0;
    };
    QTest::mouseClick(form.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    ExpectPlays(RunsOf(shown));

    // Closing the picker stops the thumbnail's painter at once.
    auto* gif = dynamic_cast<TGIFImage*>(thumb->Animated());
    ASSERT_NE(gif, nullptr);
    EXPECT_FALSE(gif->Painters().empty());
    form.reject();
    EXPECT_TRUE(gif->Painters().empty());
    EXPECT_EQ(gif->Painter(), nullptr);
}

TEST_F(AnimatedPreview, TransparentPixelsShowThePanel) {
    TDSelect form(nullptr, *data);
    TImageView* thumb = ShowSelected(form, "clear.gif");
    ASSERT_NE(thumb, nullptr);
    const QRgb panel = Panel(*thumb);
    ASSERT_NE(panel, 0xFF0000u);
    // Red on the left with the panel on the right, then (the red cleared away) the panel and blue.
    const std::vector<Sample> samples = Watch(*thumb, 700);
    const Runs left = RunsOf(samples), right = RunsOf(samples, true);
    ASSERT_GE(left.colors.size(), 3u);
    for (size_t i = 0; i < left.colors.size(); ++i) EXPECT_TRUE(left.colors[i] == 0xFF0000 || left.colors[i] == panel) << i;
    for (size_t i = 0; i < right.colors.size(); ++i) EXPECT_TRUE(right.colors[i] == 0x0000FF || right.colors[i] == panel) << i;
    for (const Sample& s : samples)
        EXPECT_TRUE(((s.left & 0xFFFFFF) == 0xFF0000) != ((s.right & 0xFFFFFF) == 0x0000FF)) << s.ms;
    form.grab().save(QString::fromStdString(std::string(LUMORA_BINARY_DIR) + "/picker-transparent-gif.png"));
}

TEST_F(AnimatedPreview, TransparentPartsOfAStillPictureShowThePanel) {
    // A green circle on a clear field, with a square of red at 60 %, in each still format that
    // carries transparency.
    const std::string draw = "-size 40x30 xc:none -fill lime -draw 'circle 20,15 20,5' "
                             "-fill 'rgba(255,0,0,0.6)' -draw 'rectangle 2,2 12,12' ";
    const std::pair<const char*, const char*> kinds[] = {
        {"circle.png", "PNG32:"},
        {"circle.tga", "-type TrueColorAlpha "},
        {"circle.tif", "-type TrueColorAlpha -depth 8 -compress lzw -define tiff:alpha=unassociated "},
    };
    for (const auto& [name, format] : kinds) {
        SCOPED_TRACE(name);
        const std::string file = folder + "/" + name;
        Make(draw + format + file);
        TDSelect form(nullptr, *data);
        TImageView* thumb = ShowSelected(form, name);
        ASSERT_NE(thumb, nullptr);
        const QRgb panel = Panel(*thumb);
        QApplication::processEvents();
        const QImage small = thumb->grab().toImage();
        EXPECT_EQ(small.pixel(small.width() - 2, small.height() - 2) & 0xFFFFFF, panel) << "a clear corner";

        // The "表示" window shows it at its own size: ImageMagick's picture laid over the panel's colour.
        TBitmap shown;
        PickerModalRunner() = [&](QDialog& dialog) {
            auto* view = dialog.findChild<TImageView*>("Image1");
            EXPECT_NE(view, nullptr);
            if (!view) return 0;
            const QImage shot = view->grab().toImage();
            shown.SetSize(shot.width(), shot.height());
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    shown.Row32(y)[x] = shot.pixel(x, y) & 0xFFFFFF;
            const QRgb windowPanel = Panel(*view);
            ExpectPixelsNear(shown,
                             test::FlattenWithImageMagick(
                                 file, RGB(qRed(windowPanel), qGreen(windowPanel), qBlue(windowPanel))),
                             1, "the picture window");
            return 0;
        };
        QTest::mouseClick(form.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
        EXPECT_EQ(shown.Width(), 40);
        form.grab().save(QString::fromStdString(std::string(LUMORA_BINARY_DIR) + "/picker-transparent-" +
                                                std::string(name).substr(7) + ".png"));
    }
}

TEST_F(AnimatedPreview, AGifThatCannotBeDrawnIsReportedOnce) {
    // Two frames and no colour table at all: the frames cannot be turned into colours.
    const std::string frame = std::string(",\0\0\0\0\2\0\1\0\0\2\2\x04\x0A\0", 16);
    dir.WriteFile("pics/nocolors.gif", std::string("GIF89a\2\0\1\0\0\0\0", 13) + frame + frame + ";");
    std::vector<std::string> messages;
    SetMessageReporter([&](const std::string& text, const std::string&, TMsgIcon, int) {
        messages.push_back(text);
        return 1;
    });
    TDSelect form(nullptr, *data);
    TImageView* thumb = ShowSelected(form, "nocolors.gif");
    ASSERT_NE(thumb, nullptr);
    Watch(*thumb, 100);
    EXPECT_EQ(messages, std::vector<std::string>{"画像ﾌｧｲﾙが不正です"});
    EXPECT_FALSE(form.findChild<QPushButton*>("BitBtn1")->isEnabled());
}

} // namespace
} // namespace lumora
