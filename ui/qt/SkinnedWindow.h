#pragma once
// The base of every window of the player: no frame or caption, the outline
// cut from a mask bitmap, the background drawn from a skin bitmap, moved by
// dragging the background. Panels add docking: a panel opens attached to its
// owner's bottom-left corner, follows the window it is docked to, and snaps
// to other panels when dragged within 10 pixels of them.
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "ui/qt/SkinBitmap.h"

namespace tunara::qt {

class SkinnedWindow : public QWidget {
    Q_OBJECT
public:
    explicit SkinnedWindow(QWidget* owner = nullptr);

    // Loads the background and mask, resizes the window to the background
    // and cuts its outline. False when a bitmap does not load.
    bool SetUpSkin(int background, int mask);
    const SkinBitmap& Background() const { return background_; }
    const QRegion& Outline() const { return outline_; }

    // Moves the window as a drag would propose it (tests and the manual drag).
    virtual void DragTo(const QPoint& topLeft);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    // A system move of this window by the window manager has settled.
    virtual void SystemMoveSettled() {}
    bool SystemMoving() const { return systemMoving_; }
    void moveEvent(QMoveEvent*) override;

private:
    SkinBitmap background_;
    QRegion outline_;
    bool manualDrag_ = false;
    QPoint pressOffset_;  // pointer minus window position at the press
    bool systemMoving_ = false;
    QTimer settle_;
};

// A panel window: the main window, the playlist window, the CD window.
class PanelWindow : public SkinnedWindow {
    Q_OBJECT
public:
    // With an owner the panel opens docked at the owner's bottom-left corner.
    explicit PanelWindow(PanelWindow* owner = nullptr);
    ~PanelWindow() override;

    PanelWindow* DockedTo() const { return dockedTo_; }
    void SetDockedTo(PanelWindow* panel) { dockedTo_ = panel; }
    // True when this panel is docked to `panel`, directly or through others.
    bool IsDockedUnder(const PanelWindow* panel) const;
    // Every panel in the program, in the order they joined.
    static const std::vector<PanelWindow*>& Panels();

    // The rectangle a drag to `proposed` ends in after snapping, and the panel
    // it docks to (none when no other panel is within reach).
    struct Snap {
        QRect rect;
        PanelWindow* dockTo = nullptr;
    };
    Snap SnapRect(QRect proposed) const;

    void DragTo(const QPoint& topLeft) override;
    // Moves the window without snapping; panels docked to it follow.
    void MoveTo(const QPoint& topLeft);

protected:
    void moveEvent(QMoveEvent*) override;
    void changeEvent(QEvent*) override;
    void SystemMoveSettled() override;
    void showEvent(QShowEvent*) override;

private:
    void FollowMove(const QPoint& delta);

    PanelWindow* dockedTo_ = nullptr;
    QPointer<PanelWindow> owner_;
    QPoint lastPos_;
    bool placed_ = false;
};

}  // namespace tunara::qt
