// XA identifier text: the plain, Tuxedo and DTC forms and lengths that lie
// outside the identifier's data.
#include "platform/xa_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string text_of(const XaIdentifier* xid) {
  char out[kXaTextSize + 8];
  std::memset(out, 0x7E, sizeof out);
  int32_t n = xa_xid_text(out, xid);
  EXPECT_EQ(static_cast<size_t>(n), std::strlen(out));
  EXPECT_LT(n, kXaTextSize);
  return out;
}

XaIdentifier make(int32_t format, int32_t gtrid, int32_t bqual) {
  XaIdentifier x{};
  x.format_id = format;
  x.gtrid_length = gtrid;
  x.bqual_length = bqual;
  for (int i = 0; i < 128; ++i) x.data[i] = static_cast<uint8_t>(i * 0x11);
  return x;
}

TEST(XaText, Forms) {
  XaIdentifier x = make(7, 2, 1);
  x.data[0] = 0xAB;
  x.data[1] = 0xCD;
  x.data[2] = 0xEF;
  EXPECT_EQ(text_of(&x), "xid7=ABCD:EF");
  EXPECT_EQ(text_of(nullptr), "xid NULL pointer");
  x.format_id = -1;
  EXPECT_EQ(text_of(&x), "xid NULL");

  XaIdentifier dtc = make(0x445443, 18, 0);
  EXPECT_EQ(text_of(&dtc), "DTCxid4478019=33221100-5544-7766-8899-aabbccddeeff+1021");

  XaIdentifier tux = make(40, 1, 0);
  tux.data[35] = 0x5A;
  std::memcpy(tux.data + 36, "\x01\x02\x00\x00\xff\x00\x00\x00", 8);
  EXPECT_EQ(text_of(&tux), "TuxedoXid40 gtrid=x5a x201 xff+00");
}

TEST(XaText, LengthsAreKeptInsideTheData) {
  XaIdentifier x = make(3, 200, 50);  // gtrid beyond 128: all 128, no qualifier
  std::string t = text_of(&x);
  EXPECT_EQ(t.size(), 5u + 256u);
  EXPECT_EQ(t.find(':'), std::string::npos);

  x = make(3, 120, 50);  // qualifier cut at byte 128
  t = text_of(&x);
  EXPECT_EQ(t.size(), 5u + 240u + 1u + 16u);
  EXPECT_EQ(t.substr(t.size() - 2), "6F");  // byte 127: 127 * 0x11 mod 256

  x = make(3, -4, 2);  // a negative length counts as 0
  EXPECT_EQ(text_of(&x), "xid3=:0011");
  x = make(3, 1, -2);
  EXPECT_EQ(text_of(&x), "xid3=00");
}

}  // namespace
