// The skin's bitmaps as the windows load them: every identifier at its size,
// masks strictly black and white, the main window's outline in shape.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/skin/Skin.h"

namespace {

struct Size {
    int width, height;
};

struct Entry {
    std::vector<int> ids;
    Size size;
    bool mask;
};

std::vector<int> Range(int first, int last) {
    std::vector<int> ids;
    for (int id = first; id <= last; ++id) ids.push_back(id);
    return ids;
}

// The bitmap table: identifiers, sizes and which ones are masks.
std::vector<Entry> Table() {
    std::vector<Entry> t = {
        {{129}, {375, 169}, false},
        {{130}, {375, 169}, true},
        {{232, 272, 193}, {375, 221}, false},
        {{231, 271, 192}, {375, 221}, true},
        {{287}, {375, 140}, false},
        {{288}, {375, 140}, true},
        {{304}, {442, 180}, false},
        {{307}, {442, 180}, true},
        {Range(138, 182), {32, 32}, false},
        {{236}, {32, 32}, true},
        {{237}, {38, 10}, true},
        {{315, 316, 317, 240, 241, 242}, {10, 8}, false},
        {{318, 239}, {10, 8}, true},
        {{310, 311, 313}, {9, 8}, false},
        {{314}, {9, 8}, true},
        {{296, 297, 298}, {59, 20}, false},
        {{299}, {59, 20}, true},
        {{186}, {13, 12}, false},
        {{184}, {13, 12}, true},
        {{191}, {259, 12}, false},
        {{189}, {259, 12}, true},
        {{190}, {13, 93}, false},
        {{188}, {13, 93}, true},
        {{308}, {32, 20}, false},
        // The equaliser window, its and the main window's buttons for it, and
        // the balance slider's channel.
        {{330}, {375, 142}, false},
        {{331}, {375, 142}, true},
        {Range(332, 340), {38, 10}, false},
        {{341}, {44, 12}, false},
        {{342}, {44, 12}, true},
    };
    for (auto range : {Range(194, 229), Range(244, 266), Range(273, 281), Range(289, 294)}) {
        t.push_back({range, {38, 10}, false});
    }
    return t;
}

QImage Load(int id) {
    tunara::skin::InitResources();
    return QImage(tunara::skin::BitmapPath(id));
}

bool Inside(const QImage& mask, int x, int y) {
    return mask.pixel(x, y) == qRgb(0, 0, 0);
}

}  // namespace

// Every identifier of the table loads at its stated size.
TEST(Skin, EveryBitmapLoadsAtItsSize) {
    for (const Entry& e : Table()) {
        for (int id : e.ids) {
            const QImage image = Load(id);
            ASSERT_FALSE(image.isNull()) << "bitmap " << id;
            EXPECT_EQ(image.width(), e.size.width) << "bitmap " << id;
            EXPECT_EQ(image.height(), e.size.height) << "bitmap " << id;
        }
    }
}

// The program icon: a round logo on a transparent ground.
TEST(Skin, ProgramIconIsRoundOnTransparency) {
    const QImage icon = Load(128);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(64, 64));
    EXPECT_TRUE(icon.hasAlphaChannel());
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(32, 32)), 255);
}

// A mask pixel is either pure black (inside) or pure white (outside), and
// every mask has some of each except where the whole bitmap is a button.
TEST(Skin, MasksAreHardEdged) {
    for (const Entry& e : Table()) {
        if (!e.mask) continue;
        for (int id : e.ids) {
            const QImage mask = Load(id);
            int black = 0, white = 0;
            for (int y = 0; y < mask.height(); ++y) {
                for (int x = 0; x < mask.width(); ++x) {
                    const QRgb p = mask.pixel(x, y) & 0xffffff;
                    if (p == 0) {
                        ++black;
                    } else {
                        ASSERT_EQ(p, 0xffffffu) << "mask " << id << " at " << x << "," << y;
                        ++white;
                    }
                }
            }
            EXPECT_GT(black, 0) << "mask " << id << " hides everything";
            EXPECT_GT(white, 0) << "mask " << id << " has no shape";
        }
    }
}

