#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootstrap/log.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

namespace {

std::mutex debugMutex;
std::string debugText;

void captureDebugOutput(const char* text) {
  std::lock_guard<std::mutex> lock(debugMutex);
  debugText += text;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetPlatform();
    useFreshLibraryDirectory();
    debugText.clear();
    platform.debugOutput = captureDebugOutput;
  }
  void TearDown() override { resetPlatform(); }
};

TEST_F(LogTest, WritesExactlyTheTextWithLineEnds) {
  LogMessage("Installed at RVA 0x%llX; %s.", 0xA395A6ull, "ok");
  LogMessage("second");
  EXPECT_EQ(readLogRaw(), "Installed at RVA 0xA395A6; ok.\r\nsecond\r\n");
  EXPECT_EQ(debugText, "Installed at RVA 0xA395A6; ok.\nsecond\n");
}

TEST_F(LogTest, LongMessageIsCutAt1023Characters) {
  std::string longText(2000, 'x');
  longText[1022] = 'E';
  LogMessage("%s", longText.c_str());
  std::string expected(1023, 'x');
  expected[1022] = 'E';
  EXPECT_EQ(readLogRaw(), expected + "\r\n");
}

TEST_F(LogTest, AppendsToWhatEarlierRunsWrote) {
  LogMessage("first run");
  LogMessage("second run");
  EXPECT_EQ(readLogLines(), (std::vector<std::string>{"first run", "second run"}));
}

TEST_F(LogTest, UnwritableDirectoryStillReachesTheDebugger) {
  platform.moduleFileName = [](void*, wchar_t* buffer, uint32_t capacity) -> uint32_t {
    const wchar_t path[] = L"/nonexistent-corvane-dir/sub/corvane.dll";
    std::wcsncpy(buffer, path, capacity);
    return static_cast<uint32_t>(std::wcslen(path));
  };
  LogMessage("still seen");
  EXPECT_EQ(debugText, "still seen\n");
}

TEST_F(LogTest, PathTooLongSkipsTheFileOnly) {
  platform.moduleFileName = [](void*, wchar_t* buffer, uint32_t capacity) -> uint32_t {
    std::wstring path = L"/tmp/" + std::wstring(250, L'd') + L"/corvane.dll";  // fits 260, the log name does not
    std::wcsncpy(buffer, path.c_str(), capacity);
    return static_cast<uint32_t>(std::min<size_t>(path.size(), capacity));
  };
  LogMessage("no file");
  EXPECT_EQ(debugText, "no file\n");
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) LogMessage("thread %d line %03d %s", t, i, "payload-payload-payload");
    });
  for (auto& thread : threads) thread.join();
  std::vector<std::string> lines = readLogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> seen(kThreads * kLines, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    char tail[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %63s", &t, &i, tail), 3) << line;
    ASSERT_STREQ(tail, "payload-payload-payload") << line;
    ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kLines) << line;
    seen[t * kLines + i] += 1;
  }
  for (int count : seen) EXPECT_EQ(count, 1);
}

}  // namespace
