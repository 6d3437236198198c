// The per-thread reserve of set request blocks and the kernel settings that
// size them.
#include "du/kernel_requests.h"

#include <algorithm>

#include "dk/control_area.h"

namespace du {
namespace {

thread_local std::vector<std::vector<int32_t>> t_reserve;
constexpr int32_t kClearedWords = 40;

}  // namespace

int32_t SetRequestWords() {
  int32_t largest = 3;
  DKGetSetting(&largest);
  if (largest < 2048) largest = 65536;
  // Record area from word 15 on; a page never holds a record longer than
  // itself.
  return 15 + largest / 4 + 16;
}

int32_t KernelRecordBytes() {
  int32_t w = 1;
  DKGetSetting(&w);
  return w > 0 ? w : 32764;
}

SetRequest::SetRequest() {
  if (!t_reserve.empty()) {
    block_ = std::move(t_reserve.back());
    t_reserve.pop_back();
  }
  const size_t words = static_cast<size_t>(SetRequestWords());
  if (block_.size() < words) block_.assign(words, 0);
  std::fill(block_.begin(), block_.begin() + kClearedWords, 0);
}

SetRequest::~SetRequest() {
  t_reserve.push_back(std::move(block_));
}

}  // namespace du
