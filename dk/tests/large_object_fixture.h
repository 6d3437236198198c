// A databank file and a small kernel word storage for the large-object
// tests: page lists made in the storage, requests sent through DKEXE2, and
// the bitmap's free units summed over every chunk of the file.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dk/large_object.h"
#include "dk/request.h"
#include "dk/tests/bufferpool_fixture.h"
#include "dk/word_storage_access.h"

// The kernel word storage as the large-object routines see it: 1-based
// words, blocks handed out from the bottom up and never reused, so that an
// index from an earlier test part never names a later block by chance.
class TestWordStorage {
 public:
  explicit TestWordStorage(int32_t words) : words_(static_cast<size_t>(words), 0) {}
  void Install() {
    current_ = this;
    DKInstallWordStorageAccess(&kAccess);
  }
  static void Uninstall() {
    DKInstallWordStorageAccess(nullptr);
    current_ = nullptr;
  }
  int32_t& operator[](int32_t index) { return words_[static_cast<size_t>(index - 1)]; }
  int32_t Size() const { return static_cast<int32_t>(words_.size()); }
  // A page list of `pairs` pairs: its index (the capacity stands before it).
  int32_t NewList(int32_t pairs) {
    int32_t block = Allocate(pairs * 8 + 8);
    if (block == 0) return 0;
    (*this)[block] = pairs;
    return block + 1;
  }

 private:
  static int32_t* Words(int32_t index, int32_t count) {
    if (int64_t{index} - 1 + count > current_->Size()) return nullptr;
    return current_->words_.data() + index - 1;
  }
  static int32_t AllocateHook(int32_t bytes) { return current_->Allocate(bytes); }
  static void Release(int32_t) {}
  int32_t Allocate(int32_t bytes) {
    int32_t words = (bytes + 3) / 4;
    if (next_ + words > Size()) return 0;
    int32_t block = next_;
    next_ += words + 1;  // a gap word, so that overruns show
    std::fill_n(words_.begin() + block - 1, words, 0);
    return block;
  }
  static inline TestWordStorage* current_ = nullptr;
  static constexpr DKWordStorageAccess kAccess{Words, AllocateHook, Release};
  std::vector<int32_t> words_;
  int32_t next_ = 2;
};

class LargeObjectTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    storage_.Install();
    db_ = Create("lob", 4000);
  }
  void TearDown() override {
    TestWordStorage::Uninstall();
    PageTest::TearDown();
  }

  struct Object {
    int32_t list = 0;
    int32_t identity[3] = {0, 0, 0};
  };

  // A request block for `object` with a 64-bit value at `word`.
  std::vector<int32_t> Request(const Object& o, int64_t value = 0, int word = LOB_OFFSET,
                               int32_t mode = 0) {
    std::vector<int32_t> b(LOB_WORDS, 0);
    b[LOB_STATUS] = mode;
    b[LOB_DID] = 5;
    b[LOB_LIST] = o.list;
    for (int i = 0; i < 3; ++i) b[LOB_IDENTITY + i] = o.identity[i];
    b[word] = static_cast<int32_t>(static_cast<uint64_t>(value));
    b[word + 1] = static_cast<int32_t>(static_cast<uint64_t>(value) >> 32);
    return b;
  }

  // A new object with room for `pairs` pages, allocated for `length` bytes.
  int32_t Allocate(Object* o, int64_t length, int32_t pairs = 400, int32_t id = 1) {
    if (o->list == 0) o->list = storage_.NewList(pairs);
    o->identity[0] = id;
    o->identity[1] = 0x5a5a;
    o->identity[2] = -id;
    auto b = Request(*o, length, LOB_LENGTH);
    int32_t index = o->list;
    DKEXE2(DKF_ALO1, b.data(), &index);
    return b[LOB_STATUS];
  }
  int32_t Put(const Object& o, int64_t offset, const std::string& bytes, int32_t mode = 0) {
    auto b = Request(o, offset, LOB_OFFSET, mode);
    b[LOB_COUNT] = static_cast<int32_t>(bytes.size());
    DKEXE2(DKF_PLO1, b.data(), const_cast<char*>(bytes.data()));
    return b[LOB_STATUS];
  }
  // The bytes delivered; the status in *rc.
  std::string Get(const Object& o, int64_t offset, int32_t count, int32_t* rc = nullptr) {
    std::string out(static_cast<size_t>(count), '\0');
    auto b = Request(o, offset);
    b[LOB_COUNT] = count;
    DKEXE2(DKF_GLO1, b.data(), out.data());
    if (rc)
      *rc = b[LOB_STATUS];
    else
      EXPECT_EQ(b[LOB_STATUS], 0);
    EXPECT_GE(b[LOB_COUNT], 0);
    EXPECT_LE(b[LOB_COUNT], count);
    out.resize(static_cast<size_t>(std::max(0, b[LOB_COUNT])));
    return out;
  }
  int32_t Free(const Object& o) {
    auto b = Request(o);
    DKEXE2(DKF_FLX1, b.data(), nullptr);
    return b[LOB_STATUS];
  }
  // The listed (page, size) pairs.
  std::vector<std::pair<int32_t, int32_t>> Pages(const Object& o) {
    std::vector<std::pair<int32_t, int32_t>> pages;
    for (int32_t i = o.list; storage_[i] != 0; i += 2)
      pages.emplace_back(storage_[i], storage_[i + 1]);
    return pages;
  }
  // Free units over every chunk of the file (of `databank`, 0: db_).
  int64_t FreeUnits(int32_t databank = 0) {
    int64_t free = 0;
    for (int32_t unit = 0;;) {
      int32_t b = Get(databank != 0 ? databank : db_, unit, kUnitBytes, GET_SHARED);
      EXPECT_GT(b, 0);
      if (b <= 0) return -1;
      free += PageWord(PageBytes(b), BMP_FREE);
      int32_t next = PageWord(PageBytes(b), BMP_NEXT);
      DKPUT0(PUT_END_SHARED, b);
      if (next != unit + kBitmapChunkUnits) return free;
      unit = next;
    }
  }
  using PageTest::Get;

  // Writes every changed page and drops the databank's buffers, so that the
  // next get reads the file.
  void FlushAndDrop() {
    int32_t pag[PAGREQ_WORDS] = {db_, 0, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
    ASSERT_EQ(DKPAG0(pag, PAG_DROP), 0);
  }

  TestWordStorage storage_{1 << 20};
  int32_t db_ = 0;
};

// Bytes that differ from position to position and from object to object.
inline std::string Pattern(int64_t length, uint32_t seed) {
  std::string s(static_cast<size_t>(length), '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}
