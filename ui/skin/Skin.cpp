#include "ui/skin/Skin.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitSkinResources() {
    Q_INIT_RESOURCE(tunara_skin);
}

namespace tunara::skin {

void InitResources() {
    InitSkinResources();
}

QString BitmapPath(int id) {
    return QStringLiteral(":/skin/%1.png").arg(id);
}

QString BitmapPath2x(int id) {
    return QStringLiteral(":/skin/%1@2x.png").arg(id);
}

}  // namespace tunara::skin
