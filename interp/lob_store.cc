// The large-object store step: allocate (DKALO1) and write (DKPLO1) the
// object through the databank kernel, then one directory row a run of
// pieces: consecutive pieces of one length whose pages follow each other.
// A failure frees what is not recorded (DKFLX1) so no page is lost or freed
// twice.
#include "interp/lob_store.h"

#include <cstring>

#include "dk/large_object.h"
#include "du/large_objects.h"
#include "du/record_access_words.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "interp/run_state.h"
#include "interp/varying.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

// A kernel request of the step.
struct Request {
  int32_t words[LOB_WORDS] = {};
  Request(int32_t did, int32_t list, const int32_t* identifier) {
    words[LOB_DID] = did;
    words[LOB_LIST] = list;
    for (int k = 0; k < LOB_IDENTITY_WORDS; ++k) words[LOB_IDENTITY + k] = identifier[k];
  }
  void Length(int32_t at, int64_t v) {
    words[at] = static_cast<int32_t>(static_cast<uint64_t>(v) & 0xFFFFFFFF);
    words[at + 1] = static_cast<int32_t>(static_cast<uint64_t>(v) >> 32);
  }
};

// Frees the pieces of the list at `list` (DKFLX1); the list then names
// only the pages it could not free.
void FreePieces(int32_t did, int32_t list, const int32_t* identifier) {
  Request free_request(did, list, identifier);
  RecordServices().lob_kernel(DKF_FLX1, free_request.words, nullptr);
}

// The write mode of the put: the session's transaction stamp when the
// table writes through its transaction and that transaction is active.
int32_t WriteMode(int32_t* base, int32_t usr, const int32_t* record) {
  if (usr == 0 || record[DUREC_MERGE] <= 0) return 0;
  const int32_t tp = Wd(base, usr, USR_TP);
  if (tp == 0 || !InStorage(base, tp, TP_TSS + 1) || Wd(base, tp, TP_TRANSACTION_STATE) != 1)
    return 0;
  return Wd(base, tp, TP_TSS);
}

}  // namespace

void DALobStore(int32_t* base, int32_t* status, int32_t usr, int32_t dcb, const int32_t* identifier,
                const void* data, int64_t length, int32_t list, const int32_t* record,
                int32_t work) {
  (void)work;
  const auto& s = RecordServices();
  if (list < 2 || !InStorage(base, list - 1, 1) || dcb <= 0 || !InStorage(base, dcb, DCB_DID + 1) ||
      length < 0 || length > INT32_MAX) {
    *status = kErrBadOperand;
    return;
  }
  const int32_t capacity = Wd(base, list - 1, 0);
  if (capacity < 0 || !InStorage(base, list, 2 * int64_t{capacity} + 1)) {
    *status = kErrBadOperand;
    return;
  }
  const int32_t did = Wd(base, dcb, DCB_DID);
  int32_t* pairs = &Wd(base, list, 0);
  // Allocate the pages, then write the bytes; either failing frees them.
  Request allocate(did, list, identifier);
  allocate.Length(LOB_LENGTH, length);
  int32_t list_index = list;
  s.lob_kernel(DKF_ALO1, allocate.words, &list_index);
  int32_t rc = allocate.words[LOB_STATUS];
  if (rc == 0) {
    Request put(did, list, identifier);
    put.words[LOB_STATUS] = WriteMode(base, usr, record);
    put.words[LOB_COUNT] = static_cast<int32_t>(length);
    put.Length(LOB_LENGTH, length);
    s.lob_kernel(DKF_PLO1, put.words, const_cast<void*>(data));
    rc = put.words[LOB_STATUS];
  }
  if (rc != 0) {
    FreePieces(did, list, identifier);
    *status = rc + kKernelErrorBase;
    return;
  }
  // One directory row a run.
  int32_t sequence = 0;
  for (int32_t i = 0; i < capacity && pairs[2 * i] != 0;) {
    const int32_t first = i, piece = pairs[2 * i + 1];
    int32_t n = 1;
    while (i + n < capacity && pairs[2 * (i + n)] != 0 && pairs[2 * (i + n) + 1] == piece &&
           piece > 0 &&
           int64_t{pairs[2 * (i + n)]} == int64_t{pairs[2 * (i + n - 1)]} + piece / kLobPageBytes)
      ++n;
    int32_t d[LOBD_WORDS] = {};
    for (int k = 0; k < LOB_ID_WORDS; ++k) d[LOBD_ID + k] = identifier[k];
    d[3] = did;
    d[LOBD_PART] = ++sequence;
    d[LOBD_LOCATION] = pairs[2 * first];
    d[LOBD_LOCATION + 1] = 0;
    d[LOBD_LOCATION + 2] = piece;
    d[LOBD_LOCATION + 3] = n;
    d[LOBD_DCB] = dcb;
    int32_t insert = 0;
    s.insert_lob_directory(base, &insert, record, usr, d);
    if (insert != 0) {
      // The pieces from this run on are recorded nowhere: they are freed
      // as a list of their own, whose count word stands in for the last
      // recorded pair's length while it is freed. The free leaves in it only
      // what it could not free, so the list then ends where the recorded
      // pieces end and nothing is freed twice.
      int32_t* count = first > 0 ? &pairs[2 * first - 1] : &Wd(base, list - 1, 0);
      const int32_t saved = *count;
      *count = capacity - first;
      FreePieces(did, list + 2 * first, identifier);
      *count = saved;
      *status = insert;
      return;
    }
    i += n;
  }
  *status = 0;
}

