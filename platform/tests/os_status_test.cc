// Texts of composite operating-system statuses, class by class, compared
// with the C library's own messages, and the limits of the caller's area.
#include "platform/os_status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string text_of(int32_t status) {
  char area[400];
  int32_t rc = 99, length = -5;
  os_status_text(&rc, area, 0, &length, sizeof area, status);
  EXPECT_EQ(rc, 0) << std::hex << status;
  return std::string(area, length);
}

TEST(OsStatus, FieldsPackAndUnpack) {
  EXPECT_EQ(make_os_status(OS_CLASS_WINDOWS, win_call::CloseHandle, 5), 0x60210005);
  EXPECT_EQ(make_os_status(OS_CLASS_WINDOWS, 0, 38), OS_STATUS_IO_INCOMPLETE);
  EXPECT_EQ(make_os_status(OS_CLASS_WINDOWS, win_call::TlsGetValue, 0),
            static_cast<int32_t>(0x605F0000));
  int32_t s = make_os_status(OS_CLASS_FILE_TABLE, crt_call::pwrite, 13);
  EXPECT_EQ(os_status_class(s), 14);
  EXPECT_EQ(os_status_step(s), 122);
  EXPECT_EQ(os_status_code(s), 13);
  EXPECT_EQ(make_com_status(10, 0x8004D01E), static_cast<int32_t>(0x90A4D01E));
  errno = ENOSPC;
  EXPECT_EQ(os_status_from_errno(OS_CLASS_WINDOWS, win_call::WriteFile),
            make_os_status(6, 35, ENOSPC));
  EXPECT_EQ(errno, ENOSPC);
}

TEST(OsStatus, TextOfEachClass) {
  const std::string eio = strerror(EIO);
  const std::string eacces = strerror(EACCES);
  struct Case {
    int32_t status;
    std::string text;
  } cases[] = {
      {0x60210005, "CloseHandle: " + eio},
      {static_cast<int32_t>(0x80210005), "CeCloseHandle: " + eio},
      {OS_STATUS_IO_INCOMPLETE, "Reached the end of the file."},
      {OS_STATUS_NO_REQUEST_SLOT, "Storage to process this request is not available."},
      {0x60680005, eio},  // index 104 names no call
      {0x60219999, "CloseHandle:  OS error code: 39321"},
      {0x60730005, "OS status code 60730005 (6, 115, 5)"},
      {make_os_status(5, crt_call::open, EACCES), "open: [EACCES] " + eacces},
      {make_os_status(5, crt_call::unknown, EILSEQ),
       "unknown: [EILSEQ] " + std::string(strerror(EILSEQ))},
      {make_os_status(5, crt_call::sigprocmask, 99),
       "sigprocmask: [99]" + std::string(strerror(99))},
      {make_os_status(5, 126, 5), "OS status code 507E0005 (5, 126, 5)"},
      {make_os_status(14, crt_call::read, 12),
       "read: call to read() returned wrong number of bytes"},
      {make_os_status(14, crt_call::pwrite, 25), "pwrite: other error"},
      {make_os_status(14, crt_call::read, 20), "OS status code E00A0014 (14, 10, 20)"},
      {make_os_status(14, crt_call::read, 26), "OS status code E00A001A (14, 10, 26)"},
      {make_os_status(15, 0, 0), "No OS message available"},
      {-1, "No OS message available"},
      {make_com_status(1, 0x8004D019),
       "DtcGetTransactionManager: Windows error XACT_E_ABORTED (0x8004D019)"},
      {make_com_status(3, 0x80070057),
       "CZavorOdbcXa::CreateInstance: Windows error E_INVALIDARG (0x80070057)"},
      {make_com_status(2, 0x8000FFFF),
       "IDtcUnknown::QueryInterface: Windows error E_UNEXPECTED (0x8000FFFF)"},
      {make_com_status(11, 0x80004005), "OS status code 90B04005 (9, 11, 16389)"},
      {make_os_status(4, win_call::connect, ECONNREFUSED),
       "connect: Windows socket error WSAECONNREFUSED (" + std::to_string(ECONNREFUSED) + ")"},
      {make_os_status(4, win_call::connect, 10061),
       "connect: Windows socket error WSAECONNREFUSED (10061)"},
      {make_os_status(4, win_call::gethostbyname, 11001),
       "gethostbyname: Windows socket error WSAHOST_NOT_FOUND (11001)"},
      {make_os_status(7, 1, 2), "OS status code 70010002 (7, 1, 2)"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(c.status), c.text) << std::hex << c.status;
}

TEST(OsStatus, StatusZeroWritesNothing) {
  char area[8] = "xxxxxxx";
  int32_t rc = 5, length = 5;
  os_status_text(&rc, area, 2, &length, 6, 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(length, 0);
  EXPECT_STREQ(area, "xxxxxxx");
}

TEST(OsStatus, CallerLimitsAreKept) {
  char area[32];
  memset(area, '#', sizeof area);
  int32_t rc = 0, length = 0;
  os_status_text(&rc, area, 3, &length, 5, 0x60210005);
  EXPECT_EQ(rc, -2);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(std::string(area, 10), "###Close##");

  for (int32_t limit : {0, -1, 32768}) {
    os_status_text(&rc, area, 0, &length, limit, 0x60210005);
    EXPECT_EQ(rc, -1) << limit;
    EXPECT_EQ(length, 0);
  }
  os_status_text(&rc, area, -1, &length, 5, 0x60210005);
  EXPECT_EQ(rc, -1);
  os_status_text(&rc, {}, 0, &length, 5, 0x60210005);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(area[10], '#');

  // A limit that reaches past the area is cut at the area's end; an offset at
  // or past the end writes nothing.
  const std::span<char> head(area, 12);
  os_status_text(&rc, head, 8, &length, 100, 0x60210005);
  EXPECT_EQ(rc, -2);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(area, 14), "###CloseClos##");
  for (int32_t offset : {12, 13, INT32_MAX}) {
    os_status_text(&rc, head, offset, &length, 5, 0x60210005);
    EXPECT_EQ(rc, -1) << offset;
    EXPECT_EQ(length, 0);
  }
  EXPECT_EQ(area[12], '#');
}

TEST(OsStatus, WindowsTextFitsItsBuffer) {
  char buffer[8];
  int32_t n = os_status_text_win(0x60210005, 6, 33, 5, buffer, sizeof buffer);
  EXPECT_EQ(n, 7);
  EXPECT_STREQ(buffer, "CloseHa");
  EXPECT_EQ(os_status_text_win(0x50010005, 5, 1, 5, buffer, sizeof buffer), 0);
  EXPECT_EQ(os_status_text_win(0x60210005, 6, 33, 5, buffer, 0), 0);
}

}  // namespace
