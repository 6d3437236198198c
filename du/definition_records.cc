// Definition records: a change of the kernel's own description of a table,
// index or databank made inside a transaction is written into the write
// set as a record the kernel carries out at commit. Each kind's record is
// laid out by a table of pieces taken from the record block, the caller's
// description, zeros or a blank-padded name; outside a transaction the
// opens and type changes of kinds 6, 8 and 9 go to the kernel at once.
#include "du/definition_records.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "du/kernel_requests.h"
#include "du/pool_words.h"
#include "du/table_internal.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"

using du::F;
using du::W;

namespace {

constexpr int32_t DK_CLT1_CODE = 13, DK_MOT1 = 41, DK_OPT1_CODE = 45;

enum Source {
  kRecord,   // record block words from `from`
  kDesc,     // description words from `from`
  kZero,     // zero words
  kName,     // a name: description word 0 its length in bytes, the bytes from word 1
  kBytes,    // description word 0 = n bytes, from word `from`; (n + 3) / 4 words
  kTriples,  // description word 0 = n triples, from word `from`; 3n words
  kEnd,
};

struct Piece {
  Source source;
  int32_t from;
  int32_t count;
};

struct KindLayout {
  int32_t kind;
  Piece pieces[6];
};

// The identity words LID, TYPE, TBL, TNAME, KEYLEN, RECLEN of a record block.
constexpr Piece kIdentity = {kRecord, DUREC_LID, 6};
constexpr Piece kEndPiece = {kEnd, 0, 0};

// Every record starts with the kind and the transaction number.
constexpr KindLayout kLayouts[] = {
    {6, {kIdentity, {kRecord, DUREC_TYPE, 1}, {kRecord, 0, 4}, kEndPiece}},
    {9, {kIdentity, {kRecord, DUREC_TYPE, 1}, {kRecord, 0, 4}, kEndPiece}},
    {7, {kIdentity, {kRecord, 0, 4}, {kDesc, 0, 5}, kEndPiece}},
    {8, {kIdentity, {kRecord, DUREC_TYPE, 1}, {kRecord, DUREC_ACCESS_MODE, 1}, kEndPiece}},
    {10, {kIdentity, {kDesc, 0, 5}, {kBytes, 5, 0}, kEndPiece}},
    {11, {kIdentity, {kDesc, 0, 5}, {kTriples, 5, 0}, kEndPiece}},
    {12, {{kRecord, 0, 4}, {kName, 0, 0}, kEndPiece}},
    {13, {{kDesc, 0, 8}, kEndPiece}},
    {14, {{kDesc, 0, 8}, kEndPiece}},
    {15, {{kDesc, 0, 7}, kEndPiece}},
    // A copy's databank and SEQNO, padded to the six words the databank
    // kernel takes a write-set record to have at least.
    {16, {{kDesc, 0, 2}, {kZero, 0, 2}, kEndPiece}},
    {17, {{kDesc, 0, 2}, {kZero, 0, 2}, kEndPiece}},
    {25, {{kDesc, 0, 2}, {kZero, 0, 2}, kEndPiece}},
    {18, {{kRecord, DUREC_LID, 1}, {kRecord, 1, 1}, {kDesc, 0, 32}, kEndPiece}},
    {19, {{kRecord, DUREC_LID, 1}, {kRecord, 1, 1}, {kDesc, 0, 32}, kEndPiece}},
    {20, {{kRecord, DUREC_LID, 1}, {kRecord, 1, 1}, {kName, 0, 0}, kEndPiece}},
    {23, {kIdentity, {kDesc, 0, 6}, {kZero, 0, 2}, {kTriples, 6, 0}, kEndPiece}},
    {26, {{kDesc, 0, 4}, kEndPiece}},
    {34, {kEndPiece}},
};

const KindLayout* LayoutOf(int32_t kind) {
  for (const KindLayout& l : kLayouts)
    if (l.kind == kind) return &l;
  return nullptr;
}

// Builds the record of `kind` into `out`; 0 or -19077 for a description
// too short for what its counts promise or a record beyond `room` words.
int32_t BuildRecord(const KindLayout& layout, const int32_t* record, int32_t tn,
                    std::span<const int32_t> desc, int32_t room, std::vector<int32_t>* out) {
  out->assign({layout.kind});
  if (layout.kind != DEF_KIND_ONE_WORD) out->push_back(tn);
  auto desc_words = [&](int64_t from, int64_t count) -> bool {
    if (from < 0 || count < 0 || from + count > static_cast<int64_t>(desc.size())) return false;
    out->insert(out->end(), desc.begin() + from, desc.begin() + from + count);
    return true;
  };
  for (const Piece& p : layout.pieces) {
    if (p.source == kEnd) break;
    switch (p.source) {
      case kRecord:
        out->insert(out->end(), record + p.from, record + p.from + p.count);
        break;
      case kDesc:
        if (!desc_words(p.from, p.count)) return DU_BAD_ARGUMENT;
        break;
      case kZero:
        out->insert(out->end(), static_cast<size_t>(p.count), 0);
        break;
      case kName: {
        if (desc.empty() || desc[0] < 0) return DU_BAD_ARGUMENT;
        const int64_t length = std::min<int64_t>(desc[0], DEF_NAME_BYTES);
        if ((length + 3) / 4 > static_cast<int64_t>(desc.size()) - 1) return DU_BAD_ARGUMENT;
        std::vector<int32_t> name(DEF_NAME_BYTES / 4, 0x20202020);
        std::memcpy(name.data(), desc.data() + 1, static_cast<size_t>(length));
        out->insert(out->end(), name.begin(), name.end());
        break;
      }
      case kBytes: {
        if (desc.empty() || desc[0] < 0) return DU_BAD_ARGUMENT;
        if (desc[0] > 0 && !desc_words(p.from, (int64_t{desc[0]} + 3) / 4)) return DU_BAD_ARGUMENT;
        break;
      }
      case kTriples:
        if (desc.empty() || desc[0] < 0 || !desc_words(p.from, 3 * int64_t{desc[0]}))
          return DU_BAD_ARGUMENT;
        break;
      case kEnd:
        break;
    }
    if (static_cast<int64_t>(out->size()) > room) return DU_BAD_ARGUMENT;
  }
  return 0;
}

bool TransactionOpen(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  return tp != 0 && W(base, F(tp, TP_TRANSACTION_STATE)) != 0;
}

// A kernel table request on the record block's identity; its status.
int32_t TableRequest(int32_t code, const int32_t* record, int32_t mode) {
  int32_t b[16] = {};
  b[0] = mode;
  for (int32_t k = 0; k < 6; ++k) b[2 + k] = record[DUREC_LID + k];
  DUKernel(code, b);
  return b[0];
}

// Kinds 6 and 9 outside a transaction: open, modify, close.
int32_t ModifyDirectly(const int32_t* record) {
  const int32_t opened = TableRequest(DK_OPT1_CODE, record, 1);
  if (opened > 0) return DU_TABLE_PRESENT;
  if (opened < 0) return KernelStatus(opened);
  const int32_t modified = TableRequest(DK_MOT1, record, 0);
  const int32_t closed = TableRequest(DK_CLT1_CODE, record, 0);
  if (modified < 0) return KernelStatus(modified);
  return closed < 0 ? KernelStatus(closed) : closed;
}

// The table types kinds 6 and 9 accept: tens part 1, 2, 6, 11 or 12 and a
// units digit 1, 3 or 4.
bool TypeAccepted(int32_t type) {
  const int32_t tens = type / 10, units = type % 10;
  return type > 0 && (tens == 1 || tens == 2 || tens == 6 || tens == 11 || tens == 12) &&
         (units == 1 || units == 3 || units == 4);
}

// Kinds 16 (copy offline) and 17 (copy online): a copy's state record whose
// change the transaction's write set already makes last for that copy (the
// same kind for the same databank and SEQNO, words 2 and 3) adds nothing.
// Applied twice, the second finds the copy in its new state already (-57
// for an offline copy), which a commit that waits for its records answers
// as its own failure. Any other answer (a read failure included) appends.
bool CopyStateRecordMadeAlready(int32_t* base, int32_t tp, const std::vector<int32_t>& words) {
  constexpr int32_t kOffline = 16, kOnline = 17;
  if (words.size() < 4 || (words[0] != kOffline && words[0] != kOnline)) return false;
  du::SetRequest read;
  read[0] = 2;  // read at the position; page 0 is the start of the set
  du::QueueToRequest(base, tp, TP_WS_QBLKSIZ, read.data());
  read[6] = read[7] = 0;
  int32_t last = 0;  // the kind of the last state record of the copy
  for (DUKernel(DK_GNS1, read.data()); read[0] == 0; DUKernel(DK_GNS1, read.data())) {
    const int32_t* r = read.data() + 15;
    if (read[8] >= 4 && (r[0] == kOffline || r[0] == kOnline) && r[2] == words[2] &&
        r[3] == words[3])
      last = r[0];
    read[0] = 0;  // step past the record read
  }
  return read[0] == SET_AT_END && last == words[0];
}

}  // namespace

