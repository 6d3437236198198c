// Creation of an index from its base table (DKCRX1): every base record read
// in key order through a cursor, its index entry built from the key parts
// (copied, or converted through a collation of record access; a part with a
// negative code complemented, so that it sorts descending), and the entries
// sorted, merged and built into the index's tree by the bulk load.
#include "dk/index_create.h"

#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/record_access_services.h"
#include "dk/record_routines.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKCRX1 = 17, kIndexDKRCX1 = 56;

// The request's words and choices that tell a create from a rebuild.
struct IndexRequest {
  int32_t routine;
  int parts_word, first_part_word, method_word;
  int32_t type_digit;  // units digit of the index's type code
  bool rebuild;
};
constexpr IndexRequest kCreate{kIndexDKCRX1, CRX_PARTS, CRX_FIRST_PART, CRX_METHOD, 1, false};
constexpr IndexRequest kRebuild{kIndexDKRCX1, RCX_PARTS, RCX_FIRST_PART, RCX_METHOD, 4, true};
thread_local int32_t report_routine = kIndexDKCRX1;

int32_t Report(int32_t rc, int32_t value, int32_t severity = 2) {
  ReportPageError(report_routine, rc, severity, value);
  return rc;
}

struct KeyPart {
  int32_t offset, length, code;
  int32_t cache = 0;  // the collation found by the first conversion
};

// Checks the key parts against the base record and the entry length.
int32_t ReadParts(const int32_t* block, const IndexRequest& q, int32_t record_length,
                  std::vector<KeyPart>* parts) {
  const int32_t n = block[q.parts_word];
  if (n < 1 || n > kMaxKeyParts) return Report(-43, n);
  int64_t total = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t* w = block + q.first_part_word + 3 * i;
    KeyPart p{w[0], w[1], w[2]};
    if (p.offset < 0 || p.length < 1 || int64_t{p.offset} + p.length > record_length)
      return Report(-43, p.offset);
    if (p.code < -0x7fffffff) return Report(-43, p.code);
    if (p.code > 2 || p.code < -2) {
      int32_t status = 0;
      DKXLInstallTable(&status, 4, p.code < 0 ? -p.code : p.code, ConstByteSpan());
      if (status != 0) return Report(-43, p.code);
    }
    total += p.length;
    parts->push_back(p);
  }
  if (total != block[CRX_ENTRY_LENGTH]) return Report(-43, block[CRX_ENTRY_LENGTH]);
  return 0;
}

int32_t BuildEntry(std::vector<KeyPart>& parts, const uint8_t* record, int32_t record_length,
                   uint8_t* entry) {
  int32_t at = 0;
  for (KeyPart& p : parts) {
    uint8_t* out = entry + at;
    const int32_t magnitude = p.code < 0 ? -p.code : p.code;
    if (magnitude <= 2) {
      std::memcpy(out, record + p.offset, static_cast<size_t>(p.length));
    } else {
      int32_t status = 0, written = 0;
      std::memset(out, 0, static_cast<size_t>(p.length));
      DKXLConvertValue(
          &status, magnitude, &p.cache, ByteSpan(out, static_cast<size_t>(p.length)), 0, &written,
          p.length, ConstByteSpan(record, static_cast<size_t>(record_length)), p.offset, p.length);
      if (status != 0 || written < 0 || written > p.length) return Report(-43, p.code);
    }
    if (p.code < 0)
      for (int32_t i = 0; i < p.length; ++i) out[i] = static_cast<uint8_t>(out[i] ^ 0xFF);
    at += p.length;
  }
  return 0;
}

// The base table's entry on the databank of the index.
int32_t BaseEntryOn(int32_t base, int32_t databank) {
  int32_t* a = Bufferpool();
  for (int32_t t = base, n = 0; t != 0 && n < LoadWord(BP_TABLE_COUNT); t = a[t + TBE_NEXT], ++n) {
    if (CheckTableEntry(t, a[base + TBE_TBL], report_routine) != 0) return 0;
    if (a[t + TBE_DATABANK] == databank) return t;
  }
  return 0;
}

