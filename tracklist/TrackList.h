#pragma once
// An ordered list of playable items with a current index, a shuffle order and
// the Intro, Shuffle and Repeat flags. Base of the playlist and of a CD's
// track list. Only the user-interface thread touches a list.
//
// Invariant: shuffleOrder is always a permutation of 0..Count()-1.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/MediaSource.h"

namespace tunara {

// What a list knows of an entry besides its item: the title and length its
// list file gave, and whether its file could not be opened.
struct EntryNote {
    std::string title;      // empty: none given
    int32_t lengthMs = -1;  // -1: not given
    bool unavailable = false;
};

class TrackList {
public:
    TrackList() = default;
    virtual ~TrackList() = default;
    TrackList(const TrackList&) = delete;
    TrackList& operator=(const TrackList&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    int Current() const { return current_; }
    MediaSource* ItemAt(int index) const;
    MediaSource* CurrentItem() const { return ItemAt(current_); }

    // Returns the new index; the first item of a list without a current one
    // becomes current.
    virtual int Append(std::unique_ptr<MediaSource> item);
    // An index beyond the end appends.
    virtual void InsertAt(int index, std::unique_ptr<MediaSource> item);
    // Hands the item back; null (and nothing changes) for an index out of range.
    virtual std::unique_ptr<MediaSource> Remove(int index);
    virtual void Delete(int index);
    virtual void Move(int from, int to);
    virtual void Clear();
    // Ignored for an index below -1 or past the end.
    virtual void SetCurrent(int index);
    // Step to the next / previous item; true when playback should go on.
    virtual bool Next();
    virtual bool Previous();
    // The index Next would make current with playback going on; -1 when Next
    // would stop (or the list is empty). Changes nothing.
    int FollowingIndex() const;

    // The note of an entry (an empty one out of range) and its replacement.
    const EntryNote& NoteAt(int index) const;
    void SetNote(int index, EntryNote note);
    bool IsUnavailable(int index) const { return NoteAt(index).unavailable; }
    void MarkUnavailable(int index, bool on);
    // The title and duration to show for an entry: the item's, unless the
    // item knows no more than its file name (or no length) and the list
    // file gave one.
    std::string TitleAt(int index) const;
    int32_t DurationAt(int index) const;
    // An entry marked unavailable is looked for again; true when the entry
    // can be played now. The item at the index may be replaced, so no one
    // may hold it. The base list has nothing to look for.
    virtual bool TryRestore(int index) { return !IsUnavailable(index); }
    // Changes whenever the list is emptied, so that a view can tell a new
    // list from an edited one.
    uint32_t Generation() const { return generation_; }

    void SetIntro(bool on) { intro_ = on; }
    bool Intro() const { return intro_; }
    // Switching on builds a fresh order with the current item first.
    void SetShuffle(bool on);
    bool Shuffle() const { return shuffle_; }
    void SetRepeat(bool on) { repeat_ = on; }
    bool Repeat() const { return repeat_; }

    bool IsModified() const { return modified_; }
    const std::vector<int32_t>& ShuffleOrder() const { return shuffleOrder_; }
    int ShufflePos() const { return shufflePos_; }

protected:
    // Puts another item in an entry's place, keeping the entry's position,
    // note and the list's order; hands the old item back.
    std::unique_ptr<MediaSource> ReplaceItem(int index, std::unique_ptr<MediaSource> item);

    bool modified_ = false;

private:
    void PushShuffleEntry(int32_t index);

    std::vector<std::unique_ptr<MediaSource>> items_;
    std::vector<EntryNote> notes_;  // one per item
    uint32_t generation_ = 0;
    std::vector<int32_t> shuffleOrder_;
    int32_t shufflePos_ = -1;  // position of the current item in shuffleOrder_
    int32_t current_ = -1;
    bool intro_ = false;
    bool shuffle_ = false;
    bool repeat_ = false;
};

}  // namespace tunara
