// ALTER TABLE over the rows a table holds: the alter structure handed to
// the kernel (DULPO1), the conversion of every row along the steps into the
// load of the altered table, and the checks that a new key is unique and
// that every foreign-key value has its parent row. Keys of the unique check
// go through a sort run of a temporary table, whose merge counts the
// duplicates, so no table is held in memory.
#include <cstring>
#include <vector>

#include "du/alter_table.h"
#include "du/kernel_requests.h"
#include "du/large_objects.h"
#include "du/pool_words.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/row_scan.h"
#include "du/table_internal.h"
#include "du/table_load.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"
#include "platform/host_services.h"
#include "platform/record_conversion.h"

using du::Block;

namespace {

constexpr int32_t DK_ALR1 = 4, DK_CLT1_CODE = 13, DK_CRT1_CODE = 16;
constexpr int32_t kTemporaryTableType = 23;
constexpr int32_t kNullsSkipped = 5;
constexpr int32_t COLS_MODE = 2, COLS_COUNT = 8, COLS_FIRST = 9;
constexpr int32_t kNull = 255;

// Calls `visit` with every row of the table of `record`, in key order;
// 0, the first failure of the fetch or the first non-zero answer of `visit`.
template <typename Visit>
int32_t ForEachRow(int32_t* base, int32_t usr, int32_t work, const int32_t* record, Visit visit) {
  Block start;
  start.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  std::memset(start.row(), 0, static_cast<size_t>(record[DUREC_KEYLEN]));
  return du::ScanRows(base, usr, work, start, [&](Block& row) { return visit(row.row()); });
}

struct Column {
  int32_t offset, length, flag;
};

// The key columns of a column list, checked against rows of `reclen`
// bytes; empty (and *bad set) for a bad list.
std::vector<Column> KeyColumns(std::span<const int32_t> list, int32_t reclen, bool* bad) {
  *bad = true;
  std::vector<Column> all;
  if (list.size() <= static_cast<size_t>(COLS_FIRST)) return all;
  const int64_t n = list[COLS_COUNT];
  if (n < 1 || COLS_FIRST + 3 * n > static_cast<int64_t>(list.size())) return all;
  for (int64_t k = 0; k < n; ++k) {
    const Column c{list[COLS_FIRST + 3 * k], list[COLS_FIRST + 3 * k + 1],
                   list[COLS_FIRST + 3 * k + 2]};
    if (c.offset < 0 || c.length < 0 || c.flag < -1 || c.flag > 2 ||
        int64_t{c.offset} + c.length > reclen)
      return {};
    all.push_back(c);
  }
  // A column whose next triple has flag 1 ends the key.
  std::vector<Column> key;
  for (size_t k = 0; k < all.size(); ++k) {
    key.push_back(all[k]);
    if (k + 1 < all.size() && all[k + 1].flag == 1) break;
  }
  *bad = false;
  return key;
}

// The key of `row` along the columns; false when a column starts with a
// null indicator.
bool AssembleKey(const std::vector<Column>& columns, const uint8_t* row,
                 std::vector<uint8_t>* key) {
  key->clear();
  bool null = false;
  for (const Column& c : columns) {
    if (c.length > 0 && row[c.offset] == kNull) null = true;
    key->insert(key->end(), row + c.offset, row + c.offset + c.length);
  }
  return !null;
}

// Whether a step that takes old bytes takes the byte at `offset`.
bool StepTakes(std::span<const int32_t> steps, int32_t offset) {
  for (size_t p = 0; p + ALR_STEP_WORDS <= steps.size(); p += ALR_STEP_WORDS) {
    const int32_t kind = steps[p + ALR_STEP_KIND];
    if (kind != ALR_CONVERT && kind != ALR_TO_KEY && kind != ALR_NEXT_TO_KEY && kind != ALR_COPY)
      continue;
    const int64_t s = steps[p + ALR_STEP_OFFSET], e = s + steps[p + ALR_STEP_LENGTH];
    if (s <= offset && offset < e) return true;
  }
  return false;
}

void LogTooLarge() {
  static const char kText[] = "Too large alter structure encountered in DULPO1";
  StatusPair st;
  try {
    DSLogMsgShort(&st, SEV_INTERNAL, kText, nullptr, static_cast<int32_t>(sizeof kText - 1));
  } catch (const ServerException&) {
    // Logged; the alter is refused.
  }
}

}  // namespace

