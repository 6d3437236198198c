// Key and record compression: the exact forms both compressors write, round
// trips over random and repetitive sources, expansion into smaller buffers,
// comparisons of compressed keys against memcmp of the plain keys, and
// corrupt or cut-off forms, which must stay inside their buffers (each form
// lies in a buffer of exactly its size, so the address sanitizer sees any
// stray read).
#include "dk/compression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_services.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
Bytes Repeat(uint8_t byte, size_t n) {
  return Bytes(n, byte);
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes RandomBytes(std::mt19937& rng, size_t n, int alphabet = 256) {
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng() % alphabet);
  return out;
}

Bytes Compress(const Bytes& source, int32_t method) {
  Bytes out(CompressedSizeBound(static_cast<int64_t>(source.size())));
  int32_t length = -99;
  const int32_t rc =
      DKCompress(out, 0, &length, source, 0, static_cast<int32_t>(source.size()), method);
  EXPECT_EQ(rc, length);
  EXPECT_GE(rc, 0);
  out.resize(std::max(rc, 0));
  return out;
}

// Expands `form` (in a buffer of its own size) into a buffer of `capacity`.
Bytes Expand(const Bytes& form, int32_t capacity, int32_t method, int32_t* rc = nullptr,
             int32_t compressed_length = -1) {
  Bytes out(capacity);
  int32_t length = capacity;
  const int32_t r = DKExpand(
      out, 0, &length, form, 0,
      compressed_length < 0 ? static_cast<int32_t>(form.size()) : compressed_length, method);
  if (rc != nullptr)
    *rc = r;
  else
    EXPECT_EQ(r, 0);
  EXPECT_GE(length, 0);
  EXPECT_LE(length, capacity);
  out.resize(std::max(length, 0));
  return out;
}

