// The report schedule claimed from several threads at once: one report per due
// serial; the counters the reports read, counted by more threads than they
// have copies; and the slim lock the tables are guarded by.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "diagnostics/counters.h"
#include "diagnostics/report_schedule.h"
#include "platform/locks.h"
#include "platform/thread_key.h"

using namespace corvane::diagnostics;

namespace {

TEST(ReportScheduleConcurrency, EachDueSerialIsClaimedExactlyOnce) {
  std::atomic<uint64_t> next{600};
  std::atomic<int> claims{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (uint64_t serial = 1; serial <= 12000; ++serial)
        if (claimReport(next, PresentationFrame{1.0, 1.0, serial, true})) claims.fetch_add(1);
    });
  }
  for (std::thread& t : threads) t.join();
  // Serials 600, 1800, ..., 11400 whichever thread got there first.
  EXPECT_EQ(claims.load(), 10);
  EXPECT_EQ(next.load(), 12600u);
}

// A thread counts in the copy its key selects once it owns it, in copy 0 while
// another key does; more threads than copies count every increment once.
TEST(CountersConcurrency, EveryIncrementIsCountedOnceWhateverCopyItLandsIn) {
  Counter& shared = counters.world.candidates;
  // Threads are joined only at the end: a joined thread's stack, and with it
  // its key, is handed to the next thread started.
  bool checked = false;
  std::atomic<size_t> finished{0};
  std::vector<std::thread> tried;
  while (!checked && tried.size() < 64) {
    tried.emplace_back([&] {
      const uintptr_t key = corvane::os::currentThreadKey();
      const size_t part = corvane::os::threadPartOf(key, kCounterShards);
      if (part == 0) return void(finished.fetch_add(1));
      const uint64_t inShared = shared.load(), inOwn = counter_shards::copyIn(shared, part)->load();
      shardOwners[part].store(key + 1);
      bump(shared);
      shardOwners[part].store(0);
      bump(shared);
      EXPECT_EQ(shared.load(), inShared + 1);
      EXPECT_EQ(counter_shards::copyIn(shared, part)->load(), inOwn + 1);
      EXPECT_EQ(shardOwners[part].load(), key);
      checked = true;
      finished.fetch_add(1);
    });
    while (finished.load() < tried.size()) std::this_thread::yield();
  }
  for (std::thread& t : tried) t.join();
  ASSERT_TRUE(checked);
  const uint64_t before = read(shared);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 24; ++t)
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 20000; ++i) bump(shared);
    });
  go.store(true);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(read(shared) - before, 24u * 20000u);
}

// Holds long enough that the threads waiting give up spinning and sleep: a
// writer is alone, a reader never sees half a write, and every sleeper wakes.
TEST(SlimLockConcurrency, WritersAreAloneAndEverySleeperWakes) {
  corvane::os::SlimLock lock;
  uint64_t first = 0, second = 0;  // written only under the exclusive hold
  std::atomic<int> halfWrites{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        if ((i + t) % 2 == 0) {
          corvane::os::ExclusiveGuard hold(lock);
          ++first;
          std::this_thread::sleep_for(std::chrono::microseconds(20));
          ++second;
        } else {
          corvane::os::SharedGuard hold(lock);
          if (first != second) halfWrites.fetch_add(1);
          std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(first, 200u);
  EXPECT_EQ(second, 200u);
  EXPECT_EQ(halfWrites.load(), 0);
}

}  // namespace
