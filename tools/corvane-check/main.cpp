// corvane-check: tells a player whether a Dishonored2.exe is the build that
// corvane.dll patches, before they install anything.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "corvane_version.h"
#include "host_check.h"
#include "host_digest.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr uint8_t kExpectedHostDigest[32] = CORVANE_HOST_DIGEST_INITIALIZER;

void printUsage(std::ostream& out) {
  out << "Usage: corvane-check [path of Dishonored2.exe]\n"
         "       corvane-check --version\n"
         "Checks that the file is Dishonored2.exe of GOG 1.77.9.0, the only build Corvane patches.\n"
         "Without a path it checks Dishonored2.exe in the current folder.\n"
         "Exit code: 0 supported; 1 another build; 2 file missing or unreadable;\n"
         "3 not a 64-bit Windows program or damaged; 64 wrong arguments.\n";
}

template <typename Char>
int run(int argc, Char** argv) {
  std::filesystem::path path = "Dishonored2.exe";
  if (argc > 2) {
    printUsage(std::cerr);
    return kExitUsage;
  }
  if (argc == 2) {
    const std::basic_string<Char> argument = argv[1];
    if (argument == std::basic_string<Char>{'-', 'h'} ||
        argument == std::basic_string<Char>{'-', '-', 'h', 'e', 'l', 'p'} ||
        argument == std::basic_string<Char>{'/', '?'}) {
      printUsage(std::cout);
      return kExitUsage;
    }
    if (argument == std::basic_string<Char>{'-', '-', 'v', 'e', 'r', 's', 'i', 'o', 'n'}) {
      std::cout << "corvane-check " CORVANE_VERSION "\n";
      return 0;
    }
    path = argument;
  }
  std::cout << "corvane-check " CORVANE_VERSION ": is this the Dishonored2.exe that Corvane supports?\n";
#if CORVANE_TEST_DIGEST_BUILD
  std::cout << "TEST BUILD: this checker expects a stand-in host, not the real game.\n";
#endif
  const std::u8string shown = path.u8string();
  return runHostCheck(path, std::string(shown.begin(), shown.end()), kExpectedHostDigest, std::cout);
}

#if defined(_WIN32)
// Started by a double click or a drop onto the .exe, the console window would
// close before the player can read it; wait for Enter in that case only.
void holdConsoleIfOwned() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  std::cout << "\nPress Enter to close this window." << std::flush;
  std::cin.get();
}
#endif

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  const int code = run(argc, argv);
  holdConsoleIfOwned();
  return code;
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
