// The dump file header and the word storage dump (see storage_dump.h). The
// walk over classes and extents checks every index against the storage's
// WORDS before reading, so a damaged storage dumps without reading outside.
#include "kernel/storage_dump.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "kernel/word_storage.h"
#include "platform/bytes.h"
#include "platform/number_text.h"
#include "platform/server_clock.h"

using namespace sqlpool;

void DumpFileHeader(int32_t* status, uint8_t* area, int32_t* length, const char* id,
                    int32_t id_length) {
  if (*length < DUMP_HEADER_BYTES) {
    *status = -1;
    return;
  }
  std::memset(area, 0, DUMP_HEADER_BYTES);
  std::memcpy(area, id, std::clamp(id_length, 0, 20));
  std::memcpy(area + 20, "L006", 4);
  char version[80];
  int32_t n = sizeof version;
  version_text(1, version, &n);
  std::memcpy(area + 36, version, std::clamp(n, 0, 80));
  std::memcpy(area + 116, "Windows", 7);
  char stamp[16];
  MDRPDT(stamp);
  std::memcpy(area + 132, stamp, 16);
  *status = 0;
  *length = DUMP_HEADER_BYTES;
}

namespace {

class DumpFile {
 public:
  explicit DumpFile(StatusPair* status) : status_(status) {}
  bool Open(const char* path) {
    // Session data: readable and writable by the owner only.
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    *status_ = {DUMP_OPEN_ERROR, static_cast<int32_t>(0x500c0000u | uint32_t(errno))};
    return false;
  }
  bool Write(const void* bytes, size_t count) {
    const char* p = static_cast<const char*>(bytes);
    while (count > 0) {
      const ssize_t done = ::write(fd_, p, count);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        *status_ = {DUMP_WRITE_ERROR, static_cast<int32_t>(0x500b0000u | uint32_t(errno))};
        Close();
        return false;
      }
      p += done;
      count -= done;
    }
    return true;
  }
  bool Word(int32_t w) {
    uint8_t b[4];
    store_le32(b, static_cast<uint32_t>(w));
    return Write(b, 4);
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  ~DumpFile() { Close(); }

 private:
  StatusPair* status_;
  int fd_ = -1;
};

bool Segment(DumpFile& f, const int32_t* base, int64_t index, int32_t words) {
  std::vector<uint8_t> bytes(4 * size_t(words));
  for (int32_t i = 0; i < words; ++i) store_le32(&bytes[4 * i], uint32_t(base[index - 1 + i]));
  std::vector<uint8_t> packed;
  DumpCompress(bytes.data(), int64_t(bytes.size()), &packed);
  return f.Word(words) && f.Word(static_cast<int32_t>(index)) &&
         f.Write(packed.data(), packed.size());
}

struct Extent {
  int32_t index, words;
};

// The class records to dump (offsets), in order, and each one's extents;
// everything read lies inside the header or below WORDS.
std::vector<std::pair<int32_t, std::vector<Extent>>> Classes(const int32_t* base) {
  std::vector<std::pair<int32_t, std::vector<Extent>>> out;
  const int64_t words = base[WORDS], low = base[LOWIX];
  int64_t c = base[FIRST_POMC];
  const int32_t stride = base[LENW_POMC] == POMC_WORDS ? POMC_WORDS : POMC_WORDS;
  for (int k = 0; k < CLASSES; ++k, c += stride) {
    if (c < 1 || c + POMC_WORDS > HEADER_WORDS + 1) break;
    std::vector<Extent> extents;
    int64_t e = base[c + FIRST_EXT];
    if (e >= low && e <= words) {
      for (int64_t steps = 0; e > 0 && steps < words / 8 + 1; ++steps) {
        if (e < low || e + 1 > words) break;
        const int64_t n = base[e];  // the length word follows the link word
        if (n < 1 || e - 1 + n > words) break;
        extents.push_back({static_cast<int32_t>(e), static_cast<int32_t>(n)});
        const int64_t next = base[e - 1];
        if (next <= e) break;  // the list ascends after the first extent
        e = next;
      }
    }
    out.emplace_back(static_cast<int32_t>(c), extents);
    if (base[c + POOLLIMIT] < 1) break;
  }
  return out;
}

void Entry(std::string* text, const char* name, std::initializer_list<int32_t> values) {
  *text += "\r\n";
  *text += name;
  for (int32_t v : values) {
    uint8_t field[11];
    if (mdr_int_to_text(ByteSpan(field, 11), 0, 11, v) < 0 || v == INT32_MIN)
      std::memset(field, '.', 11);
    text->append(reinterpret_cast<char*>(field), 11);
  }
}

void Check(std::string* text, int32_t value, int32_t expected, const char* note) {
  if (value == expected) return;
  *text += note;
  Entry(text, "Value should be ", {expected});
}

std::string Listing(const int32_t* base,
                    const std::vector<std::pair<int32_t, std::vector<Extent>>>& classes) {
  std::string t;
  Entry(&t, "WORDS      ", {base[WORDS]});
  Entry(&t, "LOWIX      ", {base[LOWIX]});
  Entry(&t, "RESERV     ", {base[RESERV]});
  Entry(&t, "NO_POMC    ", {base[NO_POMC]});
  Check(&t, base[NO_POMC], CLASSES, " NO_POMC have a faulty value. ");
  Entry(&t, "FIRST_POMC ", {base[FIRST_POMC]});
  Entry(&t, "LENW_POMC  ", {base[LENW_POMC]});
  Check(&t, base[LENW_POMC], POMC_WORDS, " LENW_POMC have a faulty value. ");
  Entry(&t, "LEFT_WORDS", {base[LEFT_WORDS]});
  Entry(&t, "ALLOC_WORDS", {base[ALLOC_WORDS]});
  Entry(&t, "SEMAPHORE  ",
        {base[SEMAPHORE], base[SEMAPHORE + 1], base[SEMAPHORE + 2], base[SEMAPHORE + 3]});
  Entry(&t, "POMC       ", {base[FIRST_POMC]});
  Check(&t, base[FIRST_POMC], POMC, " FIRST_POMC have a faulty value. ");
  for (const auto& [c, extents] : classes) {
    Entry(&t, "FREE_DSA   ", {base[c - 1]});
    Entry(&t, "POOLID     ", {base[c + POOLID]});
    Entry(&t, "POOLLIMIT  ", {base[c + POOLLIMIT]});
    Entry(&t, "ALLOCS     ", {base[c + ALLOCS]});
    Entry(&t, "DEALLOCS   ", {base[c + DEALLOCS]});
    Entry(&t, "EXTENTS    ", {base[c + EXTENTS]});
    Entry(&t, "FIRST_EXT  ", {base[c + FIRST_EXT]});
    Entry(&t, "LASTSIZEW  ", {base[c + LASTSIZEW]});
    Entry(&t, "USED_WORDS ", {base[c + USED_WORDS]});
    const int32_t s = c + POMC_SEMAPHORE;
    Entry(&t, "SEMAPHORE  ", {base[s], base[s + 1], base[s + 2], base[s + 3]});
    for (const Extent& e : extents) {
      Entry(&t, "INDEX      ", {e.index});
      Entry(&t, "WORDS      ", {e.words});
    }
  }
  return t;
}

}  // namespace

int32_t DumpSqlPool(StatusPair* status, const int32_t* base, const char* path) {
  *status = StatusPair{0, 0};
  DumpFile f(status);
  if (!f.Open(path)) return -1;
  uint8_t header[256];
  int32_t length = sizeof header, rc = 0;
  DumpFileHeader(&rc, header, &length, "SQLPOOLDUMP", 11);
  if (!f.Write(header, DUMP_HEADER_BYTES) || !f.Word(base[RESERV])) return -1;
  const auto classes = Classes(base);
  const int64_t lenw = base[LENW_POMC];
  const int32_t first = static_cast<int32_t>(std::clamp<int64_t>((lenw + 4) * 3, 0, HEADER_WORDS));
  if (!Segment(f, base, 1, first)) return -3;
  for (const auto& c : classes)
    for (const Extent& e : c.second)
      if (!Segment(f, base, e.index, e.words)) return -3;
  const std::string listing = Listing(base, classes);
  if (!f.Word(0) || !f.Write(listing.data(), listing.size())) return -3;
  f.Close();
  return 0;
}
