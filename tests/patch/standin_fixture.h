// A fresh stand-in host and library directory for each installer test.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "bootstrap/settings.h"
#include "patch/patch_sites.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"
#include "tests/support/native_standin.h"

using namespace corvane::bootstrap;
using namespace corvane::os;
using namespace corvane::patch;

// The bytes of every patch site and the 16 after it.
using SiteSnapshot = std::array<std::array<uint8_t, 48>, kPatchSiteCount>;

class StandInHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useFreshLibraryDirectory();
    base = useNativeStandInHost();
    ASSERT_NE(base, nullptr);
    settings = Settings{};
    settings.stabilizeFirstPersonHands = settings.worldTransforms = settings.cinematicTransforms = 1;
    settings.worldSkeletons = settings.firstPersonSkeletons = settings.cinematicSkeletons = 1;
    settings.shadowTransforms = 1;
  }
  void TearDown() override {
    resetPlatform();
    settings = Settings{};
  }
  uint8_t* site(size_t index) const { return base + patchSites[index].rva; }
  SiteSnapshot snapshot() const {
    SiteSnapshot s{};
    for (size_t i = 0; i < kPatchSiteCount; ++i) std::memcpy(s[i].data(), site(i), s[i].size());
    return s;
  }
  std::vector<std::string> log() const { return readLogLines(); }
  uint8_t* base = nullptr;
};
