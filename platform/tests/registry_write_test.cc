// The registry writer: a section added is read back by the reader with its
// values, the sections already there survive, an existing section is never
// written over, and values that cannot be one line are refused with the
// file unchanged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

class RegistryWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("registry_write_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    file_ = dir_ / "sub" / "registry";  // the folder is made by the writer
    const char* old = std::getenv("ZAVOR_REGISTRY");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("ZAVOR_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      ::setenv("ZAVOR_REGISTRY", old_.c_str(), 1);
    else
      ::unsetenv("ZAVOR_REGISTRY");
    fs::remove_all(dir_);
  }
  std::string Text() const {
    std::ifstream in(file_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static RegistryValue Sz(const std::string& s) {
    RegistryValue v;
    v.type = RegistryValue::kString;
    v.text = s;
    return v;
  }
  static RegistryValue Dword(uint32_t d) {
    RegistryValue v;
    v.type = RegistryValue::kDword;
    v.dword = d;
    return v;
  }
  fs::path dir_, file_;
  bool had_ = false;
  std::string old_;
};

TEST_F(RegistryWriteTest, SectionsAddedReadBackAndEarlierOnesSurvive) {
  const std::string db1 = std::string(REG_SQLHOSTS_KEY) + "\\DB1";
  const std::string db2 = std::string(REG_SQLHOSTS_KEY) + "\\DB2";
  std::string error;
  ASSERT_TRUE(
      registry_add_section(db1, {{"Directory", Sz("/srv/db1")}, {"Users", Dword(100)}}, &error))
      << error;
  EXPECT_EQ(fs::status(file_.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  ASSERT_TRUE(registry_add_section(db2, {{"Directory", Sz("/srv/db 2")}}, &error)) << error;
  EXPECT_EQ(registry_read_value(db1, "Directory").text, "/srv/db1");
  EXPECT_EQ(registry_read_value(db1, "users").dword, 100u);
  EXPECT_EQ(registry_read_value(db2, "Directory").text, "/srv/db 2");
  EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
}

TEST_F(RegistryWriteTest, AnExistingSectionOrABadValueChangesNothing) {
  const std::string db1 = std::string(REG_SQLHOSTS_KEY) + "\\DB1";
  std::string error;
  ASSERT_TRUE(registry_add_section(db1, {{"Directory", Sz("/a")}}, &error)) << error;
  const std::string before = Text();
  // The same key in another case is the same section.
  EXPECT_FALSE(registry_add_section(std::string(REG_SQLHOSTS_KEY) + "\\db1",
                                    {{"Directory", Sz("/b")}}, &error));
  EXPECT_NE(error.find("exists"), std::string::npos);
  const std::string db3 = std::string(REG_SQLHOSTS_KEY) + "\\DB3";
  EXPECT_FALSE(registry_add_section(db3, {{"Directory", Sz("/x\n[Other]")}}, &error));
  // A text ending in a blank or tab would read back without it.
  EXPECT_FALSE(registry_add_section(db3, {{"Directory", Sz("/srv/db ")}}, &error));
  EXPECT_FALSE(registry_add_section(db3, {{"Directory", Sz("/srv/db\t")}}, &error));
  EXPECT_FALSE(registry_add_section(db3, {{"Dir=ectory", Sz("/x")}}, &error));
  EXPECT_FALSE(registry_add_section(db3, {{"Directory", RegistryValue{}}}, &error));
  EXPECT_FALSE(registry_add_section("A]\n[B", {}, &error));
  EXPECT_EQ(Text(), before);
  EXPECT_FALSE(registry_key_exists(db3));
}

}  // namespace
