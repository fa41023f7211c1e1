#include "source_scan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads a quoted literal starting at source[i] == quote; returns its decoded
// contents and leaves i after the closing quote.
std::string readQuoted(const std::string& s, size_t& i) {
  const char quote = s[i++];
  std::string value;
  while (i < s.size() && s[i] != quote && s[i] != '\n') {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char e = s[i + 1];
      value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      i += 2;
      continue;
    }
    value += s[i++];
  }
  ++i;
  return value;
}

// Skips spaces and comments; returns false at the end.
bool skipSpace(const std::string& s, size_t& i) {
  for (;;) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (s.compare(i, 2, "//") == 0) {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.compare(i, 2, "/*") == 0) {
      const size_t end = s.find("*/", i + 2);
      i = end == std::string::npos ? s.size() : end + 2;
    } else if (s.compare(i, 8, "#include") == 0) {
      // <file> names are no code to scan.
      while (i < s.size() && s[i] != '\n') ++i;
    } else {
      return i < s.size();
    }
  }
}

bool isPrefixOfLiteral(const std::string& word, const std::string& s, size_t next) {
  return next < s.size() && s[next] == '"' && (word == "L" || word == "u8" || word == "u" || word == "U");
}

}  // namespace

std::vector<SourceToken> scanSource(const std::string& s) {
  std::vector<SourceToken> tokens;
  size_t i = 0;
  while (skipSpace(s, i)) {
    const char c = s[i];
    if (isWordChar(c)) {
      size_t end = i;
      while (end < s.size() && isWordChar(s[end])) ++end;
      const std::string word = s.substr(i, end - i);
      i = end;
      if (!isPrefixOfLiteral(word, s, i)) tokens.push_back({SourceToken::word, word});
      continue;
    }
    if (c == '\'') {
      readQuoted(s, i);
      tokens.push_back({SourceToken::punct, "'"});
      continue;
    }
    if (c == '"') {
      std::string joined = readQuoted(s, i);
      // Adjacent literals, possibly with prefixes, are one string.
      for (;;) {
        size_t next = i;
        if (!skipSpace(s, next)) break;
        size_t quote = next;
        while (quote < s.size() && isWordChar(s[quote])) ++quote;
        if (quote != next && !isPrefixOfLiteral(s.substr(next, quote - next), s, quote)) break;
        if (quote >= s.size() || s[quote] != '"') break;
        i = quote;
        joined += readQuoted(s, i);
      }
      tokens.push_back({SourceToken::text, joined});
      continue;
    }
    tokens.push_back({SourceToken::punct, std::string(1, c)});
    ++i;
  }
  return tokens;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> productSourceFiles(const std::string& root, const std::vector<std::string>& folders) {
  std::vector<std::string> files;
  for (const std::string& folder : folders) {
    const std::filesystem::path dir = std::filesystem::path(root) / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string formatPattern(const std::string& format) {
  static const std::string special = R"(\^$.|?*+()[]{}/)";
  std::string pattern;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        pattern += '%';
        ++i;
        continue;
      }
      // flags, width, precision, length, conversion
      size_t j = i + 1;
      while (j < format.size() && std::string("-+ #0").find(format[j]) != std::string::npos) ++j;
      while (j < format.size() && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '*')) ++j;
      if (j < format.size() && format[j] == '.') {
        ++j;
        while (j < format.size() && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '*')) ++j;
      }
      while (j < format.size() && std::string("hlLzjtq").find(format[j]) != std::string::npos) ++j;
      if (j < format.size() && std::isalpha(static_cast<unsigned char>(format[j]))) {
        pattern += "[^\\n]*?";
        i = j;
        continue;
      }
    }
    if (special.find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}
