#pragma once
// The list view of a TrackList: name and duration columns, rows asked of the
// list while drawing (nothing is copied), the current item of the active list
// marked, flat scroll bars of its own, drag to reorder the selected rows and
// double-click to play.
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <set>

namespace tunara {
class TrackList;
}

namespace tunara::qt {

class TrackListView : public QWidget {
    Q_OBJECT
public:
    // `playing` tells whether a list is the one being played (its current
    // row is then marked).
    TrackListView(QWidget* parent, std::function<bool(const TrackList*)> playing);

    void Bind(TrackList* list);
    TrackList* List() const { return list_; }
    // Follows the list's count and redraws.
    void Refresh();
    void EnsureVisible(int row);
    // Brings the playing row into view unless the user scrolled lately.
    void Follow(int row);
    // "N items, hh:mm:ss", with the selection's count and time when any.
    QString TotalsText() const;
    void SetColours(QColor background, QColor textBackground, QColor text);

    int RowCount() const { return rows_; }
    int TopRow() const { return top_; }
    int RowsPerPage() const;
    int RowAt(const QPoint& p) const;  // -1 outside the rows
    QRect RowRect(int row) const;
    const std::set<int>& Selected() const { return selected_; }
    std::vector<int> SelectedRows() const { return {selected_.begin(), selected_.end()}; }
    void Select(int row, bool only = true);
    void SelectAll();
    // The text a row shows (its title column), for finding.
    QString RowText(int row) const { return list_ ? DisplayTitle(*list_, row) : QString(); }
    // "Artist – Title" of an entry when both are known, else its title.
    static QString DisplayTitle(const TrackList& list, int row);
    int NameColumnWidth() const;
    int DurationColumnWidth() const;
    int Redraws() const { return redraws_; }

    // "hh:mm:ss" of a duration in milliseconds.
    static QString DurationText(int ms);

signals:
    void activated(int row);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QRect Body() const;       // the rows' area, header and scroll bar excluded
    QRect ScrollBar() const;  // empty when every row fits
    QRect Thumb() const;
    int RowHeight() const { return rowHeight_; }
    int MaxTop() const;
    void ScrollTo(int top);
    void UserScrollTo(int top);  // remembers when, so the view stops following
    int NumberColumnWidth() const;
    void DragStep(const QPoint& p);
    void PaintRow(QPainter& p, int row, const QRect& r);

    TrackList* list_ = nullptr;
    std::function<bool(const TrackList*)> playing_;
    uint32_t generation_ = 0;  // of the list when the rows were last taken
    int rows_ = 0;
    int top_ = 0;
    std::set<int> selected_;
    int anchor_ = -1;
    int dragFrom_ = -1;
    int dragTo_ = -1;
    QPoint pressPoint_;
    bool pressedOnRow_ = false;
    bool thumbDrag_ = false;
    int thumbGrab_ = 0;
    QFont font_;
    int rowHeight_ = 13;
    int headerHeight_ = 15;
    int scrollExtent_ = 16;
    QColor background_{Qt::black}, textBackground_{Qt::black}, text_{0, 127, 255};
    int redraws_ = 0;
    qint64 userScrolledAt_ = -1;  // ms on userClock_
    QElapsedTimer userClock_;
};

}  // namespace tunara::qt