int32_t MemSign(const uint8_t* a, const uint8_t* b, size_t n) {
  const int c = std::memcmp(a, b, n);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// --- Exact forms ------------------------------------------------------------

TEST(Compression, BothMethodsWriteTheExactForms) {
  Bytes distinct(16385);
  for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<uint8_t>(i % 251);
  Bytes long_distinct_form =
      Concat({{0x7F, 0xBF}, Bytes(distinct.begin(), distinct.end() - 1), {0x00, distinct.back()}});
  Bytes ascending(60);
  for (int i = 0; i < 60; ++i) ascending[i] = static_cast<uint8_t>(i);
  Bytes ramp40(40);
  for (int i = 0; i < 40; ++i) ramp40[i] = static_cast<uint8_t>(0x80 + i);
  std::mt19937 rng(7);
  const Bytes first300 = RandomBytes(rng, 300);
  const Bytes head12 = Text("WXYZABCDEFGH");

  struct Case {
    const char* name;
    int32_t method;
    Bytes source;
    Bytes form;
  } cases[] = {
      {"empty", 1, {}, {}},
      {"seven a", 1, Repeat('a', 7), {0x00, 0x61, 0x80, 0x03}},
      {"four equal stay literal", 1, Text("xaaaay"), Concat({{0x05}, Text("xaaaay")})},
      {"five equal repeat", 1, Repeat('a', 5), {0x00, 0x61, 0x80, 0x01}},
      {"16385 distinct", 1, distinct, long_distinct_form},
      {"run of 20000", 1, Repeat('a', 20000), {0x00, 0x61, 0xBF, 0xFD, 0x00, 0x61, 0x8E, 0x1B}},
      {"literal then run",
       1,
       Concat({Text("abc"), Repeat('z', 9)}),
       {0x03, 'a', 'b', 'c', 'z', 0x80, 0x05}},
      {"empty", 2, {}, {}},
      {"one byte", 2, Text("q"), {0x01, 'q'}},
      {"three bytes", 2, Text("aaa"), {0x03, 'a', 'a', 'a'}},
      {"hundred a", 2, Repeat('a', 100), {0x01, 0x61, 0x20, 0xB0, 0x00}},
      {"abcdefgh thrice", 2, Text("abcdefghabcdefghabcdefgh"),
       Concat({{0x08}, Text("abcdefgh"), {0x2F, 0x18}})},
      {"first run of 300", 2, first300, Concat({{0x00, 44}, first300})},
      {"later run of 40", 2, Concat({Repeat('a', 10), ramp40}),
       Concat({{0x01, 'a', 0x20, 0x0C, 0x00, 0x05}, ramp40})},
      {"three trailing literals", 2, Text("aaaaaaaxyz"), {0x01, 'a', 0x21, 0x07, 'x', 'y', 'z'}},
      {"short middle match", 2, Text("ABCDEFGHIABCDz"),
       Concat({{0x09}, Text("ABCDEFGHI"), {0x60, 0x01, 'z'}})},
      {"middle match with a group", 2, Concat({ascending, ascending}),
       Concat({{0x3C}, ascending, {0x34, 0x81, 0x73, 0x04}})},
      {"far match of 4",
       2,
       Concat({Text("WXYZ"), Repeat('a', 2100), Text("WXYZ")}),
       {0x05, 'W', 'X', 'Y', 'Z', 'a', 0x20, 0x98, 0x20, 0x39, 0x2F, 0x00}},
      {"far match of 12", 2, Concat({head12, Repeat('a', 2100), head12}),
       Concat({{0x0D}, head12, {'a', 0x20, 0x98, 0x20, 0x38, 0x01, 0x37, 0x00}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " method " + std::to_string(c.method));
    EXPECT_EQ(Compress(c.source, c.method), c.form);
    EXPECT_EQ(Expand(c.form, static_cast<int32_t>(c.source.size()), c.method), c.source);
  }
}

TEST(Compression, ExpandingIntoLessRoomGivesExactlyThePrefix) {
  std::mt19937 rng(11);
  const Bytes sources[] = {
      Repeat('a', 100),
      Text("abcdefghabcdefghabcdefgh"),
      Concat({Text("key-"), RandomBytes(rng, 50, 4), Repeat(0, 300), RandomBytes(rng, 70)}),
  };
  for (int32_t method : {1, 2}) {
    for (const Bytes& source : sources) {
      const Bytes form = Compress(source, method);
      for (size_t capacity = 0; capacity <= source.size() + 3; ++capacity) {
        SCOPED_TRACE("method " + std::to_string(method) + " capacity " + std::to_string(capacity));
        const Bytes prefix(source.begin(), source.begin() + std::min(capacity, source.size()));
        EXPECT_EQ(Expand(form, static_cast<int32_t>(capacity), method), prefix);
      }
    }
  }
}

// --- Round trips --------------------------------------------------------------

// Sources of the shapes records and keys have: random, runs, text, mostly
// zeros, repeats at near, middle and far distances and beyond the window.
std::vector<Bytes> RoundTripSources() {
  std::mt19937 rng(2024);
  std::vector<Bytes> s = {
      {},
      Text("a"),
      Text("ab"),
      Repeat(0, 4),
      Repeat(0xFF, 16384),
      Repeat('x', 16385),
      Repeat('x', 16386),
      Repeat('x', 40000),
      RandomBytes(rng, 16376),
      RandomBytes(rng, 65),
      RandomBytes(rng, 20000, 3),
      RandomBytes(rng, 5000, 2),
  };
  Bytes fours;  // runs of exactly four, which stay literal in method 1
  for (int i = 0; i < 5000; ++i) fours.insert(fours.end(), 4, static_cast<uint8_t>(i % 7));
  s.push_back(fours);
  Bytes text;
  while (text.size() < 12000) {
    const std::string words[] = {"SELECT ", "name ", "FROM ", "customer ", "WHERE ", "id = "};
    const std::string& w = words[rng() % 6];
    text.insert(text.end(), w.begin(), w.end());
  }
  s.push_back(text);
  // Four-byte copies from far back between literal runs of 35: each match
  // saves one byte and each run costs two, the most a method-2 form grows.
  Bytes far_copies = RandomBytes(rng, 3000);
  while (far_copies.size() < 60000) {
    const Bytes run = RandomBytes(rng, 35);
    far_copies.insert(far_copies.end(), run.begin(), run.end());
    const size_t from = far_copies.size() - 3000;
    for (size_t k = 0; k < 4; ++k) far_copies.push_back(far_copies[from + k]);
  }
  s.push_back(far_copies);
  Bytes sparse(16000, 0);
  for (int i = 0; i < 200; ++i) sparse[rng() % sparse.size()] = static_cast<uint8_t>(rng());
  s.push_back(sparse);
  for (size_t distance : {1u, 8u, 9u, 300u, 2056u, 2057u, 18440u, 18441u, 30000u}) {
    const Bytes chunk = RandomBytes(rng, 700);
    Bytes b = chunk;
    const Bytes filler = RandomBytes(rng, distance > 700 ? distance - 700 : 0);
    b.insert(b.end(), filler.begin(), filler.end());
    b.insert(b.end(), chunk.begin(), chunk.end());
    s.push_back(b);
  }
  for (int i = 0; i < 40; ++i) {  // pieces of random, runs and copies mixed
    Bytes b;
    const size_t target = 1 + rng() % 17000;
    while (b.size() < target) {
      switch (rng() % 4) {
        case 0: {
          const Bytes r = RandomBytes(rng, 1 + rng() % 80);
          b.insert(b.end(), r.begin(), r.end());
          break;
        }
        case 1:
          b.insert(b.end(), 1 + rng() % 40, static_cast<uint8_t>(rng()));
          break;
        default:
          if (b.size() > 10) {
            const size_t from = rng() % b.size();
            const size_t n = 3 + rng() % 60;
            for (size_t k = 0; k < n; ++k) b.push_back(b[from + k]);  // may overlap itself
          }
      }
    }
    b.resize(target);
    s.push_back(b);
  }
  return s;
}

TEST(Compression, RoundTripsHoldForBothMethods) {
  const std::vector<Bytes> sources = RoundTripSources();
  for (int32_t method : {1, 2}) {
    for (size_t i = 0; i < sources.size(); ++i) {
      SCOPED_TRACE("method " + std::to_string(method) + " source " + std::to_string(i));
      const Bytes& source = sources[i];
      const Bytes form = Compress(source, method);
      EXPECT_LE(static_cast<int64_t>(form.size()), CompressedSizeBound(source.size()));
      EXPECT_EQ(Expand(form, static_cast<int32_t>(source.size()), method), source);
      // Bytes after the form do not change what it expands to.
      Bytes padded = Concat({form, Repeat(0x40, 64)});
      EXPECT_EQ(Expand(padded, static_cast<int32_t>(source.size()), method, nullptr,
                       static_cast<int32_t>(form.size())),
                source);
      if (method == 2) {  // an upper bound of the compressed length is enough
        EXPECT_EQ(Expand(padded, static_cast<int32_t>(source.size()), method, nullptr, 1 << 30),
                  source);
      }
      const int32_t k = static_cast<int32_t>(source.size());
      EXPECT_EQ(DKCompareKey(form, 0, source, 0, k, method), 0);
      // Keys are at most 16000 bytes, whose forms the comparison reads whole.
      EXPECT_EQ(DKCompareKeys(form, 0, form, 0, std::min(k, 16000), method), 0);
    }
  }
}

// The method-1 compressor step by step as the format is defined: scan from
// the segment start, stepping over each byte and the copies that follow it
// while they are fewer than four. The compressor finds the same stops a
// word at a time.
Bytes ModelRunLength(const Bytes& source) {
  const int64_t n = static_cast<int64_t>(source.size());
  Bytes out;
  for (int64_t s = 0; s < n;) {
    int64_t q = s;
    int64_t r = 0;
    bool run = false;
    while (q < std::min<int64_t>(s + 16384, n)) {
      const int64_t end = std::min<int64_t>(q + 1 + 16384, n);
      for (r = 0; q + 1 + r < end && source[q + 1 + r] == source[q];) ++r;
      if ((run = r >= 4)) break;
      q += 1 + r;
    }
    const int64_t k = run ? q - s + 1 : std::min<int64_t>(q - s, 16384);
    if (k <= 64) {
      out.push_back(static_cast<uint8_t>(k - 1));
    } else {
      out.push_back(static_cast<uint8_t>(0x40 | ((k - 65) >> 8)));
      out.push_back(static_cast<uint8_t>((k - 65) & 0xFF));
    }
    out.insert(out.end(), source.begin() + s, source.begin() + s + k);
    if (run) {
      out.push_back(static_cast<uint8_t>(0x80 | ((r - 3) >> 8)));
      out.push_back(static_cast<uint8_t>((r - 3) & 0xFF));
    }
    s += k + (run ? r : 0);
  }
  return out;
}

TEST(Compression, RunLengthFormsAgreeWithTheStepByStepModel) {
  std::vector<Bytes> sources = RoundTripSources();
  std::mt19937 rng(404);
  for (int i = 0; i < 300; ++i) {  // runs of every length around four and five
    Bytes b;
    const size_t target = rng() % 3000;
    while (b.size() < target) b.insert(b.end(), 1 + rng() % 7, static_cast<uint8_t>(rng() % 3));
    sources.push_back(b);
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Compress(sources[i], 1), ModelRunLength(sources[i]));
  }
}

void PutLeb(Bytes& out, uint64_t v) {
  for (; v >= 0x80; v >>= 7) out.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
  out.push_back(static_cast<uint8_t>(v));
}

// The method-2 compressor step by step as the format is defined: a plain
// table of positions (-1 empty), one candidate per position, each match
// extended to the end of the source and written in the shortest item its
// distance and length allow.
Bytes ModelBackReference(const Bytes& s) {
  const int64_t n = static_cast<int64_t>(s.size());
  Bytes out;
  if (n < 1) return out;
  std::vector<int64_t> slot(4096, -1);
  auto hash = [&](int64_t p) {
    return (1119 * s[p] + 961 * s[p + 1] + 31 * s[p + 2] + s[p + 3]) % 4096;
  };
  if (n >= 4) slot[hash(0)] = 0;
  int64_t pending = 0, p = 1, c = -1;
  for (;;) {
    for (;; ++p) {
      if (p >= n - 3) {
        p = n;
        break;
      }
      c = slot[hash(p)];
      slot[hash(p)] = p;
      if (c >= 0 && c < p && p - c <= 18440 && std::equal(&s[c], &s[c] + 3, &s[p]) &&
          (p - c < 2057 || s[c + 3] == s[p + 3]))
        break;
    }
    const int64_t k = p - pending;
    if (k > 0) {
      if (pending == 0) {
        out.push_back(static_cast<uint8_t>(k <= 255 ? k : 0));
        if (k > 255) PutLeb(out, k - 256);
      } else if (k <= 3) {
        out.back() |= static_cast<uint8_t>(k);
      } else if (k <= 34) {
        out.push_back(static_cast<uint8_t>(k - 3));
      } else {
        out.push_back(0x00);
        PutLeb(out, k - 35);
      }
      out.insert(out.end(), s.begin() + pending, s.begin() + p);
    }
    if (p == n) return out;
    int64_t l = 3;
    while (p + l < n && s[c + l] == s[p + l]) ++l;
    const int64_t d = p - c;
    if (d <= 8) {
      out.push_back(static_cast<uint8_t>(0x20 | ((d - 1) << 1) | ((l - 3) & 1)));
      uint64_t v = (l - 3) >> 1;
      for (; v >= 32; v >>= 7) out.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
      out.push_back(static_cast<uint8_t>(v << 2));
    } else if (d <= 2056) {
      const int64_t e = d - 9, m = l - 9;
      if (l <= 8) {
        out.push_back(static_cast<uint8_t>(((l - 1) << 5) | (e & 0x1F)));
      } else {
        out.push_back(static_cast<uint8_t>(0x30 | ((m >> 2) & 7)));
        for (uint64_t v = m >> 5; v != 0; v >>= 7)
          out.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
        out.push_back(static_cast<uint8_t>(((m & 3) << 5) | (e & 0x1F)));
      }
      out.push_back(static_cast<uint8_t>((e >> 5) << 2));
    } else {
      const int64_t e = d - 2057;
      out.push_back(static_cast<uint8_t>(l >= 11 ? 0x38 : 0x38 | (l - 3)));
      if (l >= 11) PutLeb(out, l - 11);
      out.push_back(static_cast<uint8_t>(e & 0xFF));
      out.push_back(static_cast<uint8_t>((e >> 8) << 2));
    }
    p += l;
    pending = p;
  }
}

TEST(Compression, BackReferenceFormsAgreeWithTheStepByStepModel) {
  std::vector<Bytes> sources = RoundTripSources();
  std::mt19937 rng(405);
  for (size_t n : {255u, 256u, 257u, 16639u, 16640u}) sources.push_back(RandomBytes(rng, n));
  for (int i = 0; i < 200; ++i) {  // copies of every length, from near, middle and far back
    Bytes b = RandomBytes(rng, 1 + rng() % 3000, 1 + rng() % 256);
    const size_t target = b.size() + rng() % 30000;
    while (b.size() < target) {
      const size_t back = 1 + rng() % std::min<size_t>(b.size(), rng() % 2 ? 64 : 20000);
      const size_t n = 3 + rng() % (rng() % 4 ? 12 : 400);
      for (size_t k = 0; k < n; ++k) b.push_back(b[b.size() - back]);
      const Bytes gap = RandomBytes(rng, rng() % 50);
      b.insert(b.end(), gap.begin(), gap.end());
    }
    sources.push_back(b);
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Compress(sources[i], 2), ModelBackReference(sources[i]));
  }
}

// The back-reference hash table outlives a compression; what earlier
// sources left in it must not change a form.
TEST(Compression, FormsDependOnTheSourceAlone) {
  const std::vector<Bytes> sources = RoundTripSources();
  std::vector<Bytes> fresh;  // each compressed first on a thread of its own
  for (const Bytes& source : sources) {
    std::thread([&] { fresh.push_back(Compress(source, 2)); }).join();
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < sources.size(); ++i) {
      const size_t j = pass == 0 ? i : sources.size() - 1 - i;
      ASSERT_EQ(Compress(sources[j], 2), fresh[j]) << j;
    }
  }
}

