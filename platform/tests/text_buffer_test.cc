// Text buffer appenders: what each writes and where the position ends, at
// the buffer's end, past it, and with sizes the buffer area cannot hold.
#include "platform/text_buffer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s) {
  return {s.begin(), s.end()};
}

struct AppendCase {
  const char* what;
  int32_t start;  // position before the call
  std::function<void(ByteSpan, int32_t*)> append;
  std::string want;  // the 10-byte buffer afterwards ('.' where untouched)
  int32_t end;       // position after the call
};

TEST(TextBuffer, AppendersClipAtTheSizeAndMoveThePosition) {
  const Bytes abc = bytes_of("abcdef");
  const AppendCase cases[] = {
      {"bytes", 2, [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 8, abc, 1, 3); },
       "..bcd.....", 5},
      {"bytes clipped", 6, [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 8, abc, 0, 6); },
       "......ab..", 8},
      {"bytes past the end come back", 105,
       [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 8, abc, 0, 6); }, "..........", 8},
      {"negative count", 4, [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 8, abc, 0, -3); },
       "..........", 4},
      {"negative position stays", -4,
       [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 8, abc, 0, 3); }, "..........", -4},
      {"size beyond the area", 8,
       [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 1000, abc, 0, 6); }, "........ab", 10},
      {"source cut at its area", 0,
       [&](ByteSpan b, int32_t* p) { textbuf_put_bytes(b, p, 10, abc, 4, 100); }, "ef........", 2},
      {"int", 1, [](ByteSpan b, int32_t* p) { textbuf_put_int(b, p, 10, -305); }, ".-305.....", 5},
      {"int does not fit", 7, [](ByteSpan b, int32_t* p) { textbuf_put_int(b, p, 10, -12345); },
       ".......***", 10},
      {"int min never fits", 0,
       [](ByteSpan b, int32_t* p) { textbuf_put_int(b, p, 10, INT32_MIN); }, "**********", 10},
      {"int past the end", 12, [](ByteSpan b, int32_t* p) { textbuf_put_int(b, p, 10, 1); },
       "..........", 10},
      {"int width", 0, [](ByteSpan b, int32_t* p) { textbuf_put_int_width(b, p, 10, 5, 42); },
       "   42.....", 5},
      {"int width clipped", 7,
       [](ByteSpan b, int32_t* p) { textbuf_put_int_width(b, p, 10, 5, 42); }, "....... 42", 10},
      {"int width stars", 8,
       [](ByteSpan b, int32_t* p) { textbuf_put_int_width(b, p, 10, 5, 420); }, "........**", 10},
      {"int width wider than 12", 0,
       [](ByteSpan b, int32_t* p) { textbuf_put_int_width(b, p, 10, 14, -7); }, "        -7", 10},
      {"int width negative", 3,
       [](ByteSpan b, int32_t* p) { textbuf_put_int_width(b, p, 10, -2, 7); }, "..........", 3},
      {"int left", 6, [](ByteSpan b, int32_t* p) { textbuf_put_int_left(b, p, -12); }, "......-12.",
       9},
      {"int left bounded by the area", 8,
       [](ByteSpan b, int32_t* p) { textbuf_put_int_left(b, p, 12345); }, "........12", 10},
      {"int left stars", 0, [](ByteSpan b, int32_t* p) { textbuf_put_int_left(b, p, INT32_MIN); },
       "***.......", 3},
      {"hex to the limit", 0,
       [](ByteSpan b, int32_t* p) {
         const uint8_t x[] = {0x1F, 0xA0};
         textbuf_put_hex(b, p, 3, x, 0, 2);
       },
       "1FA.......", 3},
      {"hex all bytes", 4,
       [](ByteSpan b, int32_t* p) {
         const uint8_t x[] = {0x00, 0xFE};
         textbuf_put_hex(b, p, 100, x, 0, 2);
       },
       "....00FE..", 8},
      {"hex limit counts the position", 5,
       [](ByteSpan b, int32_t* p) {
         const uint8_t x[] = {0xAB, 0xCD};
         textbuf_put_hex(b, p, 8, x, 0, 2);
       },
       ".....ABC..", 8},
      {"hex bounded by the area", 9,
       [](ByteSpan b, int32_t* p) {
         const uint8_t x[] = {0xAB};
         textbuf_put_hex(b, p, 1000, x, 0, 1);
       },
       ".........A", 10},
  };
  for (const AppendCase& c : cases) {
    Bytes buffer(10, '.');
    int32_t position = c.start;
    c.append(buffer, &position);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), c.want) << c.what;
    EXPECT_EQ(position, c.end) << c.what;
  }
}

TEST(TextBuffer, CharacterAppendersCountThreeByteCharacters) {
  Bytes buffer(10, 0xEE);  // room for three characters and one spare byte
  const Bytes text = bytes_of("xyz");
  int32_t position = 1;
  textbuf_put_chars(buffer, &position, 100, 3, text, 0, 3);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(buffer, (Bytes{0xEE, 0xEE, 0xEE, 0, 0, 'x', 0, 0, 'y', 0xEE}));
  position = 0;
  textbuf_put_chars(buffer, &position, 3, 1, text, 1, 2);  // unit code 1 copies bytes
  EXPECT_EQ(position, 2);
  EXPECT_EQ(buffer[0], 'y');
  EXPECT_EQ(buffer[1], 'z');

  const Bytes wide = {0, 0x01, 0x00, 0, 0x01, 0x01, 0, 0x01, 0x02};
  Bytes out(9, 0xEE);
  position = 1;
  textbuf_put_units3(out, &position, 3, wide, 1, 5);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(out, (Bytes{0xEE, 0xEE, 0xEE, 0, 1, 1, 0, 1, 2}));
  position = 7;
  textbuf_put_units3(out, &position, 3, wide, 0, 1);
  EXPECT_EQ(position, 3);
}

}  // namespace
