#include "bleedborder/core/thread_list.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace bleedborder;

namespace {

TEST(ThreadListTest, AddingTwiceKeepsOneEntry) {
  TThreadList<int> list;
  int a = 0;
  int b = 0;
  list.Add(&a);
  list.Add(&b);
  list.Add(&a);
  EXPECT_EQ(list.Count(), 2u);
  list.Remove(&a);
  EXPECT_FALSE(list.Contains(&a));
  EXPECT_TRUE(list.Contains(&b));
}

TEST(ThreadListTest, TheLockingThreadMayUseTheListAndOthersWait) {
  TThreadList<int> list;
  int items[2] = {};
  std::vector<int*>& locked = list.LockList();
  // Re-entrant: the holder's own calls go through.
  list.Add(&items[0]);
  std::thread other([&] { list.Add(&items[1]); });
  EXPECT_EQ(locked.size(), 1u);
  list.UnlockList();
  other.join();
  EXPECT_EQ(list.Count(), 2u);
}

}  // namespace