int32_t DUALRConvertRows(int32_t* base, int32_t usr, int32_t work, std::span<const int32_t> block,
                         int32_t* old_rows, int32_t* new_rows, ConstByteSpan image) {
  if (!DUALRListSound(block)) return DU_BAD_ARGUMENT;
  const int32_t in_use = block[ALR_IN_USE];
  const int32_t newrec = new_rows[DUREC_RECLEN], oldrec = old_rows[DUREC_RECLEN];
  if (block[ALR_NEW_RECLEN] != newrec || block[ALR_OLD_RECLEN] != oldrec ||
      static_cast<int64_t>(image.size()) < newrec)
    return DU_BAD_ARGUMENT;
  std::vector<int32_t> steps(block.begin() + ALR_STEPS, block.begin() + in_use);
  std::vector<int32_t> sequence(block.begin() + ALR_SEQUENCE, block.begin() + ALR_SEQUENCE + 7);
  const RowLayout layout{steps, image, newrec, sequence};
  uint8_t* target = reinterpret_cast<uint8_t*>(new_rows + DUREC_RECORD);
  const ByteSpan new_row(target, static_cast<size_t>(newrec));
  // The new row's fixed bytes, laid down afresh for every row: a conversion
  // that writes only part of its field (a null writes its indicator) must
  // not leave the bytes of the row before.
  std::vector<uint8_t> fresh(static_cast<size_t>(newrec), 0);
  int32_t status = 0;
  if (block[ALR_KIND] == 9) {
    row_layout_copy(&status, layout, fresh);
    if (status < 0) return status;
  }
  int32_t* run = new_rows + DUREC_LOAD_HANDLE;
  int32_t rc = ForEachRow(base, usr, work, old_rows, [&](const uint8_t* row) {
    std::memcpy(target, fresh.data(), fresh.size());
    row_layout_convert(&status, layout, new_row, ConstByteSpan(row, static_cast<size_t>(oldrec)));
    if (status < 0) return status;
    if (status == 1)
      if (du::GenerateKey(base, new_rows) != 0) return -19055;
    new_rows[DUREC_HANDLE] = 0;
    const int32_t st = DULoadStep(DK_LOA1, run, 0);
    return st < 0 ? st : 0;
  });
  if (rc != 0 || run[LQ_CONTROL] == 0) return rc;
  rc = DULoadStep(DK_LOA1, run, LQ_END_OF_INPUT);
  if (rc >= 0) rc = DULoadStep(DK_MRG1, run, 0);
  if (rc >= 0 && run[LQ_DUPLICATES] > 0) rc = du::DU_DUPLICATE_KEY;
  if (rc >= 0) rc = DULoadStep(DK_BIN1, run, LQ_BUILD);
  run[LQ_CONTROL] = 0;
  return rc < 0 ? rc : 0;
}

int32_t DUALRCheckUnique(int32_t* base, int32_t usr, int32_t work, int32_t* rows,
                         std::span<const int32_t> columns) {
  bool bad = false;
  const std::vector<Column> key_columns = KeyColumns(columns, rows[DUREC_RECLEN], &bad);
  if (bad) return DU_BAD_COLUMN_LIST;
  int32_t keylen = 0;
  for (const Column& c : key_columns) keylen += c.length;
  if (keylen < 1 || keylen + 4 > du::KernelRecordBytes()) return DU_BAD_COLUMN_LIST;
  const bool skip_nulls = columns[COLS_MODE] == kNullsSkipped;
  // The temporary table whose run takes the keys.
  int32_t create[16] = {};
  create[2] = rows[DUREC_LID];
  create[3] = kTemporaryTableType;
  create[6] = keylen;
  create[7] = keylen;
  DUKernel(DK_CRT1_CODE, create);
  if (create[0] < 0) return KernelStatus(create[0]);
  std::vector<int32_t> run(static_cast<size_t>(LQ_RECORD + (keylen + 3) / 4 + 1), 0);
  run[LQ_TABLE] = create[4];
  run[LQ_TBL] = create[5];
  run[LQ_KEY_LENGTH] = keylen;
  run[LQ_RECORD_LENGTH] = keylen;
  std::vector<uint8_t> key;
  int32_t rc = ForEachRow(base, usr, work, rows, [&](const uint8_t* row) {
    if (!AssembleKey(key_columns, row, &key) && skip_nulls) return 0;
    std::memcpy(run.data() + LQ_RECORD, key.data(), key.size());
    const int32_t st = DULoadStep(DK_LOA1, run.data(), 0);
    return st < 0 ? st : 0;
  });
  if (rc == 0 && run[LQ_CONTROL] != 0) {
    rc = DULoadStep(DK_LOA1, run.data(), LQ_END_OF_INPUT);
    if (rc >= 0) rc = DULoadStep(DK_MRG1, run.data(), 0);
    if (rc >= 0 && run[LQ_DUPLICATES] > 0) rc = du::DU_DUPLICATE_UNIQUE;
    if (rc >= 0) rc = DULoadStep(DK_BIN1, run.data(), LQ_BUILD);
    if (rc > 0) rc = 0;
  }
  create[0] = -22;
  DUKernel(DK_CLT1_CODE, create);
  return rc;
}

