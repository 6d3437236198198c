// The host-service seam: installed services receive the calls, the default
// ones write lines and messages, read the registry file, and the server
// exception carries its reason.
#include "platform/host_services.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace {

struct CapturingServices : HostServices {
  std::vector<std::string> lines;
  struct Message {
    uint32_t title, id;
    std::vector<std::string> inserts;
    bool operator==(const Message&) const = default;
  };
  std::vector<Message> messages;
  bool capture_messages = true;
  int32_t nt = 0;

  void write_line(const char* text, int length) override { lines.emplace_back(text, length); }
  void write_message(uint32_t title, uint32_t id, const std::vector<std::string>& in) override {
    if (capture_messages)
      messages.push_back({title, id, in});
    else
      HostServices::write_message(title, id, in);
  }
  int32_t is_nt() override { return nt; }
};

class Captured : public ::testing::Test {
 protected:
  Captured() : previous_(InstallHostServices(&capture)) {}
  ~Captured() override { InstallHostServices(previous_); }
  CapturingServices capture;

 private:
  HostServices* previous_;
};

// A temporary directory that is removed again.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/hb_host_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf " + path_).c_str()); }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST_F(Captured, OutputCountsLinesAndEmptyLine) {
  // The default output is checked where it lands: the log file.
  TempDir dir;
  std::string log = dir.file("ZAVOR.LOG");
  InstallHostServices(nullptr);
  ASSERT_TRUE(OpenServerLogFile(log));
  StatusPair st{5, 5};
  const char area[] = "first\0second\0third";
  WriteServerOutput(&st, 3, area, 2);
  WriteServerOutput(&st, 7, "as it stands", -1);
  WriteServerOutput(&st, 1, area, -3);
  WriteServerLine("..line..", 2, 4);
  WriteServerLine("never", -1, 3);
  WriteServerLine("never", 0, -1);
  ASSERT_TRUE(OpenServerLogFile(""));
  InstallHostServices(&capture);
  EXPECT_EQ(st.rc, 0);
  EXPECT_EQ(st.os_status, -1);
  std::ifstream in(log);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), "first\nsecond\n\nas it stands\nfirst\nsecond\nthird\nline\n");
}

TEST_F(Captured, OsErrorMessagesKeepLastError) {
  errno = EACCES;
  msg_os_error(MSG_TITLE_FATAL, 0xC0000454, "TlsGetValue", "mdrenq", nullptr);
  EXPECT_EQ(errno, EACCES);
  msg_os_error(MSG_TITLE_FATAL, 0xC0000455, "SetEvent", "wakelist", "3");
  errno = 9999;
  msg_os_error(MSG_TITLE_FATAL, 0xC0000460, "TlsAlloc", nullptr, nullptr);
  EXPECT_EQ(errno, 9999);
  errno = ENOMEM;
  msg_os_error_number(MSG_TITLE_WARNING, 0x80000452, "CreateEvent", -7);
  EXPECT_EQ(errno, ENOMEM);
  msg_number(MSG_TITLE_INTERNAL, 0xC0000456, 42);
  msg_two_numbers(MSG_TITLE_INTERNAL, 0xC0000461, -1, 2147483647);
  const std::string eacces = strerror(EACCES);
  std::vector<CapturingServices::Message> expected = {
      {MSG_TITLE_FATAL, 0xC0000454, {"mdrenq", "TlsGetValue: " + eacces}},
      {MSG_TITLE_FATAL, 0xC0000455, {"wakelist", "3", "SetEvent: " + eacces}},
      {MSG_TITLE_FATAL, 0xC0000460, {"TlsAlloc: error code 9999"}},
      {MSG_TITLE_WARNING, 0x80000452, {"-7", "CreateEvent: " + std::string(strerror(ENOMEM))}},
      {MSG_TITLE_INTERNAL, 0xC0000456, {"42"}},
      {MSG_TITLE_INTERNAL, 0xC0000461, {"-1", "2147483647"}},
  };
  EXPECT_EQ(capture.messages, expected);
}

TEST_F(Captured, DefaultMessageWritesTitleAndTextLines) {
  capture.capture_messages = false;
  errno = EBADF;
  msg_os_error(MSG_TITLE_FATAL, 0xC0000454, "WaitForSingleObject", "wait_semid", nullptr);
  ASSERT_EQ(capture.lines.size(), 3u);
  EXPECT_EQ(capture.lines[0].rfind("Zavor Server Fatal Error 1108, ", 0), 0u) << capture.lines[0];
  EXPECT_EQ(capture.lines[1], "      Unexpected error when waiting for semaphore (in wait_semid)");
  EXPECT_EQ(capture.lines[2], "'WaitForSingleObject: " + std::string(strerror(EBADF)) + "'");
}

TEST_F(Captured, OperatingSystemFamilyAndVersion) {
  EXPECT_EQ(mdr_is_nt(), 0);
  capture.nt = 1;
  EXPECT_EQ(mdr_is_nt(), 1);
  InstallHostServices(nullptr);
  EXPECT_EQ(mdr_is_nt(), 0);
  OsVersionInfo v;
  ASSERT_TRUE(mdr_get_version_ex(&v));
  EXPECT_EQ(v.platform_id, 1);
  EXPECT_GT(v.major, 0);
  OsVersionInfo wrong;
  wrong.size = 100;
  errno = 0;
  EXPECT_FALSE(mdr_get_version_ex(&wrong));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(mdr_get_version_ex(nullptr));
  CommChannelInfo info = comm_channel_info(3);
  EXPECT_EQ(info.type, 0);
  EXPECT_EQ(info.node_length, 0);
  EXPECT_FALSE(info.local);
  InstallHostServices(&capture);
}