int32_t DUAppendDefinitionRecord(int32_t* base, int32_t usr, const std::vector<int32_t>& words) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0) return DU_NO_TRANSACTION;
  du::SetRequest b;
  if (static_cast<int64_t>(words.size()) + 15 > b.size()) return DU_BAD_ARGUMENT;
  b[0] = 0;
  du::QueueToRequest(base, tp, TP_WS_QBLKSIZ, b.data());
  b[8] = static_cast<int32_t>(words.size());
  std::memcpy(b.data() + 15, words.data(), words.size() * 4);
  DUKernel(DK_APS1, b.data());
  if (b[0] < 0) {
    W(base, F(tp, TP_TRANSACTION_STATE)) = 2;
    return KernelStatus(b[0]);
  }
  W(base, F(tp, TP_WS_QPAGE)) = b[6];
  W(base, F(tp, TP_WS_QPOS)) = b[7];
  return 0;
}

void DUWriteDefRecord(int32_t* base, int32_t* record, int32_t usr, std::span<const int32_t> desc) {
  const int32_t kind = record[DUREC_STATUS];
  auto answer = [&](int32_t status) { record[DUREC_STATUS] = status; };
  if (kind == DEF_KIND_ALTER) return answer(DU_BAD_ARGUMENT);  // DULPO1 builds it
  const KindLayout* layout = LayoutOf(kind);
  if (layout == nullptr) return answer(DU_BAD_ARGUMENT);
  const bool open = TransactionOpen(base, usr);
  if (kind == 6 || kind == 9) {
    if (!TypeAccepted(record[DUREC_TYPE])) return answer(DU_TYPE_REFUSED);
    if (!open) return answer(ModifyDirectly(record));
  }
  if (kind == 8 && !open) {
    const int32_t st = TableRequest(DK_MOT1, record, 0);
    return answer(st < 0 ? KernelStatus(st) : st);
  }
  if (!open) return answer(DU_NO_TRANSACTION);
  // Kind 34 carries nothing, and the databank kernel carries out no record
  // of its code: appended, one word long, it failed the commit (-66), and
  // any longer it would stop the background applying it. Nothing is written.
  if (kind == DEF_KIND_ONE_WORD) return answer(0);
  const int32_t tp = W(base, F(usr, USR_TP));
  std::vector<int32_t> words;
  const int32_t room = du::SetRequest().size() - 15;
  if (int32_t rc =
          BuildRecord(*layout, record, W(base, F(tp, TP_TRANSACTION_NUMBER)), desc, room, &words);
      rc != 0)
    return answer(rc);
  if (CopyStateRecordMadeAlready(base, tp, words)) return answer(0);
  answer(DUAppendDefinitionRecord(base, usr, words));
}

int32_t DUKernelDefinitionRecord(int32_t* base, int32_t usr, int32_t, int32_t* table_request,
                                 const int32_t* descriptor) {
  const int32_t kind = table_request[DUREC_STATUS];
  const KindLayout* layout = LayoutOf(kind);
  const bool description_only =
      layout != nullptr &&
      (layout->pieces[0].source == kEnd ||
       (layout->pieces[0].source == kDesc &&
        (layout->pieces[1].source == kEnd ||
         (layout->pieces[1].source == kZero && layout->pieces[2].source == kEnd))));
  if (!description_only) {
    const std::string name = "DSOpenTable kind " + std::to_string(kind);
    DSErrRep(name.data(), static_cast<int32_t>(name.size()), DU_NOT_INITIALISED, SEV_ERROR);
    return table_request[DUREC_STATUS] = DU_NOT_INITIALISED;
  }
  DUWriteDefRecord(base, table_request, usr,
                   std::span<const int32_t>(descriptor, DEF_DESCRIPTION_ONLY_WORDS));
  return table_request[DUREC_STATUS];
}
