// A small C++ token scanner for reading the product's own sources in tests:
// the log formats it passes to LogMessage and the keys of its settings table.
#pragma once
#include <string>
#include <vector>

struct SourceToken {
  enum Kind { word, text, punct } kind;
  std::string value;  // a string token holds its adjacent literals joined, escapes decoded
};

// Comments are skipped; adjacent string literals ("a" "b") become one token;
// encoding prefixes (L, u8, u, U) belong to the literal that follows.
std::vector<SourceToken> scanSource(const std::string& source);

std::string readWholeFile(const std::string& path);
// Every .cpp and .h file under the given folders of the source tree, sorted.
std::vector<std::string> productSourceFiles(const std::string& root, const std::vector<std::string>& folders);

// A regular expression that matches the text a printf format produces: the
// literal parts exactly, each conversion as any run of characters on one line.
std::string formatPattern(const std::string& format);
