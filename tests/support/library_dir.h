// Test fixture support: a private directory that stands for the library's own
// folder, so corvane.ini and corvane.log of a test live there.
#pragma once
#include <string>
#include <vector>

// Creates a fresh directory, points the own-module path of the platform at
// "<dir>/corvane.dll" and returns the directory.
std::string useFreshLibraryDirectory();
std::string libraryDirectory();
// The lines of corvane.log without their "\r\n"; the raw text with `raw`.
std::vector<std::string> readLogLines();
std::string readLogRaw();
void writeIni(const std::string& text);
// An address as the log writes it.
std::string pointerText(const void* p);
