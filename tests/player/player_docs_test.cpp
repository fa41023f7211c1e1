// What ships beside the DLL must explain the product as it is: every start-up
// line the product can log is explained in README-player.txt, and every
// setting the product reads is present, commented and at its default in
// corvane.ini.
// GCC 12 reports a false -Wmaybe-uninitialized inside libstdc++'s <regex>
// when built with the sanitizers.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <regex>

#include "bootstrap/settings.h"
#include "platform/platform.h"
#include "source_scan.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

namespace {

const std::string kRoot = CORVANE_SOURCE_DIR;
const std::vector<std::string> kProductFolders = {"bootstrap", "patch",    "camera",      "math",    "world",
                                                  "shadow",    "skeletal", "diagnostics", "platform"};

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Literals that read as start-up lines even when they are not written as the
// direct argument of LogMessage (a table of messages, a helper's parameter).
bool looksLikeStartupLine(const std::string& text) {
  return startsWith(text, "Installed ") || startsWith(text, "Applied ") || startsWith(text, "Configuration: ") ||
         startsWith(text, "F10: ") || endsWith(text, "not installed.") || endsWith(text, "by configuration.");
}

bool hasWords(const std::string& format) {
  return std::regex_search(format, std::regex("[A-Za-z]{2,}")) &&
         !std::regex_match(format, std::regex("(%[-+ #0-9.*]*[hlLzjt]*[a-zA-Z]|[^A-Za-z])*"));
}

struct FoundFormat {
  std::string file;
  std::string format;
};

// The formats of every line a player can meet: all of LogMessage's formats
// except the periodic diagnostic reports, which carry "frame=".
std::vector<FoundFormat> startupLogFormats() {
  std::vector<FoundFormat> found;
  for (const std::string& file : productSourceFiles(kRoot, kProductFolders)) {
    const std::vector<SourceToken> tokens = scanSource(readWholeFile(file));
    for (size_t i = 0; i < tokens.size(); ++i) {
      const SourceToken& t = tokens[i];
      if (t.kind != SourceToken::text) continue;
      const bool direct = i >= 2 && tokens[i - 2].kind == SourceToken::word && tokens[i - 2].value == "LogMessage" &&
                          tokens[i - 1].value == "(";
      if (!direct && !looksLikeStartupLine(t.value)) continue;
      if (t.value.find("frame=") != std::string::npos || !hasWords(t.value)) continue;
      found.push_back({file.substr(kRoot.size() + 1), t.value});
    }
  }
  return found;
}

TEST(SourceScan, JoinsAdjacentLiteralsAndSkipsComments) {
  const std::vector<SourceToken> tokens = scanSource(
      "// LogMessage(\"commented out\");\n"
      "#include <cstdio>\n"
      "void f() { LogMessage(\"Installed \\\"x\\\" at \" /* gap */ \"RVA 0x%llX.\"\n  L\"%u\", 'a', v); }\n");
  std::vector<std::string> texts;
  for (const SourceToken& t : tokens) {
    if (t.kind == SourceToken::text) texts.push_back(t.value);
  }
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "Installed \"x\" at RVA 0x%llX.%u");
}

TEST(SourceScan, FormatPatternTreatsConversionsAsWildcards) {
  const std::regex pattern(formatPattern("Hook at RVA 0x%llX (first=%u, x=%.3f, y=%5.1f) %s 100%%."));
  EXPECT_TRUE(std::regex_search("  Hook at RVA 0x3ACD00 (first=1, x=0.250, y=  2.5) enabled 100%.\n", pattern));
  EXPECT_TRUE(std::regex_search("Hook at RVA 0x%llX (first=%u, x=%.3f, y=%5.1f) %s 100%.", pattern));
  EXPECT_FALSE(std::regex_search("Hook at RVA 0x3ACD00 (first=1, x=0.250 y=2.5) enabled 100%.", pattern));
  EXPECT_FALSE(std::regex_search("Hook at RVA 0x3ACD00 (first=1,\nx=0.250, y=2.5) enabled 100%.", pattern));
}

