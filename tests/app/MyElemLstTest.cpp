#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/MyElemLst.h"

namespace {

TEST(ElemLst, AddReturnsIndexAndKeepsDuplicates) {
  TMyElemLst list;
  EXPECT_EQ(list.Add(0x4010), 0);
  EXPECT_EQ(list.Add(0x2010), 1);
  EXPECT_EQ(list.Add(0x4010), 2);
  EXPECT_EQ(list.Count(), 3);
}

TEST(ElemLst, RemoveTakesOnlyTheFirstEqualElement) {
  TMyElemLst list;
  list.Add(0x4010);
  list.Add(0x4010);
  list.Remove(0x4010);
  EXPECT_EQ(list.Count(), 1);
  list.Remove(0x4010);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ElemLst, RemovingAnAbsentValueChangesNothing) {
  TMyElemLst list;
  list.Remove(0x3010);  // empty list
  list.Add(0x2010);
  list.Remove(0x3010);
  EXPECT_EQ(list.Count(), 1);
  list.Remove(0x2010);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ElemLst, ClearEmptiesAndTheListStaysUsable) {
  TMyElemLst list;
  for (int i = 0; i < 100; ++i) list.Add(i);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Add(7), 0);
}

TEST(ElemLst, PointerSizedValuesSurvive) {
  TMyElemLst list;
  const TMyElemLst::Element big = static_cast<TMyElemLst::Element>(INTPTR_MAX);
  list.Add(-1);
  list.Add(big);
  list.Remove(big);
  EXPECT_EQ(list.Count(), 1);
  list.Remove(-1);
  EXPECT_EQ(list.Count(), 0);
}

// The lock nests on one thread, like an operating-system critical section:
// a caller holding the lock can still use the list.
TEST(ElemLst, OperationsWhileHoldingTheLockDoNotDeadlock) {
  TMyElemLst list;
  list.Lock();
  list.Add(1);
  EXPECT_EQ(list.Count(), 1);
  list.Unlock();
}

// A thread that holds the lock keeps other threads out of every operation.
TEST(ElemLst, HeldLockKeepsOtherThreadsOut) {
  TMyElemLst list;
  std::atomic<bool> started{false};
  list.Lock();
  std::thread adder([&] {
    started = true;
    list.Add(1);
  });
  while (!started) std::this_thread::yield();
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  EXPECT_EQ(list.Count(), 0);
  list.Unlock();
  adder.join();
  EXPECT_EQ(list.Count(), 1);
}

// Many threads adding and removing at once: each operation is whole, so the
// count comes out exact.
TEST(ElemLst, ConcurrentAddAndRemoveKeepTheCountExact) {
  TMyElemLst list;
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&list, t] {
      for (int i = 0; i < kRounds; ++i) {
        list.Add(t);
        list.Add(t);
        list.Remove(t);
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(list.Count(), kThreads * kRounds);
}

}  // namespace
