// The dump's byte compressor: a greedy scan that emits literals, runs of the
// last byte and back references of 3 to 18 bytes up to 1024 bytes back,
// found through hash chains keyed by the next three bytes.
#include <algorithm>
#include <array>
#include <cstring>

#include "kernel/storage_dump.h"

namespace {

constexpr int32_t kHashHeads = 4096;
constexpr int32_t kWindow = 1024;
constexpr int32_t kMaxLiteral = 16448;  // 16383 + 65
constexpr int32_t kMaxRun = 16386;      // 16383 + 3
constexpr int32_t kMaxMatch = 18;
constexpr int32_t kMaxBlockBytes = DUMP_BLOCK_LIMIT - 4;

class BlockWriter {
 public:
  explicit BlockWriter(std::vector<uint8_t>* out) : out_(out) {}
  void Token(const uint8_t* bytes, int32_t n) {
    if (int32_t(block_.size()) + n > kMaxBlockBytes) Flush();
    block_.insert(block_.end(), bytes, bytes + n);
  }
  void Flush() {
    if (block_.empty()) return;
    Word(static_cast<int32_t>(block_.size()));
    out_->insert(out_->end(), block_.begin(), block_.end());
    block_.clear();
  }
  void Word(int32_t w) {
    for (int i = 0; i < 4; ++i) out_->push_back(static_cast<uint8_t>(uint32_t(w) >> (8 * i)));
  }

 private:
  std::vector<uint8_t>* out_;
  std::vector<uint8_t> block_;
};

void Literal(BlockWriter& w, const uint8_t* bytes, int32_t n) {
  std::vector<uint8_t> t;
  if (n <= 64) {
    t.push_back(static_cast<uint8_t>(n - 1));
  } else {
    const int32_t v = n - 65;
    t.push_back(static_cast<uint8_t>(0x40 | (v >> 8)));
    t.push_back(static_cast<uint8_t>(v & 0xFF));
  }
  t.insert(t.end(), bytes, bytes + n);
  w.Token(t.data(), static_cast<int32_t>(t.size()));
}

int32_t Hash(const uint8_t* p) {
  return ((((p[0] << 2) ^ p[1]) << 2) ^ p[2]) & (kHashHeads - 1);
}

}  // namespace

void DumpCompress(const uint8_t* data, int64_t count, std::vector<uint8_t>* out) {
  BlockWriter w(out);
  std::vector<int64_t> head(kHashHeads, -1);
  std::array<int64_t, kWindow> prev;
  prev.fill(-1);
  auto remember = [&](int64_t p) {
    if (p + 3 > count) return;
    const int32_t h = Hash(data + p);
    prev[p % kWindow] = head[h];
    head[h] = p;
  };
  int64_t literal_start = 0, p = 0;
  auto flush_literal = [&](int64_t end) {
    while (literal_start < end) {
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(end - literal_start, kMaxLiteral));
      Literal(w, data + literal_start, n);
      literal_start += n;
    }
  };
  while (p < count) {
    int32_t run = 0;
    while (p + 1 + run < count && run < kMaxRun && data[p + 1 + run] == data[p]) ++run;
    int32_t best = 0;
    int64_t best_at = 0;
    if (p + 3 <= count) {
      const int32_t limit = static_cast<int32_t>(std::min<int64_t>(kMaxMatch, count - p));
      for (int64_t c = head[Hash(data + p)]; c >= 0 && p - c <= kWindow; c = prev[c % kWindow]) {
        int32_t n = 0;
        while (n < limit && data[c + n] == data[p + n]) ++n;
        if (n > best) {
          best = n;
          best_at = c;
        }
        if (prev[c % kWindow] >= c) break;  // a ring slot reused by a newer position
      }
    }
    const bool match = best >= 3 && best > run;
    if (!match && run < 3) {
      remember(p);
      ++p;
      if (p - literal_start >= kMaxLiteral) flush_literal(p);
      continue;
    }
    if (match) {
      flush_literal(p);
      const int32_t d = static_cast<int32_t>(p - best_at - 1);
      const uint8_t t[2] = {static_cast<uint8_t>(0xC0 | ((best - 3) << 2) | (d >> 8)),
                            static_cast<uint8_t>(d & 0xFF)};
      w.Token(t, 2);
      for (int32_t i = 0; i < best; ++i) remember(p + i);
      p += best;
    } else {
      flush_literal(p + 1);  // the literal ends with the byte the run repeats
      const int32_t v = run - 3;
      const uint8_t t[2] = {static_cast<uint8_t>(0x80 | (v >> 8)), static_cast<uint8_t>(v & 0xFF)};
      w.Token(t, 2);
      for (int32_t i = 0; i <= run; ++i) remember(p + i);
      p += 1 + run;
    }
    literal_start = p;
  }
  flush_literal(count);
  w.Flush();
  w.Word(0);
}
