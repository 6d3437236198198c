// hbcreate's checks before creation: the command line (a table of good and
// bad argument lists), the password read and kept only scrambled, the
// registry section and the home directory; and the program itself, which
// refuses bad input with exit status 1 and creates nothing.
#include "tools/hbcreate/create_args.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/hbcreate/tests/scratch_fixture.h"

namespace {

namespace fs = std::filesystem;

struct ArgCase {
  std::vector<std::string> args;
  bool ok;
  const char* says;  // part of the error
};

TEST(CreateArgs, CommandLines) {
  const ArgCase kCases[] = {
      {{"--home", "/d", "--password-stdin", "db1"}, true, ""},
      {{"--home", "/d", "--password-file", "/p", "--admin", "boss", "--logdb-units", "9", "Db1"},
       true,
       ""},
      {{"--password-stdin", "db1"}, false, "--home"},
      {{"--home", "/d", "db1"}, false, "exactly one of"},
      {{"--home", "/d", "--password-stdin", "--password-file", "/p", "db1"},
       false,
       "exactly one of"},
      {{"--home", "/d", "--password-stdin"}, false, "database name"},
      {{"--home", "/d", "--password-stdin", "a", "b"}, false, "database name"},
      {{"--home", "/d", "--password-stdin", "1db"}, false, "database name"},
      {{"--home", "/d", "--password-stdin", "d-b"}, false, "database name"},
      {{"--home", "/d", "--password", "secret", "db1"}, false, "never given in the arguments"},
      {{"--home", "/d", "--password=secret", "db1"}, false, "never given in the arguments"},
      {{"--home", "/d", "--home", "/e", "--password-stdin", "db1"}, false, "twice"},
      {{"--home", "/d", "--password-stdin", "--sysdb-units", "0", "db1"}, false, "units"},
      {{"--home", "/d", "--password-stdin", "--sysdb-units", "x1", "db1"}, false, "units"},
      {{"--home", "/d", "--password-stdin", "--sysdb-units", "99999999", "db1"}, false, "units"},
      {{"--home", "/d", "--password-stdin", "--admin", "", "db1"}, false, "--admin"},
      {{"--home", "/d", "--password-stdin", "--admin", std::string(129, 'A'), "db1"},
       false,
       "--admin"},
      {{"--home", "/d", "--password-stdin", "--sizes", "1", "db1"}, false, "unknown option"},
      {{"--home"}, false, "needs a value"},
  };
  for (const ArgCase& c : kCases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a.substr(0, 20) + " ";
    SCOPED_TRACE(joined);
    CreateOptions o;
    std::string error;
    EXPECT_EQ(ParseCreateArgs(c.args, &o, &error), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
  }
  CreateOptions o;
  std::string error;
  ASSERT_TRUE(ParseCreateArgs(
      {"--home", "/d", "--password-file", "/p", "--admin", "boss", "--logdb-units", "9", "Db1"}, &o,
      &error));
  EXPECT_EQ(o.database, "DB1");
  EXPECT_EQ(o.admin, "BOSS");
  EXPECT_EQ(o.password_file, "/p");
  EXPECT_EQ(o.logdb_units, 9);
  EXPECT_EQ(o.sysdb_units, kCreateDefaultUnits);
  ASSERT_TRUE(ParseCreateArgs({"--home", "/d", "--password-stdin", "db1"}, &o, &error));
  EXPECT_EQ(o.admin, "SYSADM");
}

TEST(CreateArgs, PasswordsOf1To18CharactersAreKeptOnlyScrambled) {
  const std::pair<std::string, bool> kCases[] = {
      {"x\n", true},
      {std::string(18, 'p') + "\n", true},
      {std::string(18, 'p') + "\r\n", true},
      {std::string(19, 'p') + "\n", false},
      {"\n", false},
      {"", false},
      // Blanks alone would be an empty password at the login, which pads
      // the password it is given with blanks.
      {"   \n", false},
      {"\t\n", true},
  };
  for (const auto& [text, ok] : kCases) {
    SCOPED_TRACE(text);
    std::istringstream in(text);
    uint8_t stored[kPasswordBytes] = {};
    std::string error;
    EXPECT_EQ(ReadScrambledPassword(in, "SYSADM", stored, &error), ok) << error;
    if (!ok) continue;
    std::string plain = text.substr(0, text.find_first_of("\r\n"));
    uint8_t password[kPasswordBytes], ident[kPasswordBytes], expected[kPasswordBytes];
    std::memset(password, ' ', sizeof password);
    std::memset(ident, ' ', sizeof ident);
    std::memcpy(password, plain.data(), plain.size());
    std::memcpy(ident, "SYSADM", 6);
    mdr_password_scramble_ident(expected, password, ident);
    EXPECT_EQ(std::memcmp(stored, expected, kPasswordBytes), 0);
    EXPECT_NE(std::memcmp(stored, password, kPasswordBytes), 0);
  }
}

class CreateTargetTest : public ScratchTest {
 protected:
  int Run(const std::string& args, const std::string& password) {
    std::ofstream(dir_ / "pw") << password;
    const std::string cmd = std::string(HBCREATE) + " " + args + " < " + (dir_ / "pw").string() +
                            " 2>" + (dir_ / "err").string();
    const int status = std::system(cmd.c_str());
    std::ifstream in(dir_ / "err");
    std::stringstream s;
    s << in.rdbuf();
    err_ = s.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string err_;
};

TEST_F(CreateTargetTest, AnExistingSectionOrANonEmptyHomeIsRefused) {
  CreateOptions o;
  o.database = "DB1";
  o.home = (dir_ / "home").string();
  std::string error;
  EXPECT_TRUE(CheckCreateTarget(o, &error)) << error;  // missing home
  fs::create_directories(o.home);
  EXPECT_TRUE(CheckCreateTarget(o, &error)) << error;  // empty home
  std::ofstream(fs::path(o.home) / "file") << "x";
  EXPECT_FALSE(CheckCreateTarget(o, &error));
  EXPECT_NE(error.find("not empty"), std::string::npos);
  fs::remove(fs::path(o.home) / "file");
  std::ofstream(registry_) << "[" << DatabaseRegistryKey("DB1") << "]\nDirectory=sz:/x\n";
  EXPECT_FALSE(CheckCreateTarget(o, &error));
  EXPECT_NE(error.find("registry"), std::string::npos);
  o.database = "DB2";
  EXPECT_TRUE(CheckCreateTarget(o, &error)) << error;
}

TEST_F(CreateTargetTest, TheProgramRefusesBadInputWithExit1AndCreatesNothing) {
  const std::string home = (dir_ / "home").string();
  EXPECT_EQ(Run("--home " + home + " --password-stdin db1", std::string(19, 'p') + "\n"), 1);
  EXPECT_NE(err_.find("1 to 18"), std::string::npos) << err_;
  EXPECT_EQ(Run("--home " + home + " --password secret db1", "x\n"), 1);
  EXPECT_NE(err_.find("never given"), std::string::npos) << err_;
  EXPECT_EQ(Run("--home " + home + " --password-file " + (dir_ / "none").string() + " db1", ""), 1);
  // A password file that cannot be read is named as such, not taken for an
  // empty password.
  fs::create_directories(dir_ / "folder");
  EXPECT_EQ(Run("--home " + home + " --password-file " + (dir_ / "folder").string() + " db1", ""),
            1);
  EXPECT_NE(err_.find("cannot read"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(home));
  EXPECT_FALSE(fs::exists(registry_));
}

}  // namespace
