#include "tests/support/library_dir.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bootstrap/install.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

namespace {
std::string currentDirectory;
std::atomic<int> sequence{0};
char modulePath[4096];

uint32_t fakeModuleFileName(void* module, wchar_t* buffer, uint32_t capacity) {
  if (module == nullptr) return defaultPlatform().moduleFileName(module, buffer, capacity);
  return narrowToWide(modulePath, buffer, capacity);
}
}  // namespace

std::string useFreshLibraryDirectory() {
  char pattern[] = "/tmp/corvane-test-XXXXXX";
  currentDirectory = mkdtemp(pattern);
  std::string path = currentDirectory + "/corvane.dll";
  std::snprintf(modulePath, sizeof modulePath, "%s", path.c_str());
  ownModule = reinterpret_cast<void*>(&fakeModuleFileName);
  platform.moduleFileName = fakeModuleFileName;
  (void)sequence;
  return currentDirectory;
}

std::string libraryDirectory() { return currentDirectory; }

std::string readLogRaw() {
  std::ifstream in(currentDirectory + "/corvane.log", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> readLogLines() {
  std::vector<std::string> lines;
  std::string raw = readLogRaw();
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(raw.substr(start));
      break;
    }
    lines.push_back(raw.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void writeIni(const std::string& text) {
  std::ofstream out(currentDirectory + "/corvane.ini", std::ios::binary);
  out << text;
}

std::string pointerText(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}
