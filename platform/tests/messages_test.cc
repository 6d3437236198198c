// Message texts and their insert rules, and the lines a server message is
// written as.
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TEST(Messages, InsertRules) {
  const std::vector<std::string> three = {"one", "two", "3"};
  std::vector<std::string> twelve;
  for (int i = 1; i <= 12; ++i) twelve.push_back("v" + std::to_string(i));
  struct Case {
    const char* text;
    const std::vector<std::string>& inserts;
    bool fold;
    const char* expected;
  } cases[] = {
      {"a %1 b %2 c %3", three, false, "a one b two c 3"},
      {"%2%1", three, false, "twoone"},
      {"x %1%0 never", three, false, "x one"},
      {"100%% %. %! %b|%t|", three, false, "100% . !  |\t|"},
      {"first%nsecond\r\nthird", three, false, "first\r\nsecond\r\nthird"},
      {"first%nsecond\r\nthird", three, true, "first second third"},
      {"line\r\n%1\r\n", three, true, "line one "},
      {"gone %4 and %9", three, false, "gone %4 and %9"},
      {"%12 %1 %10x", twelve, false, "v12 v1 v10x"},
      {"ends with %", three, false, "ends with %"},
      {"", three, false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_message(c.text, c.inserts, c.fold), c.expected) << c.text;
  }
  EXPECT_EQ(format_message(nullptr, three, false), "");
  EXPECT_EQ(format_message("abc %1", {std::string(2000, 'x')}, false).size(), MSG_TEXT_MAX);
  EXPECT_EQ(format_message("abcdef", {}, false, 4), "abcd");
}

TEST(Messages, LinesOfSemaphoreMessages) {
  const std::string ts = "2026-01-02 03:04:05.006";
  struct Case {
    uint32_t title;
    uint32_t id;
    std::vector<std::string> inserts;
    Lines lines;
  } cases[] = {
      {MSG_TITLE_WARNING,
       0x80000452,
       {"7", "CreateEvent: Out of memory"},
       {"Zavor Server Warning 1106, " + ts,
        "      Error when creating event 7 for multiuser semaphores",
        "'CreateEvent: Out of memory'"}},
      {MSG_TITLE_FATAL,
       0xC0000454,
       {"mdrenq", "TlsGetValue: Success"},
       {"Zavor Server Fatal Error 1108, " + ts,
        "      Unexpected error when waiting for semaphore (in mdrenq)", "'TlsGetValue: Success'"}},
      {MSG_TITLE_FATAL,
       0xC0000455,
       {"wakelist", "12", "SetEvent: Bad address"},
       {"Zavor Server Fatal Error 1109, " + ts,
        "      Unexpected error when releasing threads waiting for semaphore (in wakelist, index "
        "12)",
        "'SetEvent: Bad address'"}},
      {MSG_TITLE_INTERNAL,
       0xC0000456,
       {"-3"},
       {"Zavor Server Internal Error 1110, " + ts,
        "      Corrupt semaphore linkage in wakelist (head = -3)"}},
      {MSG_TITLE_FATAL,
       0xC0000460,
       {"enqdeq_init", "TlsAlloc: x"},
       {"Zavor Server Fatal Error 1120, " + ts,
        "      Unexpected error when initiating thread local storage (in enqdeq_init)",
        "'TlsAlloc: x'"}},
      {MSG_TITLE_INTERNAL,
       0xC0000461,
       {"99", "4"},
       {"Zavor Server Internal Error 1121, " + ts,
        "      Corrupt semaphore linkage in wakelist (head = 99, it = 4)"}},
      {MSG_TITLE_INFORMATION,
       0x40000446,
       {"17"},
       {"Zavor Server Information Message 1094, " + ts,
        "      ZAVOR TCP/IP network server stopped.",
        "A total of 17 TCP/IP clients has been served."}},
      {MSG_TITLE_FATAL, 0xC0000999, {"x"}, {"Zavor Server Fatal Error 2457, " + ts, "      "}},
      {12345,
       0xC0000456,
       {"1"},
       {"ZAVOR Multiuser Message -1073740714 (severity level 12345), " + ts,
        "      Corrupt semaphore linkage in wakelist (head = 1)"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(message_lines(c.title, c.id, c.inserts, ts), c.lines) << std::hex << c.id;
  }
}

TEST(Messages, TitlesAndTimeStamp) {
  EXPECT_STREQ(message_text(MSG_TITLE_FATAL), "Zavor Server Fatal Error %1, %2%0");
  EXPECT_STREQ(message_text(MSG_TITLE_INTERNAL), "Zavor Server Internal Error %1, %2%0");
  EXPECT_EQ(message_text(0x12345678), nullptr);
  // Digits where the pattern has 9, the separators where it has them.
  const std::string pattern = "9999-99-99 99:99:99.999";
  std::string stamp = message_time_stamp();
  ASSERT_EQ(stamp.size(), pattern.size());
  for (size_t i = 0; i < stamp.size(); ++i) {
    if (pattern[i] == '9')
      EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
    else
      EXPECT_EQ(stamp[i], pattern[i]) << stamp;
  }
}

}  // namespace