TEST(Compression, TooSmallADestinationIsRefusedAndNotOverrun) {
  std::mt19937 rng(5);
  const Bytes sources[] = {Repeat('a', 7), Text("abcdefghabcdefghabcdefgh"),
                           RandomBytes(rng, 3000)};
  for (int32_t method : {1, 2}) {
    for (const Bytes& source : sources) {
      const Bytes form = Compress(source, method);
      const int32_t n = static_cast<int32_t>(source.size());
      Bytes exact(form.size() + 2);
      int32_t length = 0;
      EXPECT_EQ(DKCompress(exact, 2, &length, source, 0, n, method),
                static_cast<int32_t>(form.size()));
      Bytes small(form.size() + 1);
      EXPECT_EQ(DKCompress(small, 2, &length, source, 0, n, method), kCompressBadParameter);
      EXPECT_EQ(length, kCompressBadParameter);
    }
  }
}

// --- Comparisons --------------------------------------------------------------

TEST(Compression, ComparisonsAgreeWithMemcmpOfThePlainKeys) {
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    // Two records sharing a prefix, so that differences fall inside matches,
    // repeats and literals alike.
    const size_t length = 1 + rng() % 400;
    Bytes a = rng() % 2 ? RandomBytes(rng, length, 3) : Repeat(static_cast<uint8_t>(rng()), length);
    if (rng() % 3 == 0)
      std::copy_n(Text("abcabcabcabc").begin(), std::min<size_t>(12, length), a.begin());
    Bytes b = a;
    const size_t at = rng() % length;
    for (size_t i = at; i < length; ++i) {
      if (rng() % 4 == 0) b[i] = static_cast<uint8_t>(rng() % 4 + 'a' - 1);
    }
    const int32_t k = static_cast<int32_t>(1 + rng() % length);
    for (int32_t method : {1, 2}) {
      SCOPED_TRACE("round " + std::to_string(round) + " method " + std::to_string(method));
      const Bytes fa = Compress(a, method);
      const Bytes fb = Compress(b, method);
      const int32_t expected = MemSign(a.data(), b.data(), k);
      ASSERT_EQ(DKCompareKey(fa, 0, b, 0, k, method), expected);
      ASSERT_EQ(DKCompareKey(fb, 0, a, 0, k, method), -expected);
      ASSERT_EQ(DKCompareKeys(fa, 0, fb, 0, k, method), expected);
      ASSERT_EQ(DKCompareKeys(fb, 0, fa, 0, k, method), -expected);
    }
  }
}

