// A scratch directory of the test's own, with the registry file in it: the
// directory is made empty before each test and removed after, and
// ZAVOR_REGISTRY names "registry" in it while the test runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("hbcreate_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    registry_ = dir_ / "registry";
    const char* old = std::getenv("ZAVOR_REGISTRY");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("ZAVOR_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      ::setenv("ZAVOR_REGISTRY", old_.c_str(), 1);
    else
      ::unsetenv("ZAVOR_REGISTRY");
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_, registry_;
  bool had_ = false;
  std::string old_;
};