// Reads every base record and loads its entry; then merge and build.
int32_t Fill(const int32_t* block, int32_t base, int32_t index, int32_t record_length,
             std::vector<KeyPart>& parts, int32_t build, int32_t index_size) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t root = GetRootEntry(base, GET_SHARED, report_routine, &record);
  if (root < 0) return root;
  const int32_t base_key = a[record + RE_KEY_LENGTH];
  DKPUT0(PUT_END_SHARED, root);
  const int32_t entry_length = block[CRX_ENTRY_LENGTH];
  std::vector<int32_t> cursor(static_cast<size_t>(CursorBlockWords(record_length)), 0);
  cursor[CUR_STATUS] = FET_FROM_KEY;
  cursor[CUR_SCAN] = 1;
  cursor[CUR_TABLE] = base;
  cursor[CUR_TBL] = a[base + TBE_TBL];
  cursor[CUR_KEY_LENGTH] = base_key;
  cursor[CUR_RECORD_LENGTH] = record_length;
  std::vector<int32_t> load(static_cast<size_t>(LoadBlockWords(entry_length)), 0);
  load[LOA_TABLE] = index;
  load[LOA_TBL] = block[CRX_INDEX_TBL];
  load[LOA_KEY_LENGTH] = block[CRX_KEY_LENGTH];
  load[LOA_RECORD_LENGTH] = entry_length;
  const auto* base_record = reinterpret_cast<const uint8_t*>(cursor.data() + CUR_RECORD);
  auto* entry = reinterpret_cast<uint8_t*>(load.data() + LOA_RECORD);
  LoadTable t;
  for (;;) {
    DKFET1(cursor.data());
    const int32_t status = cursor[CUR_STATUS];
    cursor[CUR_STATUS] = FET_NEXT;
    if (status == kStatusEnd) break;
    int32_t rc = status != 0 ? status : BuildEntry(parts, base_record, record_length, entry);
    if (rc == 0) {
      load[LOA_STATUS] = 0;
      DKLOA1(load.data());
      rc = load[LOA_STATUS];
    }
    if (rc != 0) {
      if (load[LOA_CONTROL] != 0 && OpenLoadTable(load.data(), report_routine, &t) == 0)
        AbandonLoad(load.data(), t);
      return rc < 0 ? rc : Report(-55, rc);
    }
  }
  load[LOA_STATUS] = kLoadEndOfInput;
  DKLOA1(load.data());
  if (load[LOA_STATUS] != 0) return load[LOA_STATUS];
  DKMRG1(load.data());
  if (load[LOA_STATUS] != 0) return load[LOA_STATUS];
  load[LOA_STATUS] = build;
  load[LOA_RECORD] = index_size;
  DKBIN1(load.data());
  return load[LOA_STATUS];
}

// The index's page sizes of a rebuild: given ones must be configured, the
// others follow the entry and key lengths.
int32_t PageSizes(const int32_t* block, int32_t* data_size, int32_t* index_size) {
  for (int w : {RCX_DATA_PAGE_SIZE, RCX_INDEX_PAGE_SIZE})
    if (block[w] != 0 && FindPool(block[w]) == 0) return Report(-76, block[w]);
  *data_size =
      block[RCX_DATA_PAGE_SIZE] != 0 ? block[RCX_DATA_PAGE_SIZE] : DKBSC0(block[CRX_ENTRY_LENGTH]);
  *index_size =
      block[RCX_INDEX_PAGE_SIZE] != 0 ? block[RCX_INDEX_PAGE_SIZE] : DKBSC0(block[CRX_KEY_LENGTH]);
  return *data_size < 0 || *index_size < 0 ? Report(-76, block[CRX_ENTRY_LENGTH]) : 0;
}

// Whether the index already has what a mode -1 call asks for: a filled
// tree (create) or the wanted lengths (rebuild).
int32_t AlreadyThere(const int32_t* block, const IndexRequest& q, int32_t index, bool* there) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t root = GetRootEntry(index, GET_SHARED, q.routine, &record);
  if (root < 0) return root;
  *there = q.rebuild ? a[record + RE_KEY_LENGTH] == block[CRX_KEY_LENGTH] &&
                           a[record + RE_RECORD_LENGTH] == block[CRX_ENTRY_LENGTH]
                     : a[record + RE_TOP] != 0;
  DKPUT0(PUT_END_SHARED, root);
  return 0;
}

