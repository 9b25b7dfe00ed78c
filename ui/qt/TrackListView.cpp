#include "ui/qt/TrackListView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "engine/MediaSource.h"
#include "tracklist/TrackList.h"
#include "ui/qt/Displays.h"

namespace tunara::qt {

namespace {
constexpr int kInset = 5;
constexpr int kWheelRows = 3;
constexpr qint64 kFollowPauseMs = 5000;
const QColor kCurrentText(224, 224, 224);
}  // namespace

TrackListView::TrackListView(QWidget* parent, std::function<bool(const TrackList*)> playing)
    : QWidget(parent), playing_(std::move(playing)), font_(SkinFont(7)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    scrollExtent_ = std::max(12, QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    const QFontMetrics fm(font_);
    rowHeight_ = fm.height() + 3;
    headerHeight_ = rowHeight_ + 2;
}

QString TrackListView::DurationText(int d) {
    if (d < 0) d = 0;
    return QString::asprintf("%.2d:%.2d:%.2d", d / 3600000, (d / 1000 % 3600) / 60, d / 1000 % 60);
}

void TrackListView::Bind(TrackList* list) {
    list_ = list;
    selected_.clear();
    top_ = 0;
    generation_ = list ? list->Generation() : 0;
    Refresh();
}

void TrackListView::Refresh() {
    // A list emptied and filled again (New, Open, another disc) is a new
    // list: rows picked in the old one must not act on it.
    if (list_ && list_->Generation() != generation_) {
        generation_ = list_->Generation();
        selected_.clear();
        anchor_ = -1;
        top_ = 0;
    }
    const int count = list_ ? list_->Count() : 0;
    if (count != rows_) {
        rows_ = count;
        for (auto it = selected_.begin(); it != selected_.end();)
            it = *it >= rows_ ? selected_.erase(it) : std::next(it);
        top_ = std::clamp(top_, 0, MaxTop());
    }
    update();
}

void TrackListView::SetColours(QColor background, QColor textBackground, QColor text) {
    background_ = background;
    textBackground_ = textBackground;
    text_ = text;
    update();
}

int TrackListView::NameColumnWidth() const {
    return static_cast<int>((width() - scrollExtent_) * 0.75);
}
int TrackListView::DurationColumnWidth() const {
    return width() - NameColumnWidth() - scrollExtent_;
}

QRect TrackListView::Body() const {
    return QRect(0, headerHeight_, width() - scrollExtent_, height() - headerHeight_);
}

QRect TrackListView::ScrollBar() const {
    return QRect(width() - scrollExtent_, 0, scrollExtent_, height());
}

int TrackListView::RowsPerPage() const {
    return std::max(1, Body().height() / rowHeight_);
}

int TrackListView::MaxTop() const {
    return std::max(0, rows_ - RowsPerPage());
}

QRect TrackListView::Thumb() const {
    if (rows_ <= RowsPerPage()) return {};
    const QRect bar = ScrollBar();
    const int track = bar.height() - 2 * scrollExtent_;
    const int length = std::max(scrollExtent_ / 2, track * RowsPerPage() / rows_);
    const int range = std::max(1, MaxTop());
    const int y = bar.top() + scrollExtent_ + (track - length) * top_ / range;
    return QRect(bar.left() + kInset, y, bar.width() - 2 * kInset, length);
}

int TrackListView::RowAt(const QPoint& p) const {
    const QRect body = Body();
    if (!body.contains(p)) return -1;
    const int row = top_ + (p.y() - body.top()) / rowHeight_;
    return row < rows_ ? row : -1;
}

QRect TrackListView::RowRect(int row) const {
    const QRect body = Body();
    return QRect(0, body.top() + (row - top_) * rowHeight_, body.width(), rowHeight_);
}

void TrackListView::Select(int row, bool only) {
    if (only) selected_.clear();
    if (row >= 0 && row < rows_) selected_.insert(row);
    anchor_ = row;
    update();
}

QString TrackListView::DisplayTitle(const TrackList& list, int row) {
    MediaSource* item = list.ItemAt(row);
    if (!item) return {};
    const QString title = QString::fromStdString(list.TitleAt(row));
    const std::string artist = item->GetArtist();
    // A title the list file gave may hold the artist already.
    if (artist.empty() || list.NoteAt(row).title == list.TitleAt(row)) return title;
    return QString::fromStdString(artist) + QStringLiteral(" \u2013 ") + title;
}

void TrackListView::SelectAll() {
    for (int r = 0; r < rows_; ++r) selected_.insert(r);
    update();
}

void TrackListView::ScrollTo(int top) {
    top = std::clamp(top, 0, MaxTop());
    if (top == top_) return;
    top_ = top;
    update();
}

void TrackListView::UserScrollTo(int top) {
    if (!userClock_.isValid()) userClock_.start();
    userScrolledAt_ = userClock_.elapsed();
    ScrollTo(top);
}

void TrackListView::Follow(int row) {
    if (userScrolledAt_ >= 0 && userClock_.elapsed() - userScrolledAt_ < kFollowPauseMs) return;
    EnsureVisible(row);
}

QString TrackListView::TotalsText() const {
    if (!list_) return {};
    auto sum = [this](auto rows) {
        qint64 ms = 0;
        for (int r : rows) ms += std::max(0, list_->DurationAt(r));
        return DurationText(static_cast<int>(std::min<qint64>(ms, INT32_MAX)));
    };
    std::vector<int> all(rows_);
    for (int r = 0; r < rows_; ++r) all[r] = r;
    QString text = tr("%1 items, %2").arg(rows_).arg(sum(all));
    if (!selected_.empty())
        text += tr(" (%1 selected, %2)").arg(selected_.size()).arg(sum(selected_));
    return text;
}

int TrackListView::NumberColumnWidth() const {
    const QFontMetrics fm(font_);
    return fm.horizontalAdvance(QString::number(std::max(99, rows_))) +
           2 * fm.horizontalAdvance(QLatin1Char(' '));
}

void TrackListView::EnsureVisible(int row) {
    if (row < 0 || row >= rows_) return;
    if (row < top_)
        ScrollTo(row);
    else if (row >= top_ + RowsPerPage())
        ScrollTo(row - RowsPerPage() + 1);
}

void TrackListView::resizeEvent(QResizeEvent*) {
    top_ = std::clamp(top_, 0, MaxTop());
}

void TrackListView::PaintRow(QPainter& p, int row, const QRect& r) {
    MediaSource* item = list_ ? list_->ItemAt(row) : nullptr;
    const bool current = list_ && playing_ && playing_(list_) && list_->Current() == row;
    QColor text = current ? kCurrentText : text_;
    // An entry whose file does not open is shown dimmed, with a sign.
    const bool unavailable = list_ && list_->IsUnavailable(row);
    if (unavailable) text = text.darker(220);
    const bool selected = selected_.count(row) != 0;
    p.fillRect(r, selected ? text : textBackground_);
    p.setPen(selected ? textBackground_ : text);
    if (!item) return;
    const QFontMetrics fm(font_);
    const int margin = 2 * fm.horizontalAdvance(QLatin1Char(' '));
    const int nameWidth = NameColumnWidth();
    const int numberWidth = NumberColumnWidth();
    const QRect number(r.left(), r.top(), numberWidth - margin / 2, r.height());
    const QRect name(r.left() + numberWidth + margin / 2, r.top(), nameWidth - numberWidth - margin,
                     r.height());
    const QRect duration(r.left() + nameWidth + margin, r.top(), DurationColumnWidth() - 2 * margin,
                         r.height());
    const int flags = Qt::TextSingleLine | Qt::AlignVCenter;
    QString title = DisplayTitle(*list_, row);
    if (unavailable) title.prepend(QStringLiteral("\u2298 "));
    p.drawText(number, flags | Qt::AlignRight, QString::number(row + 1));
    p.drawText(name, flags | Qt::AlignLeft, fm.elidedText(title, Qt::ElideRight, name.width()));
    p.drawText(
        duration, flags | Qt::AlignRight,
        fm.elidedText(DurationText(list_->DurationAt(row)), Qt::ElideRight, duration.width()));
}

void TrackListView::paintEvent(QPaintEvent*) {
    ++redraws_;
    QPainter p(this);
    p.fillRect(rect(), background_);
    p.setFont(font_);
    const QFontMetrics fm(font_);
    const int margin = 2 * fm.horizontalAdvance(QLatin1Char(' '));

    // Header: flat, in the text colour, a rule below it.
    const int nameWidth = NameColumnWidth();
    p.setPen(text_);
    const int flags = Qt::TextSingleLine | Qt::AlignVCenter;
    const int numberWidth = NumberColumnWidth();
    p.drawText(QRect(0, 0, numberWidth - margin / 2, headerHeight_ - 2), flags | Qt::AlignRight,
               QStringLiteral("#"));
    const QRect totals(numberWidth + margin / 2, 0, nameWidth - numberWidth - margin,
                       headerHeight_ - 2);
    p.drawText(totals, flags | Qt::AlignLeft,
               fm.elidedText(tr("Title") + QStringLiteral(" \u2013 ") + TotalsText(),
                             Qt::ElideRight, totals.width()));
    p.drawText(QRect(nameWidth + margin, 0, DurationColumnWidth() - 2 * margin, headerHeight_ - 2),
               flags | Qt::AlignRight, tr("Duration"));
    QColor rule = text_;
    rule.setAlpha(110);
    p.fillRect(QRect(0, headerHeight_ - 2, Body().width(), 1), rule);
    p.fillRect(QRect(nameWidth, 2, 1, headerHeight_ - 6), rule);

    const QRect body = Body();
    p.setClipRect(body);
    const int last = std::min(rows_, top_ + RowsPerPage() + 1);
    for (int row = top_; row < last; ++row) PaintRow(p, row, RowRect(row));
    p.setClipping(false);

    // Scroll bar: arrows as triangles, the thumb as a plain bar.
    const QRect bar = ScrollBar();
    const bool scrollable = rows_ > RowsPerPage();
    QColor arrow = text_;
    if (!scrollable) arrow.setAlpha(90);
    p.setPen(Qt::NoPen);
    p.setBrush(arrow);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRect up(bar.left(), bar.top(), scrollExtent_, scrollExtent_);
    const QRect down(bar.left(), bar.bottom() - scrollExtent_ + 1, scrollExtent_, scrollExtent_);
    const QRect u = up.adjusted(kInset, kInset, -kInset, -kInset);
    const QRect d = down.adjusted(kInset, kInset, -kInset, -kInset);
    p.drawPolygon(QPolygon({QPoint(u.center().x(), u.top()), u.bottomLeft(), u.bottomRight()}));
    p.drawPolygon(QPolygon({d.topLeft(), d.topRight(), QPoint(d.center().x(), d.bottom())}));
    if (scrollable) p.fillRect(Thumb(), text_);
}

void TrackListView::mousePressEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    setFocus();
    if (ScrollBar().contains(pos)) {
        if (e->button() != Qt::LeftButton) return;
        const QRect bar = ScrollBar();
        const QRect thumb = Thumb();
        if (pos.y() < bar.top() + scrollExtent_)
            UserScrollTo(top_ - 1);
        else if (pos.y() > bar.bottom() - scrollExtent_)
            UserScrollTo(top_ + 1);
        else if (thumb.isValid() && pos.y() >= thumb.top() && pos.y() <= thumb.bottom()) {
            thumbDrag_ = true;
            thumbGrab_ = pos.y() - thumb.top();
        } else if (thumb.isValid())
            UserScrollTo(pos.y() < thumb.top() ? top_ - RowsPerPage() : top_ + RowsPerPage());
        return;
    }
    const int row = RowAt(pos);
    if (row < 0) {
        if (!(e->modifiers() & Qt::ControlModifier)) {
            selected_.clear();
            update();
        }
        return;
    }
    if (e->modifiers() & Qt::ControlModifier) {
        if (!selected_.erase(row)) selected_.insert(row);
        anchor_ = row;
        update();
    } else if ((e->modifiers() & Qt::ShiftModifier) && anchor_ >= 0) {
        selected_.clear();
        for (int r = std::min(anchor_, row); r <= std::max(anchor_, row); ++r) selected_.insert(r);
        update();
    } else if (!selected_.count(row)) {
        Select(row);
    }
    if (e->button() == Qt::LeftButton) {
        pressedOnRow_ = true;
        pressPoint_ = pos;
    }
}

void TrackListView::DragStep(const QPoint& p) {
    int to = RowAt(p);
    if (to < 0 || !list_) return;
    int offset = to - dragFrom_;
    for (int i : selected_) {
        if (i + offset < 0) offset = -i;
        if (i + offset > rows_ - 1) offset = rows_ - 1 - i;
    }
    to = dragFrom_ + offset;
    dragTo_ = to;
    if (offset != 0) {
        std::vector<int> rows(selected_.begin(), selected_.end());
        if (offset > 0) std::reverse(rows.begin(), rows.end());
        for (int i : rows) {
            selected_.erase(i);
            selected_.insert(i + offset);
            list_->Move(i, i + offset);
        }
        Refresh();
    }
    dragFrom_ = to;
}

void TrackListView::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    if (thumbDrag_) {
        const int track = ScrollBar().height() - 2 * scrollExtent_ - Thumb().height();
        if (track > 0) UserScrollTo((pos.y() - thumbGrab_ - scrollExtent_) * MaxTop() / track);
        return;
    }
    if (!pressedOnRow_ || !(e->buttons() & Qt::LeftButton)) return;
    if (dragFrom_ < 0) {
        if ((pos - pressPoint_).manhattanLength() < QApplication::startDragDistance()) return;
        dragFrom_ = RowAt(pressPoint_);
        if (dragFrom_ < 0) return;
    }
    // Dragging past the edges scrolls.
    if (pos.y() < Body().top() && top_ > 0) ScrollTo(top_ - 1);
    if (pos.y() > Body().bottom() && top_ < MaxTop()) ScrollTo(top_ + 1);
    QPoint inside = pos;
    inside.setY(std::clamp(pos.y(), Body().top(), Body().bottom()));
    DragStep(inside);
}

