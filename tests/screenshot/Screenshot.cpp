// Renders the main window with the playlist docked below it in a fixed state
// (scripted items, fixed position and levels, fixed fonts) and either writes
// the pictures or compares them with reference pictures.
//
//   tunara-screenshot --write DIR     main.png, playlist.png, docked.png
//   tunara-screenshot --compare DIR   exit 0 when both windows match
//
// Run it under a real X server (xvfb-run); the offscreen platform draws text
// slightly differently.
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "engine/testing/EngineTesting.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "sources/CdDisc.h"
#include "sources/testing/TestSources.h"
#include "support/CdImage.h"
#include "ui/core/OptionsModel.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"
#include "ui/qt/CdWindow.h"
#include "ui/qt/DialogLook.h"
#include "ui/qt/EqualiserWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/OptionsSheet.h"
#include "ui/qt/PlaylistWindow.h"
#include "ui/qt/RecordDialog.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/TrackListView.h"
#include "ui/skin/Skin.h"

using namespace tunara;

namespace {

struct Item {
    const char* title;
    int ms;
};
constexpr Item kItems[] = {
    {"Morning Light over the Harbour", 254000},
    {"Paper Boats", 201000},
    {"Northbound (Live)", 386000},
    {"Glass Orchard", 172000},
    {"The Long Way Home", 298000},
    {"Static and Starlight", 243000},
    {"Quiet Hours", 189000},
    {"Tidewater", 315000},
    {"Lanterns", 226000},
    {"After the Rain", 262000},
    {"Copper Sky", 207000},
    {"Last Tram", 281000},
};

// Pixels whose channels differ by more than `channel`; the share of them.
double DifferentShare(const QImage& a, const QImage& b, int channel) {
    if (a.size() != b.size()) return 1.0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    long differ = 0;
    for (int r = 0; r < x.height(); ++r) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            const int d =
                std::max({std::abs(qRed(p[c]) - qRed(q[c])), std::abs(qGreen(p[c]) - qGreen(q[c])),
                          std::abs(qBlue(p[c]) - qBlue(q[c]))});
            if (d > channel) ++differ;
        }
    }
    return double(differ) / (double(x.width()) * x.height());
}

