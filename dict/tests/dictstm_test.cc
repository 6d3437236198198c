// hb_dictstm on statements that break a rule: each fails the build with the
// file and line of the statement, its name and the rule, exit status 1 and
// nothing written; the real statement files compile.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class DictstmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("dictstm_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Runs the compiler on the statement files; its exit status, stderr in *err.
  int Run(const std::vector<std::string>& texts, std::string* err) {
    std::string files;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const fs::path f = dir_ / ("s" + std::to_string(i) + ".dst");
      std::ofstream(f) << texts[i];
      files += " " + f.string();
    }
    return RunFiles(files, err);
  }
  int RunFiles(const std::string& files, std::string* err) {
    const std::string cmd = std::string(HB_DICTSTM) + " --catalog " + HB_CATALOG_DIR +
                            "/catalog.def --out " + (dir_ / "out").string() + files + " 2>" +
                            (dir_ / "err.txt").string();
    const int status = std::system(cmd.c_str());
    std::ifstream in(dir_ / "err.txt");
    std::stringstream s;
    s << in.rdbuf();
    *err = s.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Written() const { return fs::exists(dir_ / "out" / "stmt_images_gen.cc"); }
  fs::path dir_;
};

constexpr const char* kInsIdent = R"(statement DDInsIdent slot 44
  table I 14
  field NAMELEN int
  in I.IDENT_NAME NAMELEN I.IDENT_ID I.IDENT_TYPE I.PASSWORD I.INT_176
code
  insert I else present
  end 0
present: end 2
end
)";

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const std::size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

TEST_F(DictstmTest, TheStatementFilesCompile) {
  std::string files, err;
  for (const auto& e : fs::directory_iterator(HB_STMTS_DIR))
    if (e.path().extension() == ".dst") files += " " + e.path().string();
  EXPECT_EQ(RunFiles(files, &err), 0) << err;
  EXPECT_TRUE(Written());
  EXPECT_TRUE(fs::exists(dir_ / "out" / "zasm" / "DDInsIdent.zasm"));
  std::string good;
  EXPECT_EQ(Run({kInsIdent}, &good), 0) << good;
}

TEST_F(DictstmTest, EachBrokenRuleFailsNamingStatementAndRule) {
  struct Case {
    std::vector<std::string> files;
    std::string message;
  } cases[] = {
      {{Replace(kInsIdent, "slot 44", "slot 45")}, "DDInsIdent: slot 44 is its slot"},
      {{Replace(kInsIdent, " I.INT_176\n", "\n")}, "DDInsIdent: at least 6 parameters"},
      {{Replace(kInsIdent, "code\n", "  out I.IDENT_ID\ncode\n")}, "DDInsIdent: no result columns"},
      {{Replace(kInsIdent, "present: end 2", "present: end 3")}, "END 3 is not among 0, 2, -19007"},
      {{Replace(kInsIdent, "  insert I else present\n", "  get I else present\n")},
       "DDInsIdent: tables and what is done to them: 14:i"},
      {{Replace(kInsIdent, "  insert I else present\n",
                "  insert I else present\n  insert I else present\n")},
       "DDInsIdent: record program: insert 14 (the program does INS 14 INS 14)"},
      {{Replace(kInsIdent, "  end 0\n", "  back\n  end 0\n")}, "record program: insert 14"},
      {{kInsIdent, Replace(Replace(kInsIdent, "DDInsIdent", "DDInsSchema"), "slot 44", "slot 44")},
       "DDInsSchema: slot 44 is DDInsIdent's"},
      {{Replace(kInsIdent, "DDInsIdent", "DDNoSuchThing")},
       "DDNoSuchThing: a private statement without a rule"},
      {{Replace(Replace(kInsIdent, "  end 0\n", ""), "present: end 2", "present: goto present")},
       "DDInsIdent: the program has no END"},
      {{Replace(kInsIdent, "I.PASSWORD", "I.NO_SUCH")}, "block 'I' has no column NO_SUCH"},
      {{Replace(kInsIdent, "table I 14", "table I 2")}, "system table 2 is not in the catalog"},
      {{Replace(kInsIdent, "insert I else present", "insert I else nowhere")},
       "unknown label 'nowhere'"},
      {{Replace(kInsIdent, "code\n",
                "  field A byte 8000\n  field B byte 8000\n  field C byte 8000\n"
                "  field D byte 8000\n  field E byte 8000\n  field F byte 8000\n  in F\ncode\n")},
       "does not fit 16 bits"},
      {{Replace(kInsIdent, "  insert I else present\n",
                "  start I\n  scan I else present\n  start I\n  scan I else present\n"
                "  insert I else present\n")},
       "block 'I' is scanned twice"},
      {{kInsIdent + std::string("statement DDInsSchema slot 47 as DDNoSuch\n")},
       "no private statement DDNoSuch above"},
      {{kInsIdent + std::string("statement DDInsSchema slot 47 as DDInsIdent\n")},
       "DDInsSchema: tables and what is done to them: 13:i"},
  };
  for (const Case& c : cases) {
    std::string err;
    const int rc = Run(c.files, &err);
    EXPECT_EQ(rc, 1) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.message << "\ngot: " << err;
    EXPECT_NE(err.find(".dst:"), std::string::npos) << err;
    EXPECT_FALSE(Written()) << c.message;
  }
}

}  // namespace
