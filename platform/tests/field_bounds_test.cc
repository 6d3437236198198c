// Random offsets, lengths, counts and positions, many of them negative or far
// past the area, fed to every platform routine that takes a caller's field.
// The areas sit between guard bytes: any write outside an area shows in its
// guards, and under the address sanitizer the guards are poisoned, so a read
// outside the area stops the test as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/char_format.h"
#include "platform/comm_errors.h"
#include "platform/number_text.h"
#include "platform/os_status.h"
#include "platform/text_buffer.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define HB_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define HB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define HB_POISON(p, n) ((void)(p), (void)(n))
#define HB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr size_t kGuard = 32;  // elements on either side of an area
constexpr uint8_t kCanary = 0xA5;

// An area of `size` elements between two guards.
template <typename T>
class Guarded {
 public:
  Guarded(size_t size, std::mt19937& rng) : storage_(kGuard + size + kGuard), size_(size) {
    std::memset(storage_.data(), kCanary, storage_.size() * sizeof(T));
    // Mostly blanks, zeros and a few letters, so that searches and compares
    // meet hits and blanks as well as misses.
    static const uint8_t kPalette[] = {0x20, 0x20, 0x00, 0x00, 0x41, 0x42, 0xFF, 0xD8, 0xDC, 0x01};
    auto* bytes = reinterpret_cast<uint8_t*>(data());
    for (size_t i = 0; i < size * sizeof(T); ++i) bytes[i] = kPalette[rng() % sizeof kPalette];
    HB_POISON(storage_.data(), kGuard * sizeof(T));
    HB_POISON(data() + size_, kGuard * sizeof(T));
  }
  ~Guarded() { HB_UNPOISON(storage_.data(), storage_.size() * sizeof(T)); }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  T* data() { return storage_.data() + kGuard; }
  std::span<T> span() { return {data(), size_}; }
  std::vector<T> contents() { return {data(), data() + size_}; }

  bool guards_intact() {
    HB_UNPOISON(storage_.data(), storage_.size() * sizeof(T));
    const auto* all = reinterpret_cast<const uint8_t*>(storage_.data());
    const size_t guard_bytes = kGuard * sizeof(T);
    const size_t tail = (kGuard + size_) * sizeof(T);
    bool intact = true;
    for (size_t i = 0; i < guard_bytes; ++i) {
      intact = intact && all[i] == kCanary && all[tail + i] == kCanary;
    }
    HB_POISON(storage_.data(), guard_bytes);
    HB_POISON(data() + size_, guard_bytes);
    return intact;
  }

 private:
  std::vector<T> storage_;
  size_t size_;
};

// A number a caller might pass: often near the area's size, sometimes an
// extreme or any 32-bit value.
int32_t pick(std::mt19937& rng, int32_t near) {
  static const int32_t kExtremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
  switch (rng() % 8) {
    case 0:
      return kExtremes[rng() % (sizeof kExtremes / sizeof kExtremes[0])];
    case 1:
      return static_cast<int32_t>(rng());
    default:
      return std::uniform_int_distribution<int32_t>(-6, near + 6)(rng);
  }
}

class FieldBounds : public ::testing::Test {
 protected:
  std::mt19937 rng{20261210};
  static constexpr int kRounds = 4000;

  size_t area_size() { return rng() % 40; }
};