void TrackListView::mouseReleaseEvent(QMouseEvent* e) {
    thumbDrag_ = false;
    if (e->button() != Qt::LeftButton) return;
    const QPoint pos = e->position().toPoint();
    if (dragFrom_ >= 0) {
        QPoint inside = pos;
        inside.setY(std::clamp(pos.y(), Body().top(), Body().bottom()));
        DragStep(inside);
        dragFrom_ = -1;
    } else if (pressedOnRow_ && !(e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier))) {
        const int row = RowAt(pos);
        if (row >= 0) Select(row);
    }
    pressedOnRow_ = false;
}

void TrackListView::mouseDoubleClickEvent(QMouseEvent* e) {
    const int row = RowAt(e->position().toPoint());
    if (e->button() == Qt::LeftButton && row >= 0) {
        Select(row);
        emit activated(row);
    } else {
        mousePressEvent(e);
    }
}

void TrackListView::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0) UserScrollTo(top_ - steps * kWheelRows);
}

void TrackListView::keyPressEvent(QKeyEvent* e) {
    const int at = anchor_ >= 0 ? anchor_ : (selected_.empty() ? -1 : *selected_.begin());
    int row = at;
    switch (e->key()) {
        case Qt::Key_Up:
            row = at - 1;
            break;
        case Qt::Key_Down:
            row = at + 1;
            break;
        case Qt::Key_PageUp:
            row = at - RowsPerPage();
            break;
        case Qt::Key_PageDown:
            row = at + RowsPerPage();
            break;
        case Qt::Key_Home:
            row = 0;
            break;
        case Qt::Key_End:
            row = rows_ - 1;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (at >= 0) emit activated(at);
            return;
        default:
            QWidget::keyPressEvent(e);
            return;
    }
    if (rows_ == 0) return;
    row = std::clamp(row, 0, rows_ - 1);
    Select(row);
    EnsureVisible(row);
}

}  // namespace tunara::qt
