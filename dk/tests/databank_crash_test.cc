// Crashes of a databank file while it grows. The fault file system cuts the
// power at every changing call of a file extension and of the start of a new
// chunk (alone, and after one failed write), the crash keeps none, all or a
// torn half of each page that was not synced, and the reopened file's bitmap
// pages and header must agree with the units that reached disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

// Word `word` of a unit image, as the file holds it (little-endian).
int32_t Word(const std::vector<char>& page, int word) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(page[4 * word + i]);
  return static_cast<int32_t>(v);
}

bool Bit(const std::vector<char>& page, int32_t bit) {
  return (static_cast<uint8_t>(page[kBitmapFirstByte + bit / 8]) & (0x80 >> (bit % 8))) != 0;
}

// A way of growing a file: the units it is created with, what is done to it
// on disk once it is closed, and the growth itself on the open entry (which
// it may open itself: it returns the entry, 0 when none is open).
struct Growth {
  const char* what;
  int32_t units;
  std::function<void(std::vector<char>& bitmap)> prepare;
  bool open_first;  // the growth runs on an entry opened before the cut
  std::function<int32_t(class DatabankCrashTest&, int32_t entry)> grow;
};

class DatabankCrashTest : public PageTest {
 public:
  static constexpr const char* kName = "crash";

  int32_t OpenEntry(int32_t units) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_UNITS] = units;
    rq[CRD_DID] = 5;
    rq[CRD_SEQNO] = 3;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), kName);
    return DKCRD1(rq.data()) == 0 ? rq[CRD_UNITS] : 0;
  }

  int32_t Allocate(int32_t entry, int32_t page_size) {
    int32_t rq[REQ_WORDS] = {entry, 0, page_size, 0, -1, 0};
    return DKHLD0(rq, 0) == 0 ? rq[REQ_PAGE] : 0;
  }

 protected:
  // A new file as the growth wants it, closed, with everything on disk.
  void Fresh(const Growth& g) {
    std::filesystem::remove(Path(kName));
    int32_t entry = Create(kName, g.units);
    Close(entry);
    open_.clear();
    if (g.prepare) {
      std::vector<char> bitmap = FileUnit(kName, 0);
      g.prepare(bitmap);
      std::fstream out(Path(kName), std::ios::in | std::ios::out | std::ios::binary);
      out.write(bitmap.data(), kUnitBytes);
    }
  }

  // Runs the growth; returns the changing calls it made.
  int RunGrowth(const Growth& g) {
    int32_t entry = g.open_first ? OpenEntry(0) : 0;
    EXPECT_TRUE(!g.open_first || entry > 0);
    const int before = fault_.changes();
    entry = g.grow(*this, entry);
    const int made = fault_.changes() - before;
    if (entry > 0) ReleaseDatabank(entry, true);
    return made;
  }

  // The file read as it lies on disk: the header is the one created, every
  // bitmap page the chain names is in the file and is a bitmap page whose
  // free count matches its map, the last one names a last unit inside its
  // chunk and inside the file, and no unit past that is in use. The units
  // in `used` are in use.
  ::testing::AssertionResult Agrees(const std::vector<int32_t>& used) {
    const int64_t size = FileSize(kName);
    if (size % kUnitBytes != 0) return ::testing::AssertionFailure() << "size " << size;
    const int64_t units = size / kUnitBytes;
    std::vector<char> header = FileUnit(kName, kHeaderUnit);
    const int32_t expected[][2] = {{HDR_KIND, ROOT_PAGE_KIND},
                                   {HDR_CREATOR_VERSION, 913},
                                   {HDR_FORMAT, 9},
                                   {HDR_DID, 5},
                                   {HDR_SEQNO, 3},
                                   {HDR_NEXT_ROOT, 0}};
    for (auto [word, value] : expected)
      if (Word(header, word) != value)
        return ::testing::AssertionFailure()
               << "header word " << word << " is " << Word(header, word);
    int64_t last = -1;
    for (int32_t bitmap = 0; last < 0; bitmap += kBitmapChunkUnits) {
      if (bitmap >= units)
        return ::testing::AssertionFailure() << "bitmap page " << bitmap << " past the end";
      std::vector<char> page = FileUnit(kName, bitmap);
      const int32_t next = Word(page, BMP_NEXT);
      if (next != bitmap + kBitmapChunkUnits) {
        if (next < bitmap || next >= bitmap + kBitmapChunkUnits || next >= units)
          return ::testing::AssertionFailure()
                 << "bitmap page " << bitmap << " names unit " << next << " of " << units;
        last = next;
      }
      int32_t clear = 0;
      for (int32_t bit = 0; bit < kBitmapChunkUnits; ++bit) {
        clear += !Bit(page, bit);
        if (Bit(page, bit) && last >= 0 && bitmap + bit > last)
          return ::testing::AssertionFailure() << "unit " << bitmap + bit << " past the end in use";
      }
      if (!Bit(page, 0) || (bitmap == 0 && !Bit(page, 1)) || Word(page, BMP_FREE) != clear)
        return ::testing::AssertionFailure()
               << "bitmap page " << bitmap << " free " << Word(page, BMP_FREE) << " of " << clear;
      for (int32_t unit : used)
        if (BitmapUnitOf(unit) == bitmap && !Bit(page, unit - bitmap))
          return ::testing::AssertionFailure() << "unit " << unit << " lost";
    }
    return ::testing::AssertionSuccess();
  }

  // Cuts the power after each changing call of the growth in turn (and,
  // with `fail_write`, also fails the write of that number), crashes as the
  // plan says, and checks the file, reopens it and grows it to the end.
  void CrashEverywhere(const Growth& g, const std::vector<int32_t>& used) {
    Fresh(g);
    const int writes = fault_.writes();
    const int calls = RunGrowth(g);
    const int growth_writes = fault_.writes() - writes;
    ASSERT_GT(calls, 0);
    ASSERT_TRUE(Agrees(used));
    const int64_t half = kUnitBytes / 2;
    const FaultFileSystem::CrashPlan plans[] = {
        {},
        {[](const std::string&, int64_t) -> int64_t { return kUnitBytes; }, nullptr},
        {[half](const std::string&, int64_t) { return half; }, nullptr},
    };
    for (int fail_write = 0; fail_write <= growth_writes; ++fail_write) {
      for (int cut = 0; cut <= calls + 4; ++cut) {
        // The plans differ only where the cut left pages unsynced.
        bool unsynced = true;
        for (size_t plan = 0; plan < std::size(plans) && unsynced; ++plan) {
          SCOPED_TRACE(testing::Message() << g.what << ": write " << fail_write << " fails, cut "
                                          << cut << ", plan " << plan);
          Fresh(g);
          // The open before the growth (a write and a sync) is not part of it.
          fault_.CutPowerAfter(cut + (g.open_first ? 2 : 0));
          if (fail_write > 0) fault_.FailNthWrite(fail_write + (g.open_first ? 1 : 0), EIO);
          RunGrowth(g);
          unsynced = !fault_.UnsyncedPages(Path(kName)).empty();
          fault_.Crash(plans[plan]);
          ASSERT_TRUE(Agrees(used));
          const int32_t entry = g.grow(*this, g.open_first ? OpenEntry(0) : 0);
          ASSERT_GT(entry, 0);
          Close(entry);
          open_.clear();
          ASSERT_TRUE(Agrees(used));
        }
      }
    }
  }
};

