// Fetches through an index: the index's entries are read as any table's
// (stored entries merged with the transaction's own, DUFetchRow), and the
// row of each is read by its key (DUReadRowByKey); an entry whose row the
// transaction deleted or changed so that its index key is another is
// stepped over. The unique fetch reads the one row of an index key prefix.
// An index whose key is the table's own (the table block's word 0 set) is
// read through the table itself: the key-part path.
#include <algorithm>
#include <cstring>
#include <vector>

#include "du/record_operations.h"
#include "du/row_change_internal.h"

namespace {

uint8_t* Row(int32_t* record) {
  return reinterpret_cast<uint8_t*>(record + DUREC_RECORD);
}

// The index block's code while the key-part path delivers its rows.
constexpr int32_t kTableKeyCode = 99;

void EndBoth(int32_t* table, int32_t* index, int32_t status, bool forward) {
  index[DUREC_STATUS] = table[DUREC_STATUS] = status;
  index[DUREC_FETCH_CODE] = table[DUREC_FETCH_CODE] = forward ? -1 : -2;
}

bool Sound(int32_t* base, const int32_t* table, const int32_t* index) {
  const int32_t tk = table[DUREC_KEYLEN], xk = index[DUREC_KEYLEN];
  // The index key is rebuilt from the table block's row along key parts
  // that the table's row length bounds: the block must hold such a row.
  return tk >= 1 && tk <= table[DUREC_RECLEN] && xk > tk && xk <= index[DUREC_RECLEN] &&
         du::BlockInside(base, index[DUREC_OBJECT], ICB_WORDS) &&
         du::BlockInside(base, table[DUREC_OBJECT], TCB_WORDS) &&
         table[DUREC_RECLEN] == du::W(base, int64_t{table[DUREC_OBJECT]} + TCB_RECLEN);
}

// The row of the index entry in `index`'s buffer into `table`; 1 when it is
// there and still has that index key, 0 when the entry is to be stepped
// over, negative on failure.
int32_t RowOfEntry(int32_t* base, int32_t* table, int32_t* index, int32_t usr) {
  const int32_t tk = table[DUREC_KEYLEN], xk = index[DUREC_KEYLEN];
  std::memcpy(Row(table), Row(index) + (xk - tk), static_cast<size_t>(tk));
  DUReadRowByKey(base, table, usr);
  if (table[DUREC_STATUS] < 0) return table[DUREC_STATUS];
  if (table[DUREC_STATUS] != 0) return 0;
  du::Block rebuilt;
  if (!du::IndexBlock(base, index[DUREC_OBJECT], table, Row(table), &rebuilt))
    return DU_BAD_ARGUMENT;
  return std::memcmp(rebuilt.row(), Row(index), static_cast<size_t>(xk)) == 0 ? 1 : 0;
}

// The key-part path: the parts of the index that make the table's key. They
// must lie in the table's key in list order (each at the running offset),
// compared byte by byte, descending ones complemented; a collated part has
// no way back to the row and is refused. Empty when they do not.
std::vector<du::KeyPart> TableKeyParts(int32_t* base, const int32_t* table, const int32_t* index,
                                       bool allow_descending) {
  const int32_t tk = table[DUREC_KEYLEN];
  if (tk < 1 || tk > table[DUREC_RECLEN] || index[DUREC_KEYLEN] < tk ||
      index[DUREC_KEYLEN] > index[DUREC_RECLEN] ||
      !du::BlockInside(base, index[DUREC_OBJECT], ICB_WORDS) ||
      !du::BlockInside(base, table[DUREC_OBJECT], TCB_WORDS))
    return {};
  std::vector<du::KeyPart> parts;
  int32_t at = 0;
  for (const du::KeyPart& p : du::KeyParts(base, index[DUREC_OBJECT], table[DUREC_RECLEN], true)) {
    if (at == tk) break;
    const int32_t magnitude = p.kind < 0 ? -p.kind : p.kind;
    if (p.offset != at || magnitude >= 3 || (p.kind < 0 && !allow_descending)) return {};
    at += p.length;
    parts.push_back(p);
  }
  if (at != tk) return {};
  return parts;
}

// The table key between a row and an index key (both ways: the parts lie
// at the same offsets in both, a descending part complemented).
void CopyKey(const std::vector<du::KeyPart>& parts, const uint8_t* from, uint8_t* to) {
  for (const du::KeyPart& p : parts)
    for (int32_t k = 0; k < p.length; ++k)
      to[p.offset + k] = p.kind < 0 ? static_cast<uint8_t>(~from[p.offset + k]) : from[p.offset + k];
}

// GNX, GPX through the table's own key: a start code positions the table's
// scan at the requested key, a continuation goes on with the table's scan;
// each row's key goes back into the index block.
void FetchByTableKey(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work,
                     const uint8_t* stop_key, int32_t stop_length, bool forward) {
  const std::vector<du::KeyPart> parts = TableKeyParts(base, table, index, false);
  if (parts.empty()) return EndBoth(table, index, DU_BAD_ARGUMENT, forward);
  int32_t code = index[DUREC_FETCH_CODE];
  code = code < 0 ? -code : code;
  if (code >= 50 && code != kTableKeyCode) code -= 50;
  if (code == 1 || code == 2 || code == 15) {
    CopyKey(parts, Row(index), Row(table));
    table[DUREC_FETCH_CODE] = code == 15 ? 1 : code;
    table[DUREC_STATUS] = index[DUREC_STATUS];
  } else if (code != kTableKeyCode) {
    return EndBoth(table, index, DU_BAD_FETCH_CODE, forward);
  }
  DUFetchRow(base, table, usr, work);
  if (table[DUREC_STATUS] != 0) {
    index[DUREC_STATUS] = table[DUREC_STATUS];
    index[DUREC_FETCH_CODE] = table[DUREC_FETCH_CODE];
    return;
  }
  CopyKey(parts, Row(table), Row(index));
  // Only the table's key is put in the index block: a stop key is compared
  // that far.
  const int32_t compared = std::min(stop_length, table[DUREC_KEYLEN]);
  if (compared > 0 && std::memcmp(Row(index), stop_key, static_cast<size_t>(compared)) != 0)
    return EndBoth(table, index, DU_NO_ROW, (table[DUREC_FETCH_CODE] & 1) == 1);
  index[DUREC_FETCH_CODE] = kTableKeyCode;
  index[DUREC_STATUS] = 0;
}

}  // namespace