// Long records of every shape with one byte changed, so that the first
// difference falls inside literals, repeats and matches from near, middle
// and far back alike, or only beyond the key length.
TEST(Compression, ComparisonsAgreeWithMemcmpWhereverTheKeysDiffer) {
  std::mt19937 rng(77);
  for (const Bytes& a : RoundTripSources()) {
    if (a.size() < 2) continue;
    const size_t longest = std::min<size_t>(a.size(), 16000);
    for (int round = 0; round < 6; ++round) {
      Bytes b = a;
      const size_t at = rng() % longest;
      b[at] = static_cast<uint8_t>(rng() % 2 ? b[at] + (rng() % 2 ? 1 : -1) : rng());
      const int32_t k = static_cast<int32_t>(1 + rng() % longest);
      const int32_t expected = MemSign(a.data(), b.data(), k);
      for (int32_t method : {1, 2}) {
        SCOPED_TRACE("size " + std::to_string(a.size()) + " at " + std::to_string(at) + " k " +
                     std::to_string(k) + " method " + std::to_string(method));
        const Bytes fa = Compress(a, method);
        const Bytes fb = Compress(b, method);
        ASSERT_EQ(DKCompareKey(fa, 0, b, 0, k, method), expected);
        ASSERT_EQ(DKCompareKey(fb, 0, a, 0, k, method), -expected);
        ASSERT_EQ(DKCompareKeys(fa, 0, fb, 0, k, method), expected);
        ASSERT_EQ(DKCompareKeys(fb, 0, fa, 0, k, method), -expected);
      }
    }
  }
}