int32_t CreateIndex(int32_t* block, const IndexRequest& q) {
  int32_t* a = Bufferpool();
  report_routine = q.routine;
  const int32_t mode = block[RQ_STATUS], base = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(base, block[RQ_TBL], q.routine)) return rc;
  const int32_t type = block[CRX_INDEX_TYPE];
  const bool type_ok =
      q.rebuild ? type == 2 || type == 12 : type == 1 || type == 2 || type == 11 || type == 12;
  if (!type_ok) return Report(-86, type);
  const int32_t record_length = block[CRX_BASE_RECORD_LENGTH];
  if (record_length < 1 || record_length > LoadWord(BP_MAX_RECORD_LENGTH))
    return mode == -1 ? 0 : Report(-67, record_length);
  std::vector<KeyPart> parts;
  if (int32_t rc = ReadParts(block, q, record_length, &parts)) return rc;
  int32_t data_size = 0, index_size = 0;
  if (q.rebuild)
    if (int32_t rc = PageSizes(block, &data_size, &index_size)) return rc;
  int32_t record = 0;
  int32_t root = GetRootEntry(base, GET_SHARED, q.routine, &record);
  if (root < 0) return root;
  const int32_t stored_length = a[record + RE_RECORD_LENGTH];
  DKPUT0(PUT_END_SHARED, root);
  if (stored_length != record_length) return mode == -1 ? 0 : Report(-67, record_length);
  const int32_t method = block[q.method_word];
  if ((type > 10) != (method == 1 || method == 2) || method < 0 || method > 2) Report(-43, method);
  int32_t crt[CRT_WORDS] = {};
  crt[RQ_STATUS] = mode;
  crt[RQ_DID] = block[RQ_DID];
  crt[RQ_TYPE] = type * 10 + q.type_digit;
  crt[RQ_TBL] = block[CRX_INDEX_TBL];
  crt[RQ_KEY_LENGTH] = block[CRX_KEY_LENGTH];
  crt[RQ_RECORD_LENGTH] = block[CRX_ENTRY_LENGTH];
  crt[RQ_INDEX_PAGE_SIZE] = index_size;
  crt[RQ_DATA_PAGE_SIZE] = data_size;
  crt[RQ_METHOD] = method;
  DKCRT1(crt);
  if (crt[RQ_STATUS] != 0) return crt[RQ_STATUS];
  const int32_t index = crt[RQ_TABLE];
  if (mode == -1) {
    bool there = false;
    if (int32_t rc = AlreadyThere(block, q, index, &there)) return rc;
    if (there) {
      int32_t close[CRT_WORDS] = {};
      close[RQ_TABLE] = index;
      close[RQ_TBL] = block[CRX_INDEX_TBL];
      DKCLT1(close);
      return 0;
    }
  }
  const int32_t on_databank = BaseEntryOn(base, a[index + TBE_DATABANK]);
  if (on_databank == 0) return Report(-50, block[RQ_TBL]);
  if (!q.rebuild) return Fill(block, on_databank, index, record_length, parts, kBuildIndex, 0);
  // A rebuild starts from an empty index and installs the new tree with the
  // lengths and page sizes asked for.
  int32_t drop[CRT_WORDS] = {};
  drop[RQ_STATUS] = -2;
  drop[RQ_TABLE] = index;
  drop[RQ_TBL] = block[CRX_INDEX_TBL];
  DKDRP1(drop);
  if (drop[RQ_STATUS] != 0) return drop[RQ_STATUS];
  DKFreeSecondEntry(index);
  a[index + TBE_METHOD] = method;
  return Fill(block, on_databank, index, record_length, parts, kBuildReplace, index_size);
}

}  // namespace

void DKCRX1(int32_t* block) {
  block[RQ_STATUS] = CreateIndex(block, kCreate);
}

void DKRCX1(int32_t* block) {
  block[RQ_STATUS] = CreateIndex(block, kRebuild);
}