int32_t DUALRCheckFKKey(int32_t* base, int32_t usr, int32_t* parent, const uint8_t* key,
                        int32_t length) {
  if (length != parent[DUREC_KEYLEN]) return DU_BAD_COLUMN_LIST;
  Block probe;
  probe.words.assign(parent, parent + DurecWords(parent[DUREC_RECLEN]));
  std::memcpy(probe.row(), key, static_cast<size_t>(length));
  DUReadRowByKey(base, probe.data(), usr);
  if (probe[DUREC_STATUS] == DU_NO_ROW) return du::DU_MISSING_PARENT;
  return probe[DUREC_STATUS];
}

int32_t DUALRCheckFKRows(int32_t* base, int32_t usr, int32_t work, int32_t* rows, int32_t* parent,
                         std::span<const int32_t> columns) {
  bool bad = false;
  const std::vector<Column> key_columns = KeyColumns(columns, rows[DUREC_RECLEN], &bad);
  if (bad) return DU_BAD_COLUMN_LIST;
  std::vector<uint8_t> key;
  return ForEachRow(base, usr, work, rows, [&](const uint8_t* row) {
    if (!AssembleKey(key_columns, row, &key)) return 0;
    return DUALRCheckFKKey(base, usr, parent, key.data(), static_cast<int32_t>(key.size()));
  });
}

int32_t DULPO1(int32_t* base, int32_t usr, int32_t work, int32_t* record,
               std::span<int32_t> structure, std::span<int32_t> description, ConstByteSpan image,
               int32_t* new_rows, int32_t* length) {
  const int32_t entry_status = record[DUREC_STATUS];
  auto fail = [&](int32_t rc) {
    record[DUREC_STATUS] = entry_status;
    return rc;
  };
  if (description.size() <= static_cast<size_t>(ALR_STEPS)) return fail(DU_BAD_ARGUMENT);
  const int32_t in_use = description[ALR_IN_USE];
  int32_t kind = description[ALR_KIND];
  const int64_t step_words = in_use - ALR_STEPS;
  const int64_t trailing =
      kind == 9 ? int64_t{description[ALR_NEW_RECLEN]} - description[ALR_OLD_RECLEN] : 0;
  if (trailing < 0 || trailing > static_cast<int64_t>(image.size())) return fail(DU_BAD_ARGUMENT);
  const int64_t total = ALS_HEADER + step_words + (trailing + 3) / 4;
  if (total > ALS_MAX_WORDS) {
    LogTooLarge();
    return fail(DU_BAD_ARGUMENT);
  }
  // A broken list is refused before the kernel alters anything.
  if (!DUALRListSound(description) || total > static_cast<int64_t>(structure.size()))
    return fail(DU_BAD_ARGUMENT);
  if (kind == 12) {
    // A dropped large-object column: its objects are released (each row's
    // column set to null) before the kernel alters the table. The column
    // is the one whose bytes no step takes.
    for (int32_t offset : du::LobColumnOffsets(base, record)) {
      if (StepTakes(description.subspan(ALR_STEPS, static_cast<size_t>(step_words)), offset))
        continue;
      int32_t st = 0;
      DULobClearColumn(base, &st, record, usr, offset);
      if (st != 0) return fail(st);
    }
    kind = 10;
  }
  std::fill(structure.begin(), structure.begin() + total, 0);
  for (int32_t k = 1; k <= 6; ++k) structure[static_cast<size_t>(k + 1)] = description[k];
  structure[ALS_KIND] = kind;
  description[ALR_KIND] = kind;
  structure[ALS_LENGTH] = static_cast<int32_t>(total);
  structure[ALS_HEADER_WORDS] = ALS_HEADER;
  structure[ALS_ENTRY_WORDS] = ALR_STEP_WORDS;
  for (int32_t k = 13; k <= 27; ++k) structure[static_cast<size_t>(k)] = description[k];
  std::copy(description.begin() + ALR_STEPS, description.begin() + in_use,
            structure.begin() + ALS_HEADER);
  if (kind == 9) {
    const int64_t at = ALS_HEADER + step_words;
    structure[ALS_TRAILING] = static_cast<int32_t>(at);
    std::memcpy(structure.data() + at, image.data(), static_cast<size_t>(trailing));
  }
  *length = static_cast<int32_t>(total);
  DUKernel(DK_ALR1, structure.data());
  if (structure[0] < 0) return fail(KernelStatus(structure[0]));
  if (kind != 11) {
    if (int32_t rc = DUALRConvertRows(base, usr, work, description, record, new_rows, image);
        rc != 0)
      return fail(rc);
    for (int32_t k = 0; k < 3; ++k)
      description[static_cast<size_t>(23 + k)] = structure[static_cast<size_t>(25 + k)];
  }
  record[DUREC_STATUS] = 0;
  return 0;
}