TEST(Compression, ComparisonsLookNoFurtherThanTheKeyLength) {
  const Bytes record = Concat({Text("customer-0042"), Repeat(0, 40), Text("tail")});
  Bytes other = record;
  other[20] = 1;  // differs only beyond a 13-byte key
  for (int32_t method : {1, 2}) {
    const Bytes form = Compress(record, method);
    const Bytes other_form = Compress(other, method);
    EXPECT_EQ(DKCompareKey(form, 0, other, 0, 13, method), 0);
    EXPECT_EQ(DKCompareKeys(form, 0, other_form, 0, 13, method), 0);
    EXPECT_EQ(DKCompareKey(form, 0, other, 0, 21, method), -1);
    EXPECT_EQ(DKCompareKeys(other_form, 0, form, 0, 21, method), 1);
    EXPECT_EQ(DKCompareKey(form, 0, other, 0, 0, method), 0);
    // The plain key is only read over the key length.
    EXPECT_EQ(DKCompareKey(form, 0, Bytes(record.begin(), record.begin() + 13), 0, 13, method), 0);
  }
}

TEST(Compression, AMethodOtherThanOneOrTwoIsAProgramError) {
  Bytes source = Text("abc"), out(64);
  int32_t length = 3;
  for (int32_t method : {0, 3, -1}) {
    try {
      DKCompress(out, 0, &length, source, 0, 3, method);
      ADD_FAILURE() << "no exception for method " << method;
    } catch (const ServerException& e) {
      EXPECT_EQ(e.reason(), 4);
    }
    EXPECT_THROW(DKExpand(out, 0, &length, source, 0, 3, method), ServerException);
    EXPECT_THROW(DKCompareKey(source, 0, source, 0, 3, method), ServerException);
    EXPECT_THROW(DKCompareKeys(source, 0, source, 0, 3, method), ServerException);
  }
}

