// The state of a databank's copies (DKGDS1) and taking one copy offline
// (DKSUD1): its pages written and its close mark set before it leaves, and
// the table entries that name it sent to look for their root entry again.
#include "dk/databank_copies.h"

#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKGDS1 = 32, kIndexDKSUD1 = 53;

void Report(int32_t index, int32_t rc, const void* value, int32_t databank) {
  int32_t context[5] = {databank, 0, 0, 0, -1};
  DKLogError(index, rc, DK_SEV_ERROR, value, context);
}

int32_t Finish(int32_t* request, int32_t rc) {
  request[CPY_MODE] = rc;
  return rc;
}

// The copies of a DID in chain order, under the databank hash lock.
std::vector<int32_t> CopiesOf(int32_t did) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies;
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  int32_t at = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  for (int32_t n = 0; DKIsDatabankEntry(at) && n < limit; at = a[at + DBE_DEPENDENT], ++n)
    copies.push_back(at);
  return copies;
}

// Index in `copies` of the copy with a SEQNO (-1: the first), or -1.
int32_t FindSeqno(const std::vector<int32_t>& copies, int32_t seqno) {
  for (size_t i = 0; i < copies.size(); ++i)
    if (seqno == -1 || Bufferpool()[copies[i] + DBE_SEQNO] == seqno) return static_cast<int32_t>(i);
  return -1;
}

}  // namespace

int32_t DKGDS1(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t mode = request[CPY_MODE];
  std::vector<int32_t> copies = CopiesOf(request[CPY_DID]);
  if (mode < 0) {
    // The first entry counts only when it is a shadow itself.
    for (size_t i = 0; i < copies.size(); ++i)
      if ((i > 0 || a[copies[i] + DBE_KIND] == DBT_SHADOW) && a[copies[i] + DBE_OFFLINE] == 0)
        return Finish(request, 0);
    return Finish(request, copies.empty() ? 3 : 1);
  }
  if (copies.empty()) {
    Report(kIndexDKGDS1, -45, &request[CPY_DID], 0);
    return Finish(request, 3);
  }
  int32_t i = FindSeqno(copies, request[CPY_SEQNO]);
  if (i < 0) {
    Report(kIndexDKGDS1, -47, &request[CPY_SEQNO], copies[0]);
    return Finish(request, -47);
  }
  int32_t copy = copies[static_cast<size_t>(i)];
  request[CPY_ENTRY] = copy;
  return Finish(request, mode == 0 ? a[copy + DBE_ERROR] : a[copy + DBE_OFFLINE]);
}

int32_t DKSUD1(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t mode = request[CPY_MODE];
  std::vector<int32_t> copies = CopiesOf(request[CPY_DID]);
  int32_t i = FindSeqno(copies, request[CPY_SEQNO]);
  if (mode < 0) {
    if (i < 0) return Finish(request, 1);
    int32_t copy = copies[static_cast<size_t>(i)];
    request[CPY_SEQNO] = a[copy + DBE_SEQNO];
    return Finish(request, a[copy + DBE_ERROR]);
  }
  if (i < 0) {
    Report(kIndexDKSUD1, -45, &request[CPY_DID], 0);
    return Finish(request, -45);
  }
  for (size_t k = static_cast<size_t>(i); k < copies.size(); ++k)
    if (a[copies[k] + DBE_OFFLINE] != 0) {
      Report(kIndexDKSUD1, -57, nullptr, copies[k]);
      return Finish(request, -57);
    }
  int32_t copy = copies[static_cast<size_t>(i)];
  int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, 0, 0};
  if (int32_t rc = DKPAG0(pag, PAG_FLUSH)) return Finish(request, rc);
  WriteCloseMark(copy);
  a[copy + DBE_OFFLINE] = 1;
  a[copy + DBE_OFFLINE_COPY] = 1;
  a[copy + DBE_ERROR] = 0;
  // Tables of the DID look for their root entry in this copy again when it
  // comes back.
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  int32_t state[4] = {0, LoadWord(BP_TABLE_HASH), 0, 0};
  int32_t limit = LoadWord(BP_TABLE_COUNT);
  for (int32_t t = DKHMS0(state); t != 0; t = DKHMS0(state))
    for (int32_t e = t, n = 0; e > 0 && n < limit; e = a[e + TBE_NEXT], ++n)
      if (a[e + TBE_DATABANK] == copy) {
        a[e + TBE_ROOT_PAGE] = -1;
        a[e + TBE_ROOT_WORD] = 0;
      }
  return Finish(request, 0);
}
