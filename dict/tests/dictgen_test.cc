// hb_dictgen on broken definitions: each rule of the catalog definition,
// broken once in a copy of the real catalog.def, fails the generator with
// the file and line of the fault, exit status 1 and no file written; the
// unbroken copy generates.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DictgenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("dictgen_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
    catalog_ = Slurp(fs::path(HB_CATALOG_DIR) / "catalog.def");
    messages_ = Slurp(fs::path(HB_CATALOG_DIR) / "messages.def");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the generator on the texts; its exit status, stderr in *err.
  int Run(const std::string& catalog, const std::string& messages, std::string* err) {
    std::ofstream(dir_ / "catalog.def") << catalog;
    std::ofstream(dir_ / "messages.def") << messages;
    const std::string cmd = std::string(HB_DICTGEN) + " --catalog " +
                            (dir_ / "catalog.def").string() + " --messages " +
                            (dir_ / "messages.def").string() + " --out " + (dir_ / "out").string() +
                            " 2>" + (dir_ / "err.txt").string();
    const int status = std::system(cmd.c_str());
    *err = Slurp(dir_ / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Written() const {
    return fs::exists(dir_ / "out" / "catalog_gen.h") ||
           fs::exists(dir_ / "out" / "catalog_gen.cc");
  }
  // The line number (from 1) of the first line of `text` holding `what`.
  static int LineOf(const std::string& text, const std::string& what) {
    const std::size_t at = text.find(what);
    return at == std::string::npos
               ? 0
               : 1 + static_cast<int>(std::count(text.begin(), text.begin() + at, '\n'));
  }

  fs::path dir_;
  std::string catalog_, messages_;
};

TEST_F(DictgenTest, TheRealDefinitionGenerates) {
  std::string err;
  EXPECT_EQ(Run(catalog_, messages_, &err), 0) << err;
  EXPECT_TRUE(fs::exists(dir_ / "out" / "catalog_gen.h"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "catalog_gen.cc"));
}

struct Break {
  const char* name;
  const char* from;  // a line of catalog.def, replaced by `to`
  const char* to;
  const char* says;  // part of the message
};

TEST_F(DictgenTest, EachBrokenRuleFailsWithFileAndLine) {
  const Break kCases[] = {
      {"gap", "  col 7 int BASE_OBJECT_ID", "  col 8 int BASE_OBJECT_ID", "gap"},
      {"overlap", "  col 7 int BASE_OBJECT_ID", "  col 6 int BASE_OBJECT_ID", "overlapping"},
      {"short row", "  col 7 int BASE_OBJECT_ID", "  col 7 int5 BASE_OBJECT_ID", "cover"},
      {"past the record", "  col 7 int BASE_OBJECT_ID", "  col 7 int64 BASE_OBJECT_ID", "past"},
      {"key off a boundary", "table 12 OBJECT_LINKS key 7 record 14",
       "table 12 OBJECT_LINKS key 8 record 14", "boundary"},
      {"stated key disagrees", "index 70 INDEX key 14 entry 14", "index 70 INDEX key 15 entry 15",
       "index 70"},
      {"stated entry disagrees", "index 77 UNIQUE key 157 entry 160",
       "index 77 UNIQUE key 157 entry 157", "index 77"},
      {"unknown key column", "index 64 INDEX IDENT_ID", "index 64 INDEX IDENT_NO", "IDENT_NO"},
      {"number used twice", "index 64 INDEX IDENT_ID", "index 60 INDEX IDENT_ID", "already used"},
      {"unknown form", "  col 7 int BASE_OBJECT_ID", "  col 7 word BASE_OBJECT_ID", "form"},
      {"bad name", "  col 7 int BASE_OBJECT_ID", "  col 7 int base", "name"},
      {"column twice", "  col 7 int BASE_OBJECT_ID", "  col 7 int OBJECT_ID", "twice"},
      {"record past the kernel's largest", "table 12 OBJECT_LINKS key 7 record 14",
       "table 12 OBJECT_LINKS key 7 record 16001", "16000"},
      {"trailing inside a column", "constraint 76 trailing 186", "constraint 76 trailing 187",
       "trailing"},
  };
  for (const Break& b : kCases) {
    SCOPED_TRACE(b.name);
    std::string text = catalog_;
    const std::size_t at = text.find(b.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, std::strlen(b.from), b.to);
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    std::string err;
    EXPECT_EQ(Run(text, messages_, &err), 1);
    EXPECT_FALSE(Written());
    const std::string where = "catalog.def:";
    ASSERT_NE(err.find(where), std::string::npos) << err;
    // Faults of one line name it; faults of a whole table name its head.
    const int line = std::stoi(err.substr(err.find(where) + where.size()));
    const int changed = LineOf(text, b.to);
    std::string table_head = text.substr(0, text.find(b.to));
    const int head = LineOf(text, table_head.substr(table_head.rfind("\ntable ") + 1, 10));
    EXPECT_TRUE(line == changed || line == head) << err;
    EXPECT_NE(err.find(b.says), std::string::npos) << err;
  }
}

TEST_F(DictgenTest, ADescriptionPastTheLoadersAreaFails) {
  // 70 one-column indexes: 9 + 70 x 18 + 1 words, over 1250.
  std::string table =
      "table 900 WIDE key 7 record 14 constraint 901\n  col 0 int A\n  col 7 int B\n";
  for (int i = 0; i < 70; ++i) table += "  index " + std::to_string(1000 + i) + " INDEX B\n";
  table += "end\n";
  std::string err;
  EXPECT_EQ(Run(catalog_ + table, messages_, &err), 1);
  EXPECT_FALSE(Written());
  EXPECT_NE(err.find("catalog.def:" + std::to_string(LineOf(catalog_ + table, "table 900"))),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("1250"), std::string::npos) << err;
}

TEST_F(DictgenTest, BrokenMessagesFailWithFileAndLine) {
  const std::string long_line(81, 'x');
  const std::pair<std::string, std::string> kCases[] = {
      {"message 1 -1 3 \"" + long_line + "\"\n", "80"},
      {"message 2 -1 3 \"text\"\n", "undefined source"},
      {"message 1 -18001 3 \"again\"\n", "twice"},
      {"message 1 -1 3 unquoted\n", "quoted"},
      {"message 1 -1 3 \"open\n", "unterminated"},
  };
  for (const auto& [line, says] : kCases) {
    SCOPED_TRACE(line);
    const std::string text = messages_ + line;
    std::string err;
    EXPECT_EQ(Run(catalog_, text, &err), 1);
    EXPECT_FALSE(Written());
    EXPECT_NE(err.find("messages.def:" + std::to_string(LineOf(text, line))), std::string::npos)
        << err;
    EXPECT_NE(err.find(says), std::string::npos) << err;
  }
}

TEST_F(DictgenTest, ATableWithoutEndAndAMissingFileFail) {
  std::string err;
  EXPECT_EQ(Run(catalog_ + "table 901 OPEN key 7 record 7 constraint 902\n  col 0 int A\n",
                messages_, &err),
            1);
  EXPECT_NE(err.find("no end"), std::string::npos) << err;
  const std::string cmd = std::string(HB_DICTGEN) + " --catalog " + (dir_ / "none.def").string() +
                          " --messages " + (dir_ / "none.def").string() + " --out " +
                          (dir_ / "out").string() + " 2>/dev/null";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(Written());
}

}  // namespace
