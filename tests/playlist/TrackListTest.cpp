#include "tracklist/TrackList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "playlist/FakeMediaSource.h"

namespace tunara {
namespace {

using testing::MakeFake;

TrackList& Fill(TrackList& list, int n) {
    for (int i = 0; i < n; ++i) list.Append(MakeFake("t" + std::to_string(i), 1000));
    return list;
}

std::string TitleAt(const TrackList& list, int i) {
    return list.ItemAt(i)->GetTitle();
}

bool IsPermutation(const TrackList& list) {
    std::vector<int32_t> order = list.ShuffleOrder();
    std::sort(order.begin(), order.end());
    std::vector<int32_t> want(static_cast<size_t>(list.Count()));
    std::iota(want.begin(), want.end(), 0);
    return order == want;
}

// The first item appended becomes current; later ones do not.
TEST(TrackList, Append_FirstItemBecomesCurrent) {
    TrackList list;
    EXPECT_EQ(list.Current(), -1);
    EXPECT_EQ(list.ShufflePos(), -1);
    EXPECT_EQ(list.CurrentItem(), nullptr);
    Fill(list, 3);
    EXPECT_EQ(list.Current(), 0);
    EXPECT_EQ(list.ShufflePos(), 0);
    EXPECT_TRUE(list.IsModified());
    EXPECT_EQ(list.ItemAt(3), nullptr);
    EXPECT_EQ(list.ItemAt(-1), nullptr);
}

// Removing the current item when it is the last makes the previous one
// current; removing an item before the current keeps the same item current.
TEST(TrackList, Remove_KeepsTheRightItemCurrent) {
    TrackList list;
    Fill(list, 4);
    list.SetCurrent(3);
    auto removed = list.Remove(3);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->GetTitle(), "t3");
    EXPECT_EQ(list.Current(), 2);

    list.SetCurrent(2);
    list.Delete(0);
    EXPECT_EQ(list.Current(), 1);
    EXPECT_EQ(list.CurrentItem()->GetTitle(), "t2");

    list.Delete(1);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Current(), -1);
    EXPECT_EQ(list.ShufflePos(), -1);
}

// An index out of range takes nothing out and leaves current and the shuffle
// order alone.
TEST(TrackList, Remove_OutOfRange_ChangesNothing) {
    TrackList list;
    Fill(list, 3);
    list.SetCurrent(1);
    std::vector<int32_t> before = list.ShuffleOrder();
    EXPECT_EQ(list.Remove(-1), nullptr);
    EXPECT_EQ(list.Remove(3), nullptr);
    EXPECT_EQ(list.Current(), 1);
    EXPECT_EQ(list.ShuffleOrder(), before);
}

TEST(TrackList, InsertAndMove_FollowTheCurrentItem) {
    TrackList list;
    Fill(list, 4);
    list.SetCurrent(2);
    list.InsertAt(0, MakeFake("new", 1000));
    EXPECT_EQ(list.CurrentItem()->GetTitle(), "t2");
    EXPECT_EQ(TitleAt(list, 0), "new");
    list.InsertAt(99, MakeFake("end", 1000));  // past the end appends
    EXPECT_EQ(TitleAt(list, list.Count() - 1), "end");

    list.Move(list.Current(), 0);
    EXPECT_EQ(list.Current(), 0);
    EXPECT_EQ(list.CurrentItem()->GetTitle(), "t2");
    list.Move(4, 1);
    EXPECT_EQ(list.CurrentItem()->GetTitle(), "t2");
    EXPECT_TRUE(IsPermutation(list));
}

// Stepping forward wraps to item 0 and says stop unless repeat is on;
// stepping back from item 0 wraps to the last.
TEST(TrackList, NextPrevious_WrapAndRepeat) {
    TrackList list;
    Fill(list, 3);
    EXPECT_TRUE(list.Next());
    EXPECT_TRUE(list.Next());
    EXPECT_EQ(list.Current(), 2);
    EXPECT_FALSE(list.Next());
    EXPECT_EQ(list.Current(), 0);
    list.SetRepeat(true);
    list.SetCurrent(2);
    EXPECT_TRUE(list.Next());
    EXPECT_EQ(list.Current(), 0);

    EXPECT_TRUE(list.Previous());
    EXPECT_EQ(list.Current(), 2);
    list.SetRepeat(false);
    list.SetCurrent(0);
    EXPECT_FALSE(list.Previous());
    EXPECT_EQ(list.Current(), 2);
    EXPECT_TRUE(list.Previous());
    EXPECT_EQ(list.Current(), 1);

    TrackList empty;
    EXPECT_FALSE(empty.Next());
    EXPECT_FALSE(empty.Previous());
    EXPECT_EQ(empty.Current(), -1);
}

TEST(TrackList, OneItemList_StopsEitherWayUnlessRepeat) {
    for (bool shuffle : {false, true}) {
        TrackList list;
        Fill(list, 1);
        list.SetShuffle(shuffle);
        EXPECT_FALSE(list.Next());
        EXPECT_EQ(list.Current(), 0);
        EXPECT_FALSE(list.Previous());
        EXPECT_EQ(list.Current(), 0);
        list.SetRepeat(true);
        EXPECT_TRUE(list.Next());
        EXPECT_TRUE(list.Previous());
        EXPECT_EQ(list.ShuffleOrder(), std::vector<int32_t>{0});
    }
}

