// The modes and codes of the small page routines, one table each: DKWRP0's
// writes that release the buffer or keep it held, DKMRK0's unconditional
// write-set code and the undoing of a link, and DKPUT0 and DKGPA0 given a
// mode or code they do not know.
#include <gtest/gtest.h>

#include <string>

#include "dk/bufferpool.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

class PageCodesTest : public PageTest {
 protected:
  int32_t Bcb(int32_t buffer) { return BufferBcb(buffer); }
  int32_t Word(int32_t buffer, int32_t word) { return area_[Bcb(buffer) + word]; }

  // How many log records carry `text` in one of their lines.
  int Logged(const std::string& text) {
    int n = 0;
    for (const LogRecord& r : log_.records)
      for (const std::string& line : r.lines) n += line.find(text) != std::string::npos;
    return n;
  }
};

// Mode 1 writes and releases; mode 2 writes and keeps the buffer held, its
// write set (or mark) ended. A failed write keeps the changes either way.
TEST_F(PageCodesTest, WritesThatReleaseOrKeepTheBuffer) {
  int32_t entry = Create("writes", 200);
  struct Case {
    int32_t mode, set_code;  // 22 puts the page in a write set, 28 marks it, 0 neither
    bool fail;
    int32_t rc, version_step, users_after;
  };
  const Case cases[] = {
      {WRP_WRITE_RELEASE, 0, false, 0, 1, 0}, {WRP_WRITE_RELEASE, 22, false, 0, 1, 0},
      {WRP_WRITE_HOLD, 22, false, 0, 0, 1},   {WRP_WRITE_HOLD, 28, false, 0, 0, 1},
      {WRP_WRITE_HOLD, 0, false, 0, 0, 1},    {WRP_WRITE_RELEASE, 0, true, -44, 1, 0},
      {WRP_WRITE_HOLD, 22, true, -44, 0, 1},
  };
  int32_t page = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.set_code << " " << c.fail);
    int32_t b = HeldDataPage(entry, page, page + 1000);
    ASSERT_GT(b, 0);
    if (c.set_code != 0) {
      EXPECT_EQ(DKMRK0(7, c.set_code, b), 0);
    }
    EXPECT_EQ(DKPUT0(PUT_CHANGED_HOLD, b), 0);
    int32_t version = Word(b, BCB_VERSION);
    if (c.fail) fault_.FailNthWrite(1, EIO);
    int32_t rq[REQ_WORDS] = {entry, page, 2048, 0, -1, 0};
    EXPECT_EQ(DKWRP0(rq, c.mode, b), c.rc);
    EXPECT_EQ(Word(b, BCB_VERSION) - version, c.version_step);
    EXPECT_EQ(Word(b, BCB_USERS), c.users_after);
    EXPECT_EQ(FileWord("writes", page, 100), c.fail ? 0 : page + 1000);
    if (c.fail) {
      EXPECT_EQ(rq[REQ_RC], -44);
      EXPECT_EQ(rq[REQ_PAGE], page);
      EXPECT_EQ(Word(b, BCB_UNWRITTEN), 1);
    } else {
      EXPECT_EQ(Word(b, BCB_WS_STATUS), WS_NONE);
      EXPECT_EQ(Word(b, BCB_IO_STATUS), IOS_CLEAN);
    }
    // Held or not, as the mode says: once given back, a get for update finds
    // it free; a page whose write failed answers -44 until a holder that kept
    // it releases it changed again.
    if (c.users_after == 1) {
      EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
    }
    int32_t rc = 0;
    int32_t held = Get(entry, page, 2048, GET_UPDATE, &rc);
    if (c.fail && c.users_after == 0) {
      EXPECT_EQ(rc, -44);
    } else {
      EXPECT_EQ(held, b);
      DKPUT0(PUT_UNCHANGED, held);
    }
    ++page;
  }
}

