// Request blocks record access sends to the databank kernel: a per-thread
// reusable block large enough for any set request (the kernel reads a set
// request over the largest record of the largest page), and the copies of
// a seven-word queue descriptor between a TP and request words 1 to 7.
#pragma once

#include <cstdint>
#include <vector>

#include "du/pool_words.h"

namespace du {

// The words a set request (DKAPS1, DKDRS1, DKGNS1, DKGPS1, DKROL1, DKCRT1 of
// a queue) must hold.
int32_t SetRequestWords();

// A set request block of SetRequestWords() words, its first 40 words
// cleared, taken from a per-thread reserve and given back at the end of the
// scope (so nested requests each get their own).
class SetRequest {
 public:
  SetRequest();
  ~SetRequest();
  SetRequest(const SetRequest&) = delete;
  SetRequest& operator=(const SetRequest&) = delete;
  int32_t* data() { return block_.data(); }
  int32_t& operator[](int32_t i) { return block_[static_cast<size_t>(i)]; }
  int32_t size() const { return static_cast<int32_t>(block_.size()); }

 private:
  std::vector<int32_t> block_;
};

// Request words 1 to 7 from the descriptor whose first field is `field`
// (TP_RS_QBLKSIZ, TP_WS_QBLKSIZ, TP_CS_QBLKSIZ) of `tp`, and back.
inline void QueueToRequest(int32_t* base, int32_t tp, int32_t field, int32_t* request) {
  for (int32_t k = 0; k < 7; ++k) request[1 + k] = W(base, int64_t{tp} + field + k);
}
inline void QueueFromRequest(int32_t* base, int32_t tp, int32_t field, const int32_t* request) {
  for (int32_t k = 0; k < 7; ++k) W(base, int64_t{tp} + field + k) = request[1 + k];
}

// The kernel's record work size (DKGetSetting selector 1), in bytes.
int32_t KernelRecordBytes();

}  // namespace du