// Switching shuffle on puts the current item first; SetCurrent moves
// shufflePos to the item's place in the order.
TEST(TrackList, Shuffle_CurrentFirstAndSetCurrentFollows) {
    TrackList list;
    Fill(list, 10);
    list.SetCurrent(3);
    list.SetShuffle(true);
    EXPECT_EQ(list.ShuffleOrder()[0], 3);
    EXPECT_EQ(list.ShufflePos(), 0);
    EXPECT_TRUE(IsPermutation(list));
    list.SetCurrent(7);
    EXPECT_EQ(list.ShuffleOrder()[static_cast<size_t>(list.ShufflePos())], 7);

    // A whole round visits every item once, then wraps with a stop.
    list.SetCurrent(3);
    std::vector<int> seen{3};
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(list.Next());
        seen.push_back(list.Current());
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_FALSE(list.Next());
    EXPECT_EQ(list.ShufflePos(), 0);
    EXPECT_EQ(list.ShuffleOrder()[0], list.Current());
}

// Stepping back past the first shuffled item builds a fresh order and goes on.
TEST(TrackList, Shuffle_PreviousFromFirstRebuildsAndContinues) {
    TrackList list;
    Fill(list, 5);
    list.SetShuffle(true);
    EXPECT_TRUE(list.Previous());
    EXPECT_EQ(list.ShufflePos(), 0);
    EXPECT_EQ(list.ShuffleOrder()[0], list.Current());
}

// A list whose current item was cleared still gets a full order and a
// valid position when shuffle is switched on.
TEST(TrackList, Shuffle_WithoutCurrent_StaysValid) {
    TrackList list;
    Fill(list, 6);
    list.SetCurrent(-1);
    list.SetShuffle(true);
    EXPECT_TRUE(IsPermutation(list));
    EXPECT_EQ(list.ShufflePos(), 0);
    EXPECT_EQ(list.Current(), -1);
    list.Next();
    EXPECT_GE(list.Current(), 0);
    EXPECT_LT(list.Current(), 6);
}

// Thousands of random edits: the order stays a permutation, positions stay in
// range, and the current item is the same object after moves and removals of
// other items.
TEST(TrackList, RandomOperations_KeepInvariants) {
    std::mt19937 rng(12345);
    TrackList list;
    int made = 0;
    for (int step = 0; step < 20000; ++step) {
        int count = list.Count();
        auto pick = [&](int n) {
            return n > 0 ? static_cast<int>(rng() % static_cast<uint32_t>(n)) : 0;
        };
        MediaSource* current = list.CurrentItem();
        switch (rng() % 10) {
            case 0:
            case 1:
                list.Append(MakeFake("x" + std::to_string(made++), 1000));
                break;
            case 2:
                list.InsertAt(pick(count + 1), MakeFake("y" + std::to_string(made++), 1000));
                break;
            case 3:
                if (count > 0) {
                    int i = pick(count);
                    bool wasCurrent = i == list.Current();
                    list.Delete(i);
                    if (!wasCurrent) {
                        EXPECT_EQ(list.CurrentItem(), current);
                    }
                }
                break;
            case 4:
                if (count > 0) {
                    list.Move(pick(count), pick(count));
                    EXPECT_EQ(list.CurrentItem(), current);
                }
                break;
            case 5:
                list.SetCurrent(pick(count + 1) - 1);
                break;
            case 6:
                list.SetShuffle(!list.Shuffle());
                if (list.Shuffle() && list.Current() >= 0) {
                    EXPECT_EQ(list.ShuffleOrder()[0], list.Current());
                }
                break;
            case 7:
                list.Next();
                break;
            case 8:
                list.Previous();
                break;
            case 9:
                if (rng() % 50 == 0) list.Clear();
                list.SetRepeat(rng() % 2);
                break;
        }
        ASSERT_TRUE(IsPermutation(list)) << "step " << step;
        ASSERT_GE(list.Current(), -1);
        ASSERT_LT(list.Current(), list.Count());
        ASSERT_GE(list.ShufflePos(), -1);
        ASSERT_LT(list.ShufflePos(), std::max(1, list.Count()));
        if (list.Count() == 0) {
            ASSERT_EQ(list.Current(), -1);
        }
    }
}

// FollowingIndex names the item Next then makes current, or -1 exactly when
// Next stops, in every mode, without changing the list.
TEST(TrackList, FollowingIndex_IsWhereNextGoes) {
    std::mt19937 rng(4242);
    TrackList list;
    for (int step = 0; step < 5000; ++step) {
        const int count = list.Count();
        switch (rng() % 6) {
            case 0:
                if (count < 7) list.Append(MakeFake("f", 1000));
                break;
            case 1:
                if (count > 0) list.Delete(static_cast<int>(rng() % static_cast<uint32_t>(count)));
                break;
            case 2:
                list.SetCurrent(static_cast<int>(rng() % static_cast<uint32_t>(count + 1)) - 1);
                break;
            case 3:
                list.SetShuffle(!list.Shuffle());
                break;
            case 4:
                list.SetRepeat(!list.Repeat());
                break;
            default: {
                const int following = list.FollowingIndex();
                const std::vector<int32_t> order = list.ShuffleOrder();
                EXPECT_EQ(list.FollowingIndex(), following);
                EXPECT_EQ(list.ShuffleOrder(), order);
                const bool goesOn = list.Next();
                EXPECT_EQ(goesOn ? list.Current() : -1, following) << "step " << step;
                break;
            }
        }
    }
}

}  // namespace
}  // namespace tunara