TEST_F(FieldBounds, BytePrimitives) {
  for (int round = 0; round < kRounds; ++round) {
    Guarded<uint8_t> a(area_size(), rng), b(area_size(), rng);
    const int32_t na = static_cast<int32_t>(a.span().size());
    const int32_t nb = static_cast<int32_t>(b.span().size());
    const int32_t oa = pick(rng, na), ob = pick(rng, nb);
    const int32_t la = pick(rng, na), lb = pick(rng, nb);
    const uint8_t fill = static_cast<uint8_t>(rng());

    const int32_t c = mdr_compare_bytes(a.span(), oa, b.span(), ob, la);
    EXPECT_TRUE(c >= -1 && c <= 1);
    const int32_t p = mdr_compare_padded(a.span(), oa, la, b.span(), ob, lb, fill);
    EXPECT_LE(p < 0 ? -static_cast<int64_t>(p) : p, std::max(na, nb));
    const int32_t found = mdr_find_byte(a.span(), oa, la, fill);
    EXPECT_TRUE(found >= 0 && found <= na);
    const int32_t index = mdr_index_of_byte(a.span(), oa, la, 0x20);
    EXPECT_TRUE(index >= 0 && index <= na);
    const int32_t span = mdr_span_to_byte(a.span(), oa, la, 0x41);
    EXPECT_TRUE(span >= 0 && span <= na);
    const int32_t at = mdr_find_bytes(a.span(), oa, la, b.span(), ob, lb);
    EXPECT_TRUE(at >= 0 && at <= na);
    const int32_t cn = mdr_compare_nullable(a.span(), oa, la, b.span(), ob, lb);
    EXPECT_TRUE(cn >= kTruthUnknown && cn <= kTruthGreater);
    const int32_t ns = mdr_null_state(a.span(), oa);
    EXPECT_TRUE(ns >= kTruthUnknown && ns <= kTruthEqual);

    switch (rng() % 7) {
      case 0:
        mdr_move_pad(a.span(), oa, la, b.span(), ob, lb, fill);
        break;
      case 1:
        mdr_move_pad(a.span(), oa, la, a.span(), ob, lb, fill);  // overlapping
        break;
      case 2:
        mdr_xor_bytes(a.span(), oa, la, b.span(), ob);
        mdr_and_bytes(a.span(), oa, la, b.span(), ob);
        break;
      case 3:
        EXPECT_LE(translate_bytes(a.span(), oa, la, kUpperCaseTable), na);
        case_translate(a.span(), oa, la, static_cast<int32_t>(rng() % 4));
        break;
      case 4:
        mdr_swap_words(a.span(), oa, la);
        break;
      case 5:
        mdr_set_null(a.span(), oa);
        break;
      default: {
        Guarded<int32_t> map(rng() % 4, rng);
        const int32_t bit = pick(rng, static_cast<int32_t>(map.span().size()) * 32);
        EXPECT_GE(mdr_bit_set(map.span(), bit), -2);
        EXPECT_GE(mdr_bit_test(map.span(), bit), -2);
        EXPECT_GE(mdr_bit_clear_test(map.span(), bit), -2);
        EXPECT_TRUE(map.guards_intact());
      }
    }
    ASSERT_TRUE(a.guards_intact()) << round;
    ASSERT_TRUE(b.guards_intact()) << round;
  }
}

