// The report schedule claimed from several threads at once: one report per due
// serial.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "diagnostics/report_schedule.h"

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

}  // namespace
