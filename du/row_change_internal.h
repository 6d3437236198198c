// What the row-change files share: the index key built from a row, record
// blocks of an index or a table made for one request, the write-set append
// of a row or an index entry, the constraint checks and the merged lookup
// of a key as the transaction sees it.
#pragma once

#include <cstdint>
#include <vector>

#include "du/pool_words.h"
#include "du/record_access_words.h"

namespace du {

// Write-set entry kinds.
inline constexpr int32_t ENTRY_INSERT = 1;
inline constexpr int32_t ENTRY_NEW_IMAGE = 2;
inline constexpr int32_t ENTRY_BEFORE_IMAGE = 3;
inline constexpr int32_t ENTRY_DELETE = 4;

inline constexpr int32_t DU_DUPLICATE_KEY = -10101;
inline constexpr int32_t DU_MISSING_PARENT = -10105;
inline constexpr int32_t DU_CHILDREN_EXIST = -10106;
inline constexpr int32_t DU_DUPLICATE_UNIQUE = -10110;

// A record block of its own for one table or index request.
struct Block {
  std::vector<int32_t> words;
  int32_t* data() { return words.data(); }
  int32_t& operator[](int32_t k) { return words[static_cast<size_t>(k)]; }
  uint8_t* row() { return reinterpret_cast<uint8_t*>(words.data() + DUREC_RECORD); }
};

// The index's key-part triples {offset, length, kind}, walked from field 19.
struct KeyPart {
  int32_t offset, length, kind;
};
// The parts of an ICB, as many as its key description holds, stopping at a
// negative offset (and, with `stop_at_kind2`, before a part of kind 2).
// Empty when a part does not lie inside a row of `reclen` bytes or the parts
// are longer than the index entry (the key, then the trailing part).
std::vector<KeyPart> KeyParts(int32_t* base, int32_t icb, int32_t reclen,
                              bool stop_at_kind2 = false);

// A record block for index `icb` (identity, object, merge flag from the
// table's block) whose buffer holds the index key built from `row`; false
// when the key cannot be built. *null_part tells whether a non-suffix part
// starts with the null indicator 255.
bool IndexBlock(int32_t* base, int32_t icb, const int32_t* table_record, const uint8_t* row,
                Block* block, bool* null_part = nullptr);
// The length of the index key without the table key at its end.
int32_t IndexPrefixLength(int32_t* base, int32_t icb);

// Appends `block`'s buffer to the user's write set as an entry of `kind`
// and registers it (DKAPS1, then DKINT1); `origin` 3 to 6 sends DKAFC1
// first. 0 or a failure, which leaves the transaction failed (state 2).
int32_t AppendEntry(int32_t* base, int32_t usr, int32_t* block, int32_t kind, int32_t queue_words,
                    int32_t origin);

// Inserts the entry of index `icb` for `row` of the table of `record`:
// through the write set when the table has write-set merge, else at once.
// 0 or a failure.
int32_t InsertIndexEntry(int32_t* base, int32_t usr, int32_t icb, const int32_t* record,
                         const uint8_t* row);

// Whether the row with the key in `block`'s buffer is there as the
// transaction sees it (its own changes included): 1, 0, or a failure.
int32_t KeyVisible(int32_t* base, int32_t usr, const int32_t* block);
// The first row of the index whose key starts with the `prefix` bytes of the
// index key in `index_block`, other than the row of table key `own` (null:
// any): 1 found, 0 none, or a failure.
int32_t PrefixFound(int32_t* base, int32_t usr, const Block& index_block, int32_t prefix,
                    const uint8_t* own);
// As PrefixFound, counting such rows up to `enough`: the count, or a failure.
int32_t PrefixEntries(int32_t* base, int32_t usr, const Block& index_block, int32_t prefix,
                      const uint8_t* own, int32_t enough);
// Whether the parent of the value (`value_length` bytes) of the foreign-key
// index `icb` is there as the transaction sees it: 1, 0, or a failure
// (-19077 for a reference not paired).
int32_t ParentFound(int32_t* base, int32_t usr, int32_t icb, const uint8_t* value,
                    int32_t value_length);

// The constraint checks of a change; each 0 or the violation (after the
// user's current table and constraint are set), or a deferred check-set
// entry under SET_MARK_FLAG.
int32_t CheckUnique(int32_t* base, int32_t usr, int32_t icb, const int32_t* table_record,
                    const uint8_t* row);
int32_t CheckParent(int32_t* base, int32_t usr, int32_t icb, const int32_t* table_record,
                    const uint8_t* row);
int32_t CheckChildren(int32_t* base, int32_t usr, int32_t ficb, const int32_t* table_record,
                      const uint8_t* row);
// A new key from the kernel's generator (DKGGK1) written over the first 12
// bytes of the row as a 20-digit packed decimal; -19055 when it cannot be.
int32_t GenerateKey(int32_t* base, int32_t* record);
// Records a violation in the user's diagnostics words.
void SetCurrent(int32_t* base, int32_t usr, int32_t table, int32_t constraint);

}  // namespace du