// A conversion that refuses its call (-4, -5) leaves the target as it was.
TEST_F(FieldBounds, CharacterFormats) {
  for (int round = 0; round < kRounds; ++round) {
    Guarded<uint8_t> t(area_size(), rng), s(area_size(), rng);
    const int32_t nt = static_cast<int32_t>(t.span().size());
    const int32_t ns = static_cast<int32_t>(s.span().size());
    const int32_t ot = pick(rng, nt), os = pick(rng, ns);
    const int32_t lt = pick(rng, nt), ls = pick(rng, ns);
    const int32_t format = static_cast<int32_t>(rng() % 6);  // 0 and 5 are bad codes
    const uint32_t cp = static_cast<uint32_t>(pick(rng, 0x20));
    const std::vector<uint8_t> before = t.contents();
    int32_t rc = 0;
    switch (rng() % 8) {
      case 0:
        rc = charenc_to_units3(t.span(), ot, lt, s.span(), os, ls, format);
        break;
      case 1:
        rc = charenc_from_units3(t.span(), ot, lt, format, s.span(), os, ls);
        break;
      case 2: {
        int32_t written = -9;
        rc = charenc_from_units3_len(&written, t.span(), ot, lt, format, s.span(), os, ls);
        EXPECT_TRUE(written >= 0 && written <= std::max(lt, 0));
        break;
      }
      case 3:
        rc = charenc_copy_units3(t.span(), ot, lt, s.span(), os, ls);
        break;
      case 4:
        rc = charenc_units4_to_bytes(t.span(), ot, s.span(), os, ls);
        break;
      case 5:
        rc = charenc_fill(t.span(), ot, lt, cp, format);
        break;
      case 6:
        rc = charenc_fill_units3(t.span(), ot, lt, s.span(), os, format);
        break;
      default:
        // t may also be the source: conversions within one area.
        rc = charenc_to_units3(t.span(), ot, lt, t.span(), os, ls, format);
    }
    EXPECT_TRUE(rc >= -5 && rc <= 1 && rc != -3) << rc;
    if (rc == kCharBadFormat || rc == kCharBadField) {
      EXPECT_EQ(t.contents(), before) << round;
    }

    const int32_t skip = charenc_skip_char(s.span(), os, ls, cp, format);
    const int32_t find = charenc_find_char(s.span(), os, ls, cp, format);
    for (int32_t r : {skip, find}) {
      EXPECT_TRUE(r == kCharBadFormat || r == kCharBadField || (r >= -1 && r <= ns) ||
                  r == ls);  // n when nothing is met
    }
    EXPECT_GE(charenc_get_unit3(s.span(), os), -1);
    const int32_t cmp = charenc_compare_units3(t.span(), ot, lt, s.span(), os, ls);
    EXPECT_TRUE(cmp >= kTruthLess && cmp <= kTruthGreater);
    const int32_t pos = charenc_find_units3(t.span(), ot, lt, s.span(), os, ls);
    EXPECT_TRUE(pos >= 0 && pos <= nt / 3);
    ASSERT_TRUE(t.guards_intact()) << round;
    ASSERT_TRUE(s.guards_intact()) << round;
  }
}

// A position either stays where the caller had it or ends inside the area.
TEST_F(FieldBounds, TextBuffers) {
  for (int round = 0; round < kRounds; ++round) {
    Guarded<uint8_t> buffer(area_size(), rng), source(area_size(), rng);
    const int32_t nb = static_cast<int32_t>(buffer.span().size());
    const int32_t ns = static_cast<int32_t>(source.span().size());
    const int32_t start = pick(rng, nb);
    const int32_t size = pick(rng, nb);
    const int32_t offset = pick(rng, ns), n = pick(rng, ns);
    int32_t position = start;
    int32_t capacity = nb;
    switch (rng() % 8) {
      case 0:
        textbuf_put_bytes(buffer.span(), &position, size, source.span(), offset, n);
        break;
      case 1:
        textbuf_put_int(buffer.span(), &position, size, static_cast<int32_t>(rng()));
        break;
      case 2:
        textbuf_put_int_width(buffer.span(), &position, size, pick(rng, 14),
                              static_cast<int32_t>(rng()));
        break;
      case 3:
        textbuf_put_int_left(buffer.span(), &position, static_cast<int32_t>(rng()));
        break;
      case 4:
        textbuf_put_chars(buffer.span(), &position, size, static_cast<int32_t>(rng() % 3),
                          source.span(), offset, n);
        capacity = nb;  // counts characters or bytes: either is within nb
        break;
      case 5:
        textbuf_put_units3(buffer.span(), &position, size, source.span(), offset, n);
        capacity = nb / 3;
        break;
      case 6:
        textbuf_put_hex(buffer.span(), &position, size, source.span(), offset, n);
        break;
      default:
        textbuf_put_bytes(buffer.span(), &position, size, buffer.span(), offset, n);
    }
    EXPECT_TRUE(position == start || (position >= 0 && position <= capacity))
        << round << ": " << start << " -> " << position;
    ASSERT_TRUE(buffer.guards_intact()) << round;
    ASSERT_TRUE(source.guards_intact()) << round;
  }
}