namespace {

constexpr int32_t kErrLobTooLong = -12121;      // a value above 15000 bytes
constexpr int32_t kErrLobAboveColumn = -10451;  // above the column's maximum length
constexpr int32_t kLobMaxValue = 15000;
constexpr int32_t kLobFrameBytes = 40;  // of every page: the rest holds data

// ILB: the value op5 (maximum op6, length field op7 or -1) stored as a new
// large object of the table whose record block op1 names; the column op2
// (identifier, then indicator) gets its identifier. op3 and op4 are the low
// and high words of the column's maximum length.
void StoreLargeObject(Run& run) {
  const int32_t t = run.op(1), column = run.op(2), value = run.op(5), maximum = run.op(6);
  if (!run.words(t, kRecBuffer) || !run.fits(column, LOB_COLUMN_BYTES) || maximum < 0 ||
      !run.fits(value, int64_t{maximum} + 1))
    return run.fail(kErrBadOperand);
  int32_t length = 0;
  const int32_t rc = run.at(value)[0] == 255 ? 1 : ReadLength(run, run.op(7), maximum, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  uint8_t* target = run.at(column);
  if (rc == 1) {  // a null value holds no object
    std::memset(target, 0, LOB_ID_BYTES);
    target[LOB_ID_BYTES] = 255;
    return run.next();
  }
  if (length > kLobMaxValue) return run.fail(kErrLobTooLong);
  const int64_t column_maximum =
      static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(run.op(3))) |
                           static_cast<uint64_t>(static_cast<uint32_t>(run.op(4))) << 32);
  if (length > column_maximum) return run.fail(kErrLobAboveColumn);
  const int32_t* record = &run.word(t);
  const int32_t tcb = record[DUREC_OBJECT];
  if (tcb <= 0 || !InStorage(run.base, tcb, TCB_DCB + 1)) return run.fail(kErrBadOperand);
  const int32_t dcb = Wd(run.base, tcb, TCB_DCB);
  const auto& s = RecordServices();
  int32_t status = 0, identifier[LOB_ID_WORDS] = {};
  s.new_lob_identifier(run.base, &status, identifier, record);
  if (status < 0) return run.fail(status);
  // The piece list: room for pages of the smallest size, the end word, and
  // its capacity in pairs in the word in front.
  const int32_t pairs = length / (kLobPageBytes - kLobFrameBytes) + 2;
  int32_t block = 0;
  DSGetMem(run.base, &block, 4 * (2 * pairs + 2));
  if (block == 0) return run.fail(kErrNoStorage);
  Wd(run.base, block, 0) = pairs;
  DALobStore(run.base, &status, run.usr, dcb, identifier, run.at(value + 1), length, block + 1,
             record, run.last_work);
  DSPoolMem(run.base, &block, 0, 0);
  // A directory row already there answers its positive status.
  if (status > 0) status = kErrBadOperand;
  if (status < 0) return run.fail(status);
  std::memcpy(target, identifier, LOB_ID_BYTES);
  target[LOB_ID_BYTES] = 0;
  run.next();
}

}  // namespace

void InstallLobOps(Instruction t[]) {
  t[172] = StoreLargeObject;  // ILB
}

}  // namespace interp
