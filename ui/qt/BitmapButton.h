#pragma once
// A push button drawn from skin bitmaps: normal, pressed, lit (also shown
// while the pointer is over it) and disabled, its outline cut by a mask.
#include <QWidget>

#include "ui/qt/SkinBitmap.h"

namespace tunara::qt {

class BitmapButton : public QWidget {
    Q_OBJECT
public:
    BitmapButton(int id, QWidget* parent);

    int Id() const { return id_; }
    // Identifiers may be 0 (missing) except `normal`. Resizes the button to the
    // normal bitmap, keeping its position. False when a given bitmap fails.
    bool SetBitmaps(int normal, int pressed, int lit, int disabled, int mask);
    void SetLit(bool lit);
    bool Lit() const { return lit_; }
    bool Hovered() const { return hover_; }
    bool Down() const { return down_ && inside_; }

    // The identifier of the bitmap shown now (tests, screenshots).
    int ShownBitmap() const;

signals:
    void clicked(int id);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void changeEvent(QEvent*) override;

private:
    enum Slot { kNormal, kPressed, kLit, kDisabled, kSlots };
    bool Inside(const QPoint& p) const;

    int id_;
    int ids_[kSlots] = {};
    SkinBitmap bitmaps_[kSlots];
    QRegion outline_;
    bool lit_ = false;
    bool hover_ = false;
    bool down_ = false;    // pressed with the left button, not yet released
    bool inside_ = false;  // the pointer is inside while down
};

}  // namespace tunara::qt