TEST(Compression, FieldsOutsideTheirAreasAreBadParameters) {
  const Bytes source = Text("abcdefgh");
  const Bytes form = Compress(source, 1);
  Bytes out(16);
  int32_t length = 0;
  for (int32_t method : {1, 2}) {
    EXPECT_EQ(DKCompress(out, 0, &length, source, 1, 8, method), kCompressBadParameter);
    EXPECT_EQ(DKCompress(out, 17, &length, source, 0, 8, method), kCompressBadParameter);
    EXPECT_EQ(DKCompress(out, 0, &length, source, -1, 4, method), kCompressBadParameter);
    EXPECT_EQ(DKCompress(out, 0, &length, source, 0, 0, method), 0);
    EXPECT_EQ(DKCompress(out, 0, &length, source, 0, -5, method), 0);
    for (int32_t capacity : {-1, 17}) {
      length = capacity;
      EXPECT_EQ(DKExpand(out, 0, &length, form, 0, 9, method), kCompressBadParameter);
      EXPECT_EQ(length, 0);
    }
    length = 8;
    EXPECT_EQ(DKExpand(out, 9, &length, form, 0, 9, method), kCompressBadParameter);
    length = 8;
    EXPECT_EQ(DKExpand(out, 0, &length, form, 10, 1, method), kCompressBadParameter);
    length = 8;
    EXPECT_EQ(DKExpand(out, 0, &length, form, 0, 0, method), 0);  // produces nothing
    EXPECT_EQ(length, 0);
    EXPECT_EQ(DKCompareKey(form, 0, source, 4, 5, method), kCompressBadParameter);
    EXPECT_EQ(DKCompareKey(form, 10, source, 0, 5, method), kCompressBadParameter);
    EXPECT_EQ(DKCompareKeys(form, 0, form, 10, 5, method), kCompressBadParameter);
  }
  EXPECT_EQ(DKCompareKeys(form, 0, form, 0, kCompareKeyRoom + 1, 2), kCompressBadParameter);
}