// A scripted item that names its format as an MP3 would.
class ShotItem : public testing::FakeMediaSource {
public:
    void SetFormatName(const std::string& name) { formatName_ = name; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "--write" && std::string(argv[1]) != "--compare")) {
        std::fprintf(stderr, "usage: tunara-screenshot --write|--compare DIR\n");
        return 2;
    }
    const bool write = std::string(argv[1]) == "--write";
    const QDir dir(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    ::setenv("TUNARA_AUDIO", "null", 1);
    QApplication app(argc, argv);
    // The options sheet has the program's dark look; one font keeps its
    // pictures the same on every machine.
    qt::ApplyDialogLook(app);
    QApplication::setFont(QFont(QStringLiteral("Liberation Sans"), 9));
    skin::InitResources();
    SetUiThread();

    Playlist playlist{tunara::testing::TestSources()};
    std::vector<testing::FakeMediaSource*> items;
    for (const Item& it : kItems) {
        auto s = std::make_unique<ShotItem>();
        s->Describe(it.title, it.ms, 192000, 44100, 2);
        s->SetFormatName("MP3");
        items.push_back(s.get());
        playlist.Append(std::move(s));
    }
    playlist.SetCurrent(1);
    items[1]->left = 0.62f;
    items[1]->right = 0.48f;

    qt::MainWindow main(playlist, nullptr, "");
    main.TickTimer().stop();
    main.move(40, 40);
    main.show();
    main.TogglePlaylistWindow();
    qt::PlaylistWindow* panel = main.PlaylistPanel();
    panel->View()->Select(4);
    main.Controller().Play();
    items[1]->positionMs = 83000;
    items[1]->stepMs = 0;
    main.Controller().ToggleRepeat();
    main.Controller().OnTick();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();

    // The equaliser on a preset with the preamp lowered, on; at twice the
    // pixels (QT_SCALE_FACTOR=2) it is the only picture taken.
    SoundSettings sound;
    sound.eqOn = true;
    sound.eqDb = *EqualiserPreset("rock", nullptr);
    sound.eqPreampDb = -3;
    sound.balance = 0;
    tunara::testing::TestEngine().Gain().SetSettings(sound);
    main.ToggleEqualiserWindow();
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    const QImage equaliserShot = main.EqualiserPanel()->grab().toImage();
    const bool twice = app.devicePixelRatio() > 1;

    const QImage mainShot = main.grab().toImage();
    const QImage listShot = panel->grab().toImage();

    // The options sheet's three pages over a store with its defaults, the
    // recordings folder fixed so the picture does not name a home folder.
    SettingsStore settings(QDir(config.path()).filePath("shot-store").toStdString(), {});
    settings.SetText(settings::kRecordFilePath, "/home/listener/Music");
    settings.SetNumber(settings::kAskFilePath, 0);
    std::vector<std::pair<std::string, QImage>> shots = {
        {"main.png", mainShot}, {"playlist.png", listShot}, {"equaliser.png", equaliserShot}};
    if (twice) shots = {{"equaliser@2x.png", equaliserShot}};
    if (!twice) {
        OptionsModel model(settings, {"/dev/sr0"}, CurrentUserInteraction());
        qt::OptionsSheet sheet(model);
        sheet.move(480, 40);
        sheet.show();
        const char* names[] = {"options-cd.png", "options-record.png", "options-file.png",
                               "options-sound.png"};
        for (int page = 0; page < 4; ++page) {
            sheet.Pages()->setCurrentIndex(page);
            for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
            shots.emplace_back(names[page], sheet.grab().toImage());
        }
        sheet.hide();
    }
    if (!twice) {
        // The CD window over a disc image of five tracks with titles, and
        // the recording window before its first read.
        const std::filesystem::path img = config.path().toStdString() + "/img";
        const tunara::testing::CdImage image =
            tunara::testing::MakeCdImage(img, {1500, 1200, 1800, 900, 1350});
        ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
        CdDisc disc(tunara::testing::TestEngine(), image.cue);
        disc.ReadToc();
        const char* titles[] = {"Harbour Lights", "Paper Boats", "Northbound", "Glass Orchard",
                                "Quiet Hours"};
        for (int i = 0; i < disc.Count() && i < 5; ++i) {
            disc.ItemAt(i)->SetTitle(titles[i]);
            disc.ItemAt(i)->SetArtist("The Lantern Society");
            disc.ItemAt(i)->SetAlbum("Tidewater");
        }
        auto* cd = new qt::CdWindow(&main, &disc, main.Controller(), nullptr);
        cd->show();
        cd->View()->Select(1);
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
        shots.emplace_back("cd.png", cd->grab().toImage());
        cd->close();

        CdReader reader;
        RecordJobConfig rc;
        qt::RecordDialog dialog(rc, &reader);
        dialog.move(480, 300);
        dialog.show();
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
        shots.emplace_back("recording.png", dialog.grab().toImage());
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    if (write) {
        QDir().mkpath(dir.path());
        for (const auto& [name, shot] : shots)
            shot.save(dir.filePath(QString::fromStdString(name)));
        if (twice) return 0;
        // The two windows as they sit on the screen, shapes included.
        const QRect both = main.geometry().united(panel->geometry()).adjusted(-12, -12, 12, 12);
        QScreen* screen = QGuiApplication::primaryScreen();
        const QImage docked =
            screen->grabWindow(0, both.x(), both.y(), both.width(), both.height()).toImage();
        docked.save(dir.filePath("docked.png"));
        std::printf("wrote %s\n", qPrintable(dir.path()));
        return 0;
    }
    int failed = 0;
    for (const auto& [nameText, shot] : shots) {
        const QString name = QString::fromStdString(nameText);
        const QImage ref(dir.filePath(name));
        // Small differences of anti-aliased text are tolerated; a moved
        // control or a wrong colour is not.
        const double share = DifferentShare(shot, ref, 40);
        const bool ok = !ref.isNull() && share <= 0.002;
        std::printf("%s: %.4f%% of pixels differ%s\n", qPrintable(name), share * 100,
                    ok ? "" : " (too many)");
        if (!ok) {
            shot.save(QDir::temp().filePath(QStringLiteral("tunara-actual-") + name));
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