TEST(PlayerReadme, ExplainsEveryStartupLineTheProductLogs) {
  const std::string readme = readWholeFile(kRoot + "/packaging/README-player.txt");
  ASSERT_FALSE(readme.empty());
  const std::vector<FoundFormat> formats = startupLogFormats();
  // The scanner must see the product's logging at all, or this test proves nothing.
  bool sawConfiguration = false;
  bool sawRefusal = false;
  for (const FoundFormat& f : formats) {
    sawConfiguration = sawConfiguration || startsWith(f.format, "Configuration: ");
    sawRefusal = sawRefusal || endsWith(f.format, "not installed.");
    EXPECT_TRUE(std::regex_search(readme, std::regex(formatPattern(f.format))))
        << f.file << " logs a line that README-player.txt does not explain:\n  " << f.format;
  }
  EXPECT_TRUE(sawConfiguration);
  EXPECT_TRUE(sawRefusal);
}

struct SettingKey {
  std::string section;
  std::string key;
  int fallback;
};

// The settings table of the product: {L"Section", L"Key", default, ...}.
std::vector<SettingKey> productSettingKeys() {
  std::vector<SettingKey> keys;
  const std::vector<SourceToken> t = scanSource(readWholeFile(kRoot + "/bootstrap/settings.cpp"));
  for (size_t i = 0; i + 5 < t.size(); ++i) {
    if (t[i].value == "{" && t[i + 1].kind == SourceToken::text && t[i + 2].value == "," &&
        t[i + 3].kind == SourceToken::text && t[i + 4].value == "," && t[i + 5].kind == SourceToken::word &&
        std::isdigit(static_cast<unsigned char>(t[i + 5].value[0]))) {
      keys.push_back({t[i + 1].value, t[i + 3].value, std::stoi(t[i + 5].value)});
    }
  }
  return keys;
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

TEST(PlayerIni, EveryKeyIsPresentCommentedAndAtItsDefault) {
  const std::vector<SettingKey> keys = productSettingKeys();
  ASSERT_EQ(keys.size(), sizeof(Settings)) << "one key per switch of Settings";
  const std::string iniPath = kRoot + "/corvane.ini";
  const std::vector<std::string> iniLines = lines(readWholeFile(iniPath));
  const std::string readme = readWholeFile(kRoot + "/packaging/README-player.txt");

  for (const SettingKey& k : keys) {
    // The product's own reader finds the key in its section with the default value.
    const int unlikely = -12345;
    EXPECT_EQ(platform.readIniInt(wide(k.section).c_str(), wide(k.key).c_str(), unlikely, wide(iniPath).c_str()),
              k.fallback)
        << "[" << k.section << "] " << k.key;

    // The comment right above the key line names the key and its default.
    std::string section;
    bool found = false;
    for (size_t i = 0; i < iniLines.size(); ++i) {
      if (startsWith(iniLines[i], "[")) section = iniLines[i];
      if (!startsWith(iniLines[i], k.key + "=")) continue;
      found = true;
      EXPECT_EQ(section, "[" + k.section + "]") << k.key;
      std::string comment;
      for (size_t j = i; j-- > 0 && startsWith(iniLines[j], ";");) comment = iniLines[j] + "\n" + comment;
      EXPECT_NE(comment.find(k.key), std::string::npos) << "no comment above " << k.key;
      EXPECT_NE(comment.find("Default: " + std::to_string(k.fallback)), std::string::npos)
          << "the comment above " << k.key << " does not give its default";
    }
    EXPECT_TRUE(found) << k.key;
    EXPECT_NE(readme.find(k.key), std::string::npos) << "README-player.txt does not name " << k.key;
  }

  // No key in the file that the product does not read (a misspelt key is
  // silently ignored and the player wonders why nothing changes).
  for (const std::string& line : iniLines) {
    if (line.empty() || startsWith(line, ";") || startsWith(line, "[")) continue;
    const std::string key = line.substr(0, line.find('='));
    bool known = false;
    for (const SettingKey& k : keys) known = known || k.key == key;
    EXPECT_TRUE(known) << "corvane.ini sets " << key << ", which the product does not read";
  }
}

}  // namespace
