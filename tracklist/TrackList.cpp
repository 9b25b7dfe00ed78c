#include "tracklist/TrackList.h"

#include <algorithm>
#include <ctime>
#include <random>

namespace tunara {

namespace {

// Seeded once per process: reseeding from the clock on every switch-on would
// repeat the same order when shuffle is toggled twice within a second.
std::mt19937& ShuffleRandom() {
    static std::mt19937 rng(static_cast<uint32_t>(std::time(nullptr)) ^ std::random_device{}());
    return rng;
}

// What sources show when nothing better is known: the file's name without
// folder and extension.
std::string FileNameTitle(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

const EntryNote& TrackList::NoteAt(int index) const {
    static const EntryNote kNone;
    if (index < 0 || index >= static_cast<int>(notes_.size())) return kNone;
    return notes_[static_cast<size_t>(index)];
}

void TrackList::SetNote(int index, EntryNote note) {
    if (index < 0 || index >= static_cast<int>(notes_.size())) return;
    notes_[static_cast<size_t>(index)] = std::move(note);
}

void TrackList::MarkUnavailable(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(notes_.size())) return;
    notes_[static_cast<size_t>(index)].unavailable = on;
}

std::string TrackList::TitleAt(int index) const {
    const MediaSource* item = ItemAt(index);
    if (!item) return {};
    std::string title = item->GetTitle();
    const EntryNote& note = NoteAt(index);
    if (!note.title.empty() && (title.empty() || title == FileNameTitle(item->GetLocation())))
        return note.title;
    return title;
}

int32_t TrackList::DurationAt(int index) const {
    const MediaSource* item = ItemAt(index);
    if (!item) return 0;
    const int32_t own = item->GetDuration();
    const EntryNote& note = NoteAt(index);
    return own > 0 || note.lengthMs < 0 ? own : note.lengthMs;
}

std::unique_ptr<MediaSource> TrackList::ReplaceItem(int index, std::unique_ptr<MediaSource> item) {
    if (index < 0 || index >= Count() || !item) return nullptr;
    std::swap(items_[static_cast<size_t>(index)], item);
    return item;
}

MediaSource* TrackList::ItemAt(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)].get();
}

// Grows by an eighth of the size, at least 4 and at most 1024 entries, so that
// long lists do not reallocate on every append.
void TrackList::PushShuffleEntry(int32_t index) {
    size_t size = shuffleOrder_.size();
    if (size == shuffleOrder_.capacity()) {
        size_t step = std::clamp<size_t>(size / 8, 4, 1024);
        shuffleOrder_.reserve(std::max(size + step, size + 1));
    }
    shuffleOrder_.push_back(index);
}

int TrackList::Append(std::unique_ptr<MediaSource> item) {
    int index = Count();
    items_.push_back(std::move(item));
    notes_.emplace_back();
    PushShuffleEntry(index);
    if (current_ == -1) {
        current_ = index;
        shufflePos_ = 0;
    }
    modified_ = true;
    return index;
}

void TrackList::InsertAt(int index, std::unique_ptr<MediaSource> item) {
    index = std::clamp(index, 0, Count());
    if (current_ >= index) ++current_;
    items_.insert(items_.begin() + index, std::move(item));
    notes_.insert(notes_.begin() + index, EntryNote{});
    for (auto& entry : shuffleOrder_)
        if (entry >= index) ++entry;
    PushShuffleEntry(index);
    modified_ = true;
}

std::unique_ptr<MediaSource> TrackList::Remove(int index) {
    // An index out of range would shift current and every shuffle entry
    // without taking anything out; leave the list alone instead.
    if (index < 0 || index >= Count()) return nullptr;
    if (index < current_) --current_;
    std::unique_ptr<MediaSource> item = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    notes_.erase(notes_.begin() + index);
    if (current_ > Count() - 1) current_ = Count() - 1;
    std::erase(shuffleOrder_, index);
    for (auto& entry : shuffleOrder_)
        if (entry > index) --entry;
    int32_t last = static_cast<int32_t>(shuffleOrder_.size()) - 1;
    if (shufflePos_ > last) shufflePos_ = last;
    modified_ = true;
    return item;
}

void TrackList::Delete(int index) {
    Remove(index);
}

void TrackList::Move(int from, int to) {
    bool wasCurrent = from == current_;
    EntryNote note = NoteAt(from);
    std::unique_ptr<MediaSource> item = Remove(from);
    if (!item) return;
    to = std::clamp(to, 0, Count());
    InsertAt(to, std::move(item));
    SetNote(to, std::move(note));
    if (wasCurrent) current_ = to;
}

void TrackList::Clear() {
    current_ = -1;
    shufflePos_ = -1;
    items_.clear();
    notes_.clear();
    shuffleOrder_.clear();
    ++generation_;
    modified_ = true;
}

void TrackList::SetCurrent(int index) {
    if (index < -1 || index > Count() - 1) return;
    current_ = index;
    if (shuffle_) {
        for (int pos = static_cast<int>(shuffleOrder_.size()) - 1; pos >= 0; --pos) {
            if (shuffleOrder_[static_cast<size_t>(pos)] == index) {
                shufflePos_ = pos;
                break;
            }
        }
    }
}

void TrackList::SetShuffle(bool on) {
    shuffle_ = on;
    if (!on || items_.empty()) return;
    int count = Count();
    shuffleOrder_.resize(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) shuffleOrder_[static_cast<size_t>(k)] = k;
    auto& rng = ShuffleRandom();
    // With no current item a random one leads; current stays unset until the
    // user picks or steps.
    int first = current_ >= 0 ? current_ : static_cast<int>(rng() % static_cast<uint32_t>(count));
    shuffleOrder_[0] = first;
    shuffleOrder_[static_cast<size_t>(first)] = 0;
    shufflePos_ = 0;
    for (int k = 1; k < count; ++k) {
        int j = 1 + static_cast<int>(rng() % static_cast<uint32_t>(count - 1));
        std::swap(shuffleOrder_[static_cast<size_t>(k)], shuffleOrder_[static_cast<size_t>(j)]);
    }
}

bool TrackList::Next() {
    int count = Count();
    if (count == 0) return false;
    int position;
    if (shuffle_) {
        shufflePos_ = (shufflePos_ + 1) % count;
        current_ = shuffleOrder_[static_cast<size_t>(shufflePos_)];
        position = shufflePos_;
        if (shufflePos_ == 0) SetShuffle(true);
    } else {
        current_ = (current_ + 1) % count;
        position = current_;
    }
    return repeat_ || position != 0;
}

int TrackList::FollowingIndex() const {
    const int count = Count();
    if (count == 0) return -1;
    if (shuffle_) {
        const int position = (shufflePos_ + 1) % count;
        if (!repeat_ && position == 0) return -1;
        return shuffleOrder_[static_cast<size_t>(position)];
    }
    const int index = (current_ + 1) % count;
    return repeat_ || index != 0 ? index : -1;
}

bool TrackList::Previous() {
    int count = Count();
    if (count == 0) return false;
    int position;
    if (shuffle_) {
        shufflePos_ = ((shufflePos_ + count - 1) % count + count) % count;
        current_ = shuffleOrder_[static_cast<size_t>(shufflePos_)];
        if (shufflePos_ == count - 1) SetShuffle(true);
        position = shufflePos_;
    } else {
        current_ = ((count + current_ - 1) % count + count) % count;
        position = current_;
    }
    return repeat_ || position != count - 1;
}

}  // namespace tunara