// The windows are shaped: corners cut away, the middle solid.
TEST(Skin, WindowMasksCutTheCornersAndKeepTheMiddle) {
    for (int id : {130, 231, 271, 192, 288, 307}) {
        const QImage mask = Load(id);
        const int w = mask.width(), h = mask.height();
        EXPECT_FALSE(Inside(mask, 0, 0)) << id;
        EXPECT_FALSE(Inside(mask, w - 1, 0)) << id;
        EXPECT_FALSE(Inside(mask, 0, h - 1)) << id;
        EXPECT_FALSE(Inside(mask, w - 1, h - 1)) << id;
        EXPECT_TRUE(Inside(mask, w / 2, h / 2)) << id;
        // The edges themselves are inside away from the corners.
        EXPECT_TRUE(Inside(mask, w / 2, 0)) << id;
        EXPECT_TRUE(Inside(mask, 0, h / 2)) << id;
        EXPECT_TRUE(Inside(mask, w - 1, h / 2)) << id;
        EXPECT_TRUE(Inside(mask, w / 2, h - 1)) << id;
    }
}

// Round buttons are round: the mask's corners are out, the centre and the
// middle of each edge in.
TEST(Skin, TransportMaskIsACircle) {
    const QImage mask = Load(236);
    EXPECT_FALSE(Inside(mask, 0, 0));
    EXPECT_FALSE(Inside(mask, 31, 31));
    EXPECT_FALSE(Inside(mask, 3, 3));
    EXPECT_TRUE(Inside(mask, 16, 16));
    EXPECT_TRUE(Inside(mask, 16, 0));
    EXPECT_TRUE(Inside(mask, 0, 16));
    EXPECT_TRUE(Inside(mask, 31, 16));
    EXPECT_TRUE(Inside(mask, 16, 31));
}

// Buttons in their three states are three different pictures.
TEST(Skin, ButtonStatesDiffer) {
    const int states[][3] = {{138, 145, 179}, {194, 208, 216}, {315, 316, 317}, {296, 297, 298}};
    for (const auto& s : states) {
        const QImage normal = Load(s[0]), pressed = Load(s[1]), lit = Load(s[2]);
        EXPECT_NE(normal, pressed) << s[0];
        EXPECT_NE(normal, lit) << s[0];
        EXPECT_NE(pressed, lit) << s[0];
    }
}

// The movie the Web button plays is made beside the programs.
TEST(Skin, WebMovieIsBesideThePrograms) {
    QFile movie(QStringLiteral(TUNARA_BINARY_DIR "/app/Web.mov"));
    if (!movie.exists()) GTEST_SKIP() << "Web.mov not built (no ffmpeg)";
    ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
    const QByteArray head = movie.read(12);
    // A QuickTime file starts with an atom: size, then "ftyp" here.
    EXPECT_EQ(head.mid(4, 4), QByteArray("ftyp"));
    EXPECT_GT(movie.size(), 10000);
}

namespace {

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    return out;
}

}  // namespace

// The movie has a picture and a sound track and lasts about five seconds.
TEST(Skin, WebMovieHasPictureAndSound) {
    const std::string movie = TUNARA_BINARY_DIR "/app/Web.mov";
    if (!QFile::exists(QString::fromStdString(movie)) || Capture("command -v ffprobe").empty()) {
        GTEST_SKIP() << "needs Web.mov and ffprobe";
    }
    const std::string probe =
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height"
        " -of csv=p=0 '" +
        movie + "'";
    const std::string streams = Capture(probe);
    EXPECT_NE(streams.find("h264,video,320,180"), std::string::npos) << streams;
    EXPECT_NE(streams.find("aac,audio"), std::string::npos) << streams;
    const std::string duration =
        Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + movie + "'");
    ASSERT_FALSE(duration.empty());
    const double seconds = std::stod(duration);
    EXPECT_GT(seconds, 4.0);
    EXPECT_LT(seconds, 6.5);
}