// --- Corrupt forms ------------------------------------------------------------

TEST(Compression, CorruptFormsAreRefusedInsideTheirBuffers) {
  struct Case {
    const char* name;
    int32_t method;
    Bytes form;
    size_t good;  // bytes produced before the fault
  } cases[] = {
      {"tag 11", 1, {0x00, 'a', 0xC0, 0x01}, 1},
      {"repeat first", 1, {0x80, 0x02}, 0},
      {"literal past the end", 1, {0x05, 'a', 'b'}, 0},
      {"long literal without its count", 1, {0x00, 'a', 0x40}, 1},
      {"repeat without its count", 1, {0x00, 'a', 0x80}, 1},
      {"first run past the end", 2, {0x05, 'a', 'b'}, 0},
      {"first run length cut", 2, {0x00, 0x80}, 0},
      {"LEB of six bytes", 2, {0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, 0},
      {"LEB above 32 bits", 2, {0x00, 0x80, 0x80, 0x80, 0x80, 0x10}, 0},
      {"reference before the start", 2, {0x01, 'a', 0x22, 0x00}, 1},
      {"far reference before the start", 2, {0x01, 'a', 0x39, 0x00, 0x00}, 1},
      {"near match cut", 2, {0x01, 'a', 0x20}, 1},
      {"near match of five groups", 2, {0x01, 'a', 0x20, 0x81, 0x81, 0x81, 0x81, 0x81, 0x00}, 1},
      {"middle match cut", 2, {0x01, 'a', 0x30, 0x00}, 1},
      {"far match cut", 2, {0x01, 'a', 0x38, 0x05, 0x00}, 1},
      {"short middle cut", 2, {0x02, 'a', 'a', 0x40}, 2},
      {"trailing literals missing", 2, {0x01, 'a', 0x20, 0x03, 'x'}, 4},
      {"literal run past the end", 2, {0x01, 'a', 0x20, 0x00, 0x05, 'x'}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t rc = 0;
    const Bytes out = Expand(c.form, 100, c.method, &rc);
    EXPECT_EQ(rc, kCompressCorrupt);
    EXPECT_EQ(out.size(), c.good);
    const Bytes key(100, 'a');
    EXPECT_EQ(DKCompareKey(c.form, 0, key, 0, 100, c.method), kCompressCorrupt);
    EXPECT_EQ(DKCompareKeys(c.form, 0, c.form, 0, 100, c.method), kCompressCorrupt);
  }
}

// Valid forms with bytes changed, cut or inserted, and plain random bytes:
// every routine stays inside its buffers, reports corruption or a result in
// range, and where the expander accepts a form the comparisons agree with it.
TEST(Compression, RandomlyCorruptedFormsNeverLeaveTheirBuffers) {
  std::mt19937 rng(31337);
  const std::vector<Bytes> sources = RoundTripSources();
  for (int round = 0; round < 6000; ++round) {
    const int32_t method = 1 + round % 2;
    Bytes form;
    if (round % 10 == 0) {
      form = RandomBytes(rng, rng() % 200);
    } else {
      const Bytes& source = sources[rng() % sources.size()];
      form = Compress(Bytes(source.begin(), source.begin() + std::min<size_t>(source.size(), 600)),
                      method);
      const int edits = 1 + rng() % 3;
      for (int e = 0; e < edits && !form.empty(); ++e) {
        const size_t at = rng() % form.size();
        switch (rng() % 3) {
          case 0:
            form[at] = static_cast<uint8_t>(rng());
            break;
          case 1:
            form.resize(at);
            break;
          default:
            form.insert(form.begin() + at, static_cast<uint8_t>(rng()));
        }
      }
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const int32_t capacity = static_cast<int32_t>(rng() % 700);
    int32_t rc = 0;
    const Bytes plain = Expand(form, capacity, method, &rc);
    ASSERT_TRUE(rc == 0 || rc == kCompressCorrupt) << rc;
    const Bytes key = RandomBytes(rng, capacity, 2);
    const int32_t c = DKCompareKey(form, 0, key, 0, capacity, method);
    ASSERT_TRUE(c >= -1 || c == kCompressCorrupt) << c;
    if (rc == 0 && static_cast<int32_t>(plain.size()) == capacity && capacity > 0) {
      ASSERT_EQ(c, MemSign(plain.data(), key.data(), capacity));
      ASSERT_EQ(DKCompareKey(form, 0, plain, 0, capacity, method), 0);
      ASSERT_EQ(DKCompareKeys(form, 0, form, 0, capacity, method), 0);
    }
    const Bytes other = Compress(key, method);
    const int32_t cc = DKCompareKeys(form, 0, other, 0, capacity, method);
    ASSERT_TRUE(cc >= -1 || cc == kCompressCorrupt) << cc;
    const int32_t cr = DKCompareKeys(other, 0, form, 0, capacity, method);
    ASSERT_TRUE(cr >= -1 || cr == kCompressCorrupt) << cr;
  }
}

}  // namespace