// Chunk 0 of a file with every unit in use.
void FillFirstChunk(std::vector<char>& bitmap) {
  std::fill(bitmap.begin() + kBitmapFirstByte, bitmap.end(), static_cast<char>(0xFF));
  std::fill(bitmap.begin() + 4 * BMP_FREE, bitmap.begin() + 4 * BMP_FREE + 4, 0);
}

// Units 0..199 in use in a file of 200 units.
void FillTo200(std::vector<char>& bitmap) {
  std::fill(bitmap.begin() + kBitmapFirstByte, bitmap.begin() + kBitmapFirstByte + 25,
            static_cast<char>(0xFF));
  const int32_t free = kBitmapChunkUnits - 200;
  for (int i = 0; i < 4; ++i) bitmap[4 * BMP_FREE + i] = static_cast<char>(free >> (8 * i));
}

TEST_F(DatabankCrashTest, ExtensionInsideItsChunk) {
  CrashEverywhere({"open with extension", 200, nullptr, false,
                   [](DatabankCrashTest& t, int32_t) { return t.OpenEntry(300); }},
                  {});
}

TEST_F(DatabankCrashTest, ExtensionIntoANewChunk) {
  CrashEverywhere({"open with extension into a new chunk", 16200, nullptr, false,
                   [](DatabankCrashTest& t, int32_t) { return t.OpenEntry(300); }},
                  {});
}

TEST_F(DatabankCrashTest, AllocationThatGrowsTheFile) {
  std::vector<int32_t> used;
  for (int32_t u = 2; u < 200; u += 37) used.push_back(u);
  CrashEverywhere({"allocation past the end", 200, FillTo200, true,
                   [](DatabankCrashTest& t, int32_t entry) {
                     if (entry > 0) t.Allocate(entry, 2048);
                     return entry;
                   }},
                  used);
}

TEST_F(DatabankCrashTest, AllocationThatStartsANewChunk) {
  CrashEverywhere({"allocation in a new chunk", kBitmapChunkUnits, FillFirstChunk, true,
                   [](DatabankCrashTest& t, int32_t entry) {
                     if (entry > 0) t.Allocate(entry, 16384);
                     return entry;
                   }},
                  {2, 100, 16255});
}

}  // namespace