void DUFetchRowIx(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work,
                  const uint8_t* stop_key, int32_t stop_length) {
  int32_t code = index[DUREC_FETCH_CODE];
  const bool forward = (code < 0 ? -code : code) % 2 == 1;
  if (stop_length < 0 || stop_length > index[DUREC_KEYLEN])
    return EndBoth(table, index, DU_BAD_ARGUMENT, forward);
  if (table[DUREC_KEY_FLAG] != 0)
    return FetchByTableKey(base, table, index, usr, work, stop_key, stop_length, forward);
  if (!Sound(base, table, index)) return EndBoth(table, index, DU_BAD_ARGUMENT, forward);
  for (int32_t n = 0; n < 100000000; ++n) {
    DUFetchRow(base, index, usr, work);
    if (index[DUREC_STATUS] != 0) {
      table[DUREC_STATUS] = index[DUREC_STATUS];
      table[DUREC_FETCH_CODE] = index[DUREC_FETCH_CODE];
      return;
    }
    if (stop_length > 0 && std::memcmp(Row(index), stop_key, static_cast<size_t>(stop_length)) != 0)
      return EndBoth(table, index, DU_NO_ROW, forward);
    const int32_t got = RowOfEntry(base, table, index, usr);
    if (got < 0) return EndBoth(table, index, got, forward);
    if (got == 1) {
      const int32_t from_writes = table[DUREC_FETCH_CODE] == 3;
      table[DUREC_FETCH_CODE] = from_writes ? (forward ? 3 : 4) : index[DUREC_FETCH_CODE];
      table[DUREC_STATUS] = index[DUREC_STATUS] = 0;
      return;
    }
    index[DUREC_STATUS] = 0;  // stepped over: the next entry
  }
  EndBoth(table, index, DU_BAD_ARGUMENT, forward);
}

void DUGetRowIx(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work) {
  DUFetchRowIx(base, table, index, usr, work, nullptr, 0);
}

void DUGetUnique(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work) {
  if (table[DUREC_KEY_FLAG] != 0) {
    // The table's own key: the row of the requested key, read by its key.
    const std::vector<du::KeyPart> parts = TableKeyParts(base, table, index, true);
    if (parts.empty()) return EndBoth(table, index, DU_BAD_ARGUMENT, true);
    CopyKey(parts, Row(index), Row(table));
    DUReadRowByKey(base, table, usr);
    if (table[DUREC_STATUS] != 0) return EndBoth(table, index, table[DUREC_STATUS], true);
    index[DUREC_FETCH_CODE] = kTableKeyCode;
    index[DUREC_STATUS] = 0;
    return;
  }
  if (!Sound(base, table, index)) return EndBoth(table, index, DU_BAD_ARGUMENT, true);
  const int32_t xk = index[DUREC_KEYLEN];
  const int32_t prefix = xk - table[DUREC_KEYLEN];
  const std::vector<uint8_t> saved(Row(index), Row(index) + xk);
  std::memset(Row(index) + prefix, 0, static_cast<size_t>(xk - prefix));
  index[DUREC_FETCH_CODE] = 15;
  index[DUREC_STATUS] = 1;
  for (int32_t n = 0; n < 100000000; ++n) {
    DUFetchRow(base, index, usr, work);
    if (index[DUREC_STATUS] != 0) break;
    const int32_t got = RowOfEntry(base, table, index, usr);
    if (got < 0) return EndBoth(table, index, got, true);
    if (got == 1) {
      const int32_t code = index[DUREC_MERGE] <= 0 ? 11 : table[DUREC_FETCH_CODE] == 3 ? 3 : 7;
      table[DUREC_FETCH_CODE] = index[DUREC_FETCH_CODE] = code;
      table[DUREC_STATUS] = index[DUREC_STATUS] = 0;
      return;
    }
    index[DUREC_STATUS] = 0;
  }
  const int32_t status = index[DUREC_STATUS] < 0 ? index[DUREC_STATUS] : DU_NO_ROW;
  std::memcpy(Row(index), saved.data(), saved.size());
  EndBoth(table, index, status, true);
}
