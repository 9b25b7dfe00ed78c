// tunara: the windowed player.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/services/AppServices.h"
#include "app/services/Player.h"
#include "platform/io/Paths.h"
#include "platform/shell/XdgShell.h"
#include "playlist/Playlist.h"
#include "sources/QuickTimeSource.h"
#include "ui/core/Associations.h"
#include "ui/core/OptionsModel.h"
#include "ui/core/Session.h"
#include "ui/core/SettingsStore.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/DialogLook.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MprisService.h"
#include "ui/qt/OptionsSheet.h"
#include "ui/qt/QtInteraction.h"
#include "ui/qt/SingleInstance.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/VideoWindow.h"
#include "ui/skin/Skin.h"

using namespace tunara;

namespace {

bool HasDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Prints when the main window has first been painted (the start-up benchmark).
class FirstPaintProbe : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, this, [] {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                std::fprintf(stderr, "tunara: first paint at %lld us\n",
                             static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
            });
        }
        return QObject::eventFilter(watched, e);
    }

private:
    bool done_ = false;
};

// The program icon as PNG bytes and its size, for the desktop's menus.
std::pair<std::string, int> ProgramIcon() {
    QFile file(skin::BitmapPath(qt::kProgramIcon));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const QImage image = QImage::fromData(bytes);
    if (image.isNull() || image.width() != image.height()) return {};
    return {bytes.toStdString(), image.width()};
}

constexpr const char* kUsage =
    "usage: tunara [FILE|LIST.pls|LIST.m3u|LIST.m3u8]\n"
    "Opens the player with FILE in its playlist; when a player is already running,\n"
    "FILE is handed to it and this start ends.\n"
    "  tunara --uninstall-desktop   removes the desktop entry, icon and file associations\n"
    "  tunara --version\n"
    "tunara-cli plays, converts and rips in a terminal.\n";

// Everything the player wrote outside its own config folder: the defaults it
// holds go back to their previous programs, the desktop entry and icons go.
int UninstallDesktop() {
    SettingsStore settings;
    Associations associations(settings, {});
    const bool given = associations.GiveBackAll();
    const bool removed = shell::RemoveDesktopEntry();
    if (!given || !removed) {
        std::fprintf(stderr, "tunara: could not undo everything in %s and %s\n",
                     shell::MimeAppsFile().c_str(), shell::DesktopEntryFile().c_str());
        return 1;
    }
    std::printf("tunara: desktop entry, icon and file associations removed\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--uninstall-desktop") return UninstallDesktop();
    // Answered here: taken for a file name they would reach a running player as one.
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("tunara %s\n", TUNARA_VERSION);
        return 0;
    }
    // Any other option is a mistake, not a file to open ("./-name" opens one).
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "tunara: unknown option %s\n", argv[i]);
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "tunara: no display to open windows on; tunara-cli plays in a terminal\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tunara"));
    QApplication::setQuitOnLastWindowClosed(false);
    qt::ApplyDialogLook(app);
    qt::QtInteraction interaction;
    // The engine and the hooks of both front ends, in their order; going, it
    // stops the media toolbox once the player below has cleared its list.
    app::AppServices services(&interaction, &interaction);

    // Only one file of the command line is used; it is handed on by its full
    // name, since the running player has a folder of its own.
    const QStringList args = QApplication::arguments();
    const QString file = args.size() > 1 ? QFileInfo(args[1]).absoluteFilePath() : QString();

    // A player already running takes the file and comes to the front.
    const QString instanceName = qt::SingleInstance::DefaultName();
    if (qt::SingleInstance::HandOver(instanceName, file.toUtf8())) return 0;
    qt::SingleInstance instance(instanceName);
    instance.Listen();

    skin::InitResources();
    const auto [iconPng, iconSize] = ProgramIcon();
    const std::string programPath = QApplication::applicationFilePath().toStdString();
    // So that the player shows in the desktop's menus from its first start.
    shell::InstallDesktopEntry(programPath, HandledMimeTypes(), iconPng, iconSize, true);
    QPointer<qt::AboutBox> splash = new qt::AboutBox;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    QApplication::processEvents();
    // A start-up error or question is never hidden behind the splash.
    interaction.beforeMessage = [&splash] {
        if (splash) splash->close();
    };

    if (!services.StartMedia()) return 1;
    qt::InstallVideoWindows();
    int status = 0;
    {
        // The same parts as tunara-cli's, gone in the order they promise.
        app::Player player(services, io::ProgramFolder());
        SettingsStore& settings = player.Settings();
        SessionStore session;  // outlives the window, which saves into it at the end
        qt::MainWindow main(player.Controller(), player.List(), &settings);
        Associations associations(settings, programPath, iconPng, iconSize);
        main.onOptions = [&] {
            OptionsModel::Effects effects;
            effects.applyAssociations = [&associations] { associations.Apply(); };
            effects.useId3TitleChanged = [&main] { main.Controller().RefreshAll(); };
            effects.preferredDriveChanged = [&main] { main.Controller().ApplyPreferredDrive(); };
            OptionsModel model(settings, main.Controller().CdDriveNames(), interaction, effects);
            qt::OptionsSheet sheet(model, &main);
            sheet.exec();
        };
        QuickTimeSource::SetStatusLine([&main](const std::string& text) {
            main.ShowMessage(text, PlayerController::kNoticeMs);
        });
        QObject::connect(
            &instance, &qt::SingleInstance::handedOver, &main,
            [&main](const QByteArray& name) { main.HandOver(QString::fromUtf8(name)); });
        QObject::connect(&main, &qt::MainWindow::closed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        // Media keys and the desktop's sound menu; without a session bus the
        // player simply goes without.
        qt::MprisService mpris(main);
        mpris.Register();

        // Room for the playlist below the main window.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            main.move(area.center() - QPoint(main.width() / 2, (main.height() + 221) / 2));
        }
        // The last session comes back; a file given now joins its list, a
        // list given now takes the list's place.
        main.RestoreSession(session, file.isEmpty() || !IsPlaylistName(file.toStdString()));
        if (!file.isEmpty()) main.OpenFiles({file});
        FirstPaintProbe probe;
        if (std::getenv("TUNARA_BENCH_FIRST_PAINT")) main.installEventFilter(&probe);
        main.show();
        main.raise();
        main.activateWindow();
        if (splash) splash->close();
        interaction.beforeMessage = nullptr;
        QTimer::singleShot(0, &main, [&] { associations.CheckAtStart(interaction); });
        // A file given to the player on start plays at once.
        if (!file.isEmpty() && main.Controller().Source()) main.Controller().Play();

        status = QApplication::exec();
        QuickTimeSource::SetStatusLine(nullptr);
    }
    return status;
}