TEST(HostServices, RaiseServerExceptionCarriesReason) {
  try {
    RaiseServerException(22);
    FAIL() << "RaiseServerException returned";
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 22);
    EXPECT_STREQ(e.what(), "server exception, reason 22");
  }
}

// The default services on a registry file of the test's own.
class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("ZAVOR_REGISTRY");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    path_ = dir_.file("registry");
    setenv("ZAVOR_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    if (had_old_)
      setenv("ZAVOR_REGISTRY", old_.c_str(), 1);
    else
      unsetenv("ZAVOR_REGISTRY");
  }
  void write(const std::string& text) { std::ofstream(path_) << text; }

 private:
  TempDir dir_;
  std::string path_, old_;
  bool had_old_ = false;
};

TEST_F(RegistryFile, VersionKeyDwords) {
  write(
      "; installation\r\n"
      "[software\\zavor\\zavor sql\\9.1\\]\r\n"
      "PathName=sz:/opt/zavor/\r\n"
      "  ioBuffering = dword:1\r\n"
      "Hex=dword:0xFFFFFFFF\n"
      "Big=dword:4294967296\n"
      "Word=dword:12x\n"
      "Text=sz:12\n"
      "Later=dword:5\n"
      "Later=dword:6\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\9.1\\TCP]\n"
      "Port=dword:1360\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\9.1X]\n"
      "IoBuffering=dword:2\n");
  struct Case {
    const char* subkey;
    const char* name;
    bool found;
    uint32_t value;
  } cases[] = {
      {"", "IoBuffering", true, 1},     {nullptr, "IOBUFFERING", true, 1},
      {"", "Hex", true, 0xFFFFFFFF},    {"", "Big", false, 0},
      {"", "Word", false, 0},           {"", "Text", false, 0},
      {"", "PathName", false, 0},       {"", "Missing", false, 0},
      {"", "Later", true, 6},           {"TCP", "Port", true, 1360},
      {"TCP", "IoBuffering", false, 0}, {"UDP", "Port", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t value = 77;
    EXPECT_EQ(reg_get_version_dword(0, c.subkey, c.name, &value), c.found) << c.name;
    EXPECT_EQ(value, c.found ? c.value : 77u) << c.name;
  }
  EXPECT_FALSE(reg_get_version_dword(0, "", "IoBuffering", nullptr));
}

TEST_F(RegistryFile, MissingFileHasNoValues) {
  uint32_t value = 0;
  EXPECT_FALSE(reg_get_version_dword(0, "", "IoBuffering", &value));
  int32_t status = 0, length = 3;
  char text[DB_HOME_ROOM] = "DB1";
  db_definition_lookup(&status, text, &length);
  EXPECT_EQ(status, -1);
}

TEST_F(RegistryFile, DatabaseDefinitions) {
  write(
      "[SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts\\DB1]\n"
      "Directory=sz:/srv/zavor/db1\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts\\FAR]\n"
      "Directory=sz:/srv/far\n"
      "Protocol=sz:TCP\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts\\EMPTYPROTO]\n"
      "Directory=sz:/srv/e\n"
      "Protocol=sz:\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts\\NODIR]\n"
      "Users=dword:10\n"
      "[SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts\\A\\B]\n"
      "Directory=sz:/srv/ab\n");
  struct Case {
    std::string name;
    int32_t capacity;
    int32_t status;
    std::string result;
  } cases[] = {
      {"DB1", DB_HOME_ROOM, 0, "/srv/zavor/db1"},
      {"db1   ", DB_HOME_ROOM, 0, "/srv/zavor/db1"},
      {"DB1\\", DB_HOME_ROOM, 0, "/srv/zavor/db1"},
      {"EMPTYPROTO", DB_HOME_ROOM, 0, "/srv/e"},
      {"DB1", 14, 0, "/srv/zavor/db1"},
      {"DB1", 13, -1, "DB1"},
      {"FAR", DB_HOME_ROOM, -1, "FAR"},
      {"NODIR", DB_HOME_ROOM, -1, "NODIR"},
      {"MISSING", DB_HOME_ROOM, -1, "MISSING"},
      {"A\\B", DB_HOME_ROOM, -1, "A\\B"},
      {"   ", DB_HOME_ROOM, -1, "   "},
      {std::string(129, 'D'), DB_HOME_ROOM, -1, std::string(129, 'D')},
  };
  for (const auto& c : cases) {
    char text[DB_HOME_ROOM + 8];
    memset(text, '#', sizeof text);
    memcpy(text, c.name.data(), c.name.size());
    int32_t status = 99, length = static_cast<int32_t>(c.name.size());
    db_definition_lookup(&status, text, &length, c.capacity);
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(std::string(text, length), c.result) << c.name;
    EXPECT_EQ(text[std::max(c.name.size(), c.result.size())], '#') << c.name;
  }
  char text[DB_HOME_ROOM] = "DB1";
  for (int32_t bad : {0, -1, 129, INT_MAX}) {
    int32_t status = 99, length = bad;
    db_definition_lookup(&status, text, &length);
    EXPECT_EQ(status, -1) << bad;
    EXPECT_EQ(length, bad);
  }
}

}  // namespace
