// A databank file with tables for the tree and record tests: creating
// tables, sending record requests through the dispatcher, and a reader of a
// whole tree that checks every page and returns the records in key order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/compression.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/record_routines.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "dk/tests/bufferpool_fixture.h"

class TableTest : public PageTest {
 protected:
  void Shape() override {
    PageTest::Shape();
    params_.counts[CNT_TABLES] = 90;
  }
  void SetUp() override {
    PageTest::SetUp();
    db_ = Create("tables", 4000);
  }

  struct Table {
    int32_t entry = 0;
    int32_t tbl = 0;
    int32_t key = 0;
    int32_t length = 0;
  };

  // Creates a table (type code 10: kind 1, type 0); the status in *rc.
  Table CreateTable(int32_t tbl, int32_t key, int32_t length, int32_t data_size = 0,
                    int32_t index_size = 0, int32_t* rc = nullptr, int32_t method = 0) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 10;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = key;
    b[RQ_RECORD_LENGTH] = length;
    b[RQ_INDEX_PAGE_SIZE] = index_size;
    b[RQ_DATA_PAGE_SIZE] = data_size;
    b[RQ_METHOD] = method;
    DKEXE1(16, b);
    if (rc)
      *rc = b[RQ_STATUS];
    else
      EXPECT_EQ(b[RQ_STATUS], 0);
    return {b[RQ_TABLE], tbl, key, length};
  }

  // A request block for `code` carrying `record`.
  static std::vector<int32_t> Block(const Table& t, const std::string& record, int32_t mode = 0) {
    std::vector<int32_t> b(RQ_RECORD + record.size() / 4 + 2, 0);
    b[RQ_STATUS] = mode;
    b[RQ_TABLE] = t.entry;
    b[RQ_TBL] = t.tbl;
    b[RQ_RECORD_LENGTH] = static_cast<int32_t>(record.size());
    std::memcpy(b.data() + RQ_RECORD, record.data(), record.size());
    return b;
  }
  static int32_t Send(int32_t code, const Table& t, const std::string& record, int32_t mode = 0) {
    auto b = Block(t, record, mode);
    DKEXE1(code, b.data());
    return b[RQ_STATUS];
  }
  int32_t Insert(const Table& t, const std::string& r, int32_t mode = 0) {
    return Send(38, t, r, mode);
  }
  // `before`: the length of the stored form the update replaces.
  int32_t Update(const Table& t, const std::string& r, int32_t mode = 0, int32_t before = 0) {
    auto b = Block(t, r, mode);
    b[RQ_BEFORE_LENGTH] = before;
    DKEXE1(55, b.data());
    return b[RQ_STATUS];
  }
  int32_t Delete(const Table& t, const std::string& r, int32_t mode = 0) {
    return Send(20, t, r, mode);
  }
  int32_t Check(const Table& t, const std::string& r, int32_t mode = 0) {
    return Send(10, t, r, mode);
  }

  // The root entry of a table (words -1..8).
  std::vector<int32_t> RootEntry(const Table& t) {
    int32_t record = 0;
    int32_t b = GetRootEntry(t.entry, GET_SHARED, 10, &record);
    EXPECT_GT(b, 0);
    if (b <= 0) return std::vector<int32_t>(kRootEntryWords, -1);
    std::vector<int32_t> e(Bufferpool() + record - 1, Bufferpool() + record - 1 + kRootEntryWords);
    DKPUT0(PUT_END_SHARED, b);
    return e;
  }
  int32_t Top(const Table& t) { return RootEntry(t)[0]; }
  int32_t Levels(const Table& t) { return RootEntry(t)[1]; }

  // Reads the whole tree of a table, checking every page: entry lengths,
  // used ends, keys ascending within and across pages, each page's last key
  // not above its parent entry's key, the fill key ending every level, and
  // all leaves on the last level. Appends the records in key order.
  struct TreeShape {
    std::vector<std::string> records;
    std::vector<int32_t> leaf_counts;
    int32_t pages = 0;
  };
  TreeShape ReadTree(const Table& t) {
    TreeShape shape;
    std::vector<int32_t> e = RootEntry(t);
    int32_t top = e[0], levels = e[1], k = e[2], length = e[3];
    int32_t leaf = e[7], inner = e[8];
    if (levels == 0) {
      EXPECT_EQ(top, 0);
      return shape;
    }
    std::string fill(static_cast<size_t>(k), '\xFF');
    method_ = e[9];
    Walk(t, top, 1, levels, k, length, leaf, inner, fill, &shape);
    for (size_t i = 1; i < shape.records.size(); ++i)
      EXPECT_LT(shape.records[i - 1].substr(0, k), shape.records[i].substr(0, k)) << i;
    return shape;
  }

  void Walk(const Table& t, int32_t page, int32_t level, int32_t levels, int32_t k, int32_t length,
            int32_t leaf, int32_t inner, const std::string& bound, TreeShape* shape) {
    int32_t size = level == levels ? leaf : inner;
    int32_t l = level == levels ? length : k + 4;
    int32_t b = Get(db_, page, size, GET_SHARED);
    ASSERT_GT(b, 0) << "page " << page;
    std::vector<uint8_t> p(PageBytes(b), PageBytes(b) + size);
    DKPUT0(PUT_END_SHARED, b);
    ++shape->pages;
    if (level == levels && method_ != 0) return WalkDirectory(p, size, length, k, bound, shape);
    ASSERT_TRUE(FixedPageOrdered(p.data(), size, l, k)) << "page " << page;
    int32_t u = UsedEnd(p.data());
    if (level < levels) {
      ASSERT_GT(u, kPageHeaderBytes) << "empty index page " << page;
    }
    if (u > kPageHeaderBytes) {
      std::string last(reinterpret_cast<char*>(p.data()) + u - l, static_cast<size_t>(k));
      EXPECT_LE(last, bound) << "page " << page;
      if (level < levels && bound == std::string(static_cast<size_t>(k), '\xFF')) {
        EXPECT_EQ(last, bound) << "no fill key at the end of page " << page;
      }
    }
    if (level == levels) {
      shape->leaf_counts.push_back((u - kPageHeaderBytes) / l);
      for (int32_t o = kPageHeaderBytes; o < u; o += l)
        shape->records.emplace_back(reinterpret_cast<char*>(p.data()) + o, static_cast<size_t>(l));
      return;
    }
    for (int32_t o = kPageHeaderBytes; o < u; o += l) {
      std::string key(reinterpret_cast<char*>(p.data()) + o, static_cast<size_t>(k));
      Walk(t, LoadChild(p.data() + o + k), level + 1, levels, k, length, leaf, inner, key, shape);
    }
  }

  // A directory leaf: each entry expanded to the whole record.
  void WalkDirectory(const std::vector<uint8_t>& p, int32_t size, int32_t length, int32_t k,
                     const std::string& bound, TreeShape* shape) {
    ASSERT_TRUE(DirPageSound(p.data(), size, length));
    int32_t n = DirCount(p.data(), size);
    shape->leaf_counts.push_back(n);
    for (int32_t i = 1; i <= n; ++i) {
      std::string r(static_cast<size_t>(length), '\0');
      int32_t produced = length;
      ASSERT_EQ(DKExpand(ByteSpan(reinterpret_cast<uint8_t*>(r.data()), r.size()), 0, &produced,
                         ConstByteSpan(p), DirOffset(p.data(), size, i),
                         DirLength(p.data(), size, i), method_),
                0);
      ASSERT_EQ(produced, length);
      if (i == n) {
        EXPECT_LE(r.substr(0, static_cast<size_t>(k)), bound);
      }
      shape->records.push_back(r);
    }
  }

  // Whether a page's units are in use in the bitmap of the first chunk.
  bool InUse(int32_t page) {
    int32_t b = Get(db_, 0, kUnitBytes, GET_SHARED);
    bool used = BitmapBit(PageBytes(b), page);
    DKPUT0(PUT_END_SHARED, b);
    return used;
  }

  void Flush() {
    int32_t pag[PAGREQ_WORDS] = {db_, 0, 0, 0, -1, 0, 0, 0};
    EXPECT_EQ(DKPAG0(pag, 1), 0);
  }

  int32_t db_ = 0;
  int32_t method_ = 0;
};

// A record of `length` bytes whose key is `key` (as many bytes of it as the
// key holds, zero-padded) and whose rest is filled with `fill`.
inline std::string MakeRecord(const std::string& key, int32_t key_length, int32_t length,
                              char fill = 'r') {
  std::string r(static_cast<size_t>(length), fill);
  std::string k = key;
  k.resize(static_cast<size_t>(key_length), '\0');
  r.replace(0, static_cast<size_t>(key_length), k);
  return r;
}