TEST_F(FieldBounds, NumberFields) {
  for (int round = 0; round < kRounds; ++round) {
    Guarded<uint8_t> field(area_size(), rng);
    const int32_t nf = static_cast<int32_t>(field.span().size());
    const int32_t offset = pick(rng, nf), width = pick(rng, 8);
    const std::vector<uint8_t> before = field.contents();
    int32_t rc = 0;
    int32_t iv = 0;
    double dv = 0;
    switch (rng() % 7) {
      case 0:
        rc = int_load(&iv, field.span(), offset, width);
        break;
      case 1:
        rc = int_store(static_cast<int32_t>(rng()), field.span(), offset, width);
        break;
      case 2:
        rc = double_load(&dv, field.span(), offset, width);
        break;
      case 3:
        rc = double_store(static_cast<double>(static_cast<int32_t>(rng())) * 1e30, field.span(),
                          offset, width);
        break;
      case 4:
        rc = mdr_int_to_text(field.span(), offset, width, static_cast<int32_t>(rng()));
        break;
      case 5:
        rc = text_to_double_checked(&dv, field.span(), offset, pick(rng, nf));
        EXPECT_TRUE(rc >= -1 && rc <= 1);
        rc = 0;
        break;
      default:
        rc = text_to_int_rounded(&iv, field.span(), offset, pick(rng, nf));
    }
    if (rc == kValueBadArgument) {
      EXPECT_EQ(field.contents(), before) << round;
    }
    ASSERT_TRUE(field.guards_intact()) << round;
  }
}

// The text routines take the caller's area with an offset and a limit; a limit
// beyond the area is cut at its end.
TEST_F(FieldBounds, StatusAndErrorTexts) {
  static const char kValue[] = "DB1 node1 % value%";
  for (int round = 0; round < kRounds; ++round) {
    Guarded<char> area(rng() % 120, rng);
    const int32_t na = static_cast<int32_t>(area.span().size());
    const int32_t offset = pick(rng, na), limit = pick(rng, na);
    const int64_t room = std::max<int64_t>(0, int64_t{na} - offset);
    int32_t rc = 0, length = -7;
    switch (rng() % 4) {
      case 0: {
        const int32_t status = static_cast<int32_t>(rng());
        os_status_text(&rc, area.span(), offset, &length, limit, status);
        EXPECT_TRUE(rc == 0 || rc == -1 || rc == -2);
        EXPECT_TRUE(length >= 0 && length <= room);
        break;
      }
      case 1: {
        CommErrorValue values[4];
        for (auto& v : values) {
          v.text = kValue;
          v.length = std::min<int32_t>(pick(rng, 18), 18);
        }
        char state[5];
        const int32_t code = -21000 - static_cast<int32_t>(rng() % 600);
        comm_error_text(area.span(), offset, limit, &length, code, state, values);
        EXPECT_TRUE(length >= 0 && length <= room);
        break;
      }
      case 2: {
        int32_t flags = 0;
        comm_error_lookup(area.span(), offset, limit, &length, nullptr, &flags,
                          -21000 - static_cast<int32_t>(rng() % 600));
        EXPECT_TRUE(length >= -1 && length <= room);
        break;
      }
      default: {
        int32_t code = 0, cursor = pick(rng, 124);
        comm_error_next(&code, area.span(), offset, &cursor);
        char buffer[16];
        os_status_text_win(static_cast<int32_t>(rng()), static_cast<int32_t>(rng() % 16),
                           static_cast<int32_t>(rng() % 130), static_cast<int32_t>(rng() % 70000),
                           area.span(), pick(rng, na));
        os_status_text_win(0x60210005, 6, 33, 5, buffer, 200);
      }
    }
    ASSERT_TRUE(area.guards_intact()) << round;
  }
}

}  // namespace
