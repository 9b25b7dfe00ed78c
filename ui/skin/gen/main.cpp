// tunara-skin-gen: renders the skin at build time.
//   tunara-skin-gen bitmaps DIR   every bitmap as DIR/<id>.png and <id>@2x.png, and DIR/skin.qrc
//   tunara-skin-gen sheet FILE    a contact sheet of all bitmaps at 1x and 2x
//   tunara-skin-gen movie DIR     the Web movie's frames and sound
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

#include "Bitmaps.h"
#include "Movie.h"
#include "Sheet.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: tunara-skin-gen bitmaps DIR | sheet FILE | movie DIR\n");
    return 2;
}

int WriteBitmaps(const QString& dir) {
    QFile qrc(dir + "/skin.qrc");
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(qrc.fileName()));
        return 1;
    }
    QTextStream list(&qrc);
    list << "<RCC>\n  <qresource prefix=\"/skin\">\n";
    // Art for screens with twice the pixels beside each bitmap as <id>@2x.png;
    // masks shape windows in 1x pixels and have none.
    for (int scale : {1, 2}) {
        for (const auto& [id, image] : tunara::skin::DrawAllBitmaps(scale)) {
            if (scale > 1 && image.format() == QImage::Format_Mono) continue;
            const QString name = QString::number(id) + (scale > 1 ? "@2x.png" : ".png");
            if (!image.save(dir + "/" + name, "PNG")) {
                std::fprintf(stderr, "cannot write %s/%s\n", qPrintable(dir), qPrintable(name));
                return 1;
            }
            list << "    <file>" << name << "</file>\n";
        }
    }
    list << "  </qresource>\n</RCC>\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Fonts need a platform plugin; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) return Usage();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    if (mode == "bitmaps") return WriteBitmaps(target);
    if (mode == "sheet") return tunara::skin::WriteContactSheet(target) ? 0 : 1;
    if (mode == "movie") return tunara::skin::WriteMovieSources(target) ? 0 : 1;
    return Usage();
}