// Code 25 sets the write set without comparing (a page already in a set with
// an order value is reported first); code 27 undoes only its own link.
TEST_F(PageCodesTest, UnconditionalWriteSetAndUndoingALink) {
  int32_t entry = Create("marks", 200);
  int32_t a = HeldDataPage(entry, 40, 1), y = HeldDataPage(entry, 41, 2),
          z = HeldDataPage(entry, 42, 3);
  ASSERT_TRUE(a > 0 && y > 0 && z > 0);
  struct Step {
    int32_t code, value;  // value: an order value, or for 23 and 27 a buffer
    int32_t ws, order, waiter_of_a, y_waits, z_waits, reports;
  };
  const Step steps[] = {
      {25, 9, WS_IN_SET, 9, 0, 0, 0, 0},    // not in a set: taken as it is
      {25, 12, WS_IN_SET, 12, 0, 0, 0, 1},  // in a set with 9: reported, then set
      {28, 3, WS_IN_SET, 12, 0, 0, 0, 0},   // marking needs status 0: nothing
      {22, 15, WS_IN_SET, 12, 0, 0, 0, 0},  // a larger value changes nothing
      {25, 0, WS_IN_SET, 0, 0, 0, 0, 1},    // reported again, order 0
      {25, 4, WS_IN_SET, 4, 0, 0, 0, 0},    // order 0: no report
      {23, y, WS_IN_SET, 4, Bcb(y), 1, 0, 0},
      {27, z, WS_IN_SET, 4, Bcb(y), 1, 0, 0},  // a link to another page stays
      {27, y, WS_IN_SET, 4, 0, 0, 0, 0},
      {27, y, WS_IN_SET, 4, 0, 0, 0, 0},  // no link: nothing
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.code << " " << s.value);
    log_.records.clear();
    EXPECT_EQ(DKMRK0(s.value, s.code, a), 0);
    EXPECT_EQ(Word(a, BCB_WS_STATUS), s.ws);
    EXPECT_EQ(Word(a, BCB_ORDER), s.order);
    EXPECT_EQ(Word(a, BCB_WAITER), s.waiter_of_a);
    EXPECT_EQ(Word(y, BCB_WAITS_FOR), s.y_waits);
    EXPECT_EQ(Word(z, BCB_WAITS_FOR), s.z_waits);
    EXPECT_EQ(Logged("Bad parameter, value = "), s.reports);
  }
  for (int32_t b : {a, y, z}) DKPUT0(PUT_UNCHANGED, b);
}

// A mode or code the routine does not know is an internal error: reported
// (ending the server) with nothing done to the buffer; the known codes of
// DKGPA0 answer their words.
TEST_F(PageCodesTest, UnknownModesAndCodesChangeNothing) {
  int32_t entry = Create("codes", 200);
  int32_t b = HeldDataPage(entry, 40, 40), y = HeldDataPage(entry, 41, 41);
  ASSERT_TRUE(b > 0 && y > 0);
  EXPECT_EQ(DKMRK0(y, 23, b), 0);
  EXPECT_EQ(DKMRK0(17, 24, b), 0);
  struct Case {
    bool put;  // DKPUT0 mode, else DKGPA0 code
    int32_t value, result;
    const char* text;
  };
  const Case cases[] = {
      {true, 0, -43, "Bad parameter, value = 0"},
      {true, 1, -43, "Bad parameter, value = 1"},
      {true, 5, -43, "Bad parameter, value = 5"},
      {true, 10, -43, "Bad parameter, value = 10"},
      {true, -4, -43, "Bad parameter, value = -4"},
      {false, 49, 0, "Invalid function code, value = 49"},
      {false, 54, 0, "Invalid function code, value = 54"},
      {false, 0, 0, "Invalid function code, value = 0"},
      {false, 50, 17, nullptr},
      {false, 51, 0, nullptr},
      {false, 52, Bcb(y), nullptr},
      {false, 53, Bcb(b), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.put << " " << c.value);
    log_.records.clear();
    int32_t users = Word(b, BCB_USERS), io = Word(b, BCB_IO_STATUS);
    int32_t result = 0;
    if (c.text) {
      EXPECT_THROW(result = c.put ? DKPUT0(c.value, b) : DKGPA0(c.value, b), ServerException);
      EXPECT_EQ(Logged(c.text), 1);
      area_[BP_STATUS] = BP_STATUS_UP;
    } else {
      result = DKGPA0(c.value, b);
      EXPECT_EQ(result, c.result);
      EXPECT_TRUE(log_.records.empty());
    }
    EXPECT_EQ(Word(b, BCB_USERS), users);
    EXPECT_EQ(Word(b, BCB_IO_STATUS), io);
  }
  // Still held: the waiting count of Y answers through DKGPA0 too.
  EXPECT_EQ(DKGPA0(51, y), 1);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, y), 0);
}

}  // namespace
