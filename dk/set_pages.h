// The page-level helpers the set routines share: the description of one set
// in one databank (from its table entry and root record), getting and
// checking its list and data pages, the two stored forms of a record, and
// giving back a changed page by the caller's write mode.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "platform/bytes.h"

namespace dkset {

constexpr int32_t kRootPageSize = 2048;
constexpr int32_t kWriteAtOnce = -2;
// No chain of a file is longer than the pages a file can hold; a longer walk
// follows a circle in a damaged file.
constexpr int32_t kMaxChain = 1 << 24;
// A compressed set keeps a record of more than four words as its plain
// length, its first four words and the compressed rest, padded to words;
// n = 7 + the padded words. Shorter records, and every record of a set
// without compression, are kept as they are (n = words + 2 <= 6 for them in
// a compressed set, so n tells the two forms apart).
constexpr int32_t kPlainHead = 4;
constexpr int32_t kCompressedFrame = 7;

// The index a routine reports under, by its name.
int32_t RoutineIndex(std::string_view name);

// One set in one databank, as its table entry and root record describe it.
struct Set {
  int32_t routine = 0;
  int32_t table = 0;
  int32_t databank = 0;
  int32_t root_page = 0;
  int32_t root_word = 0;
  int32_t data_size = 0;
  int32_t list_size = 0;
  int32_t method = 0;
  int32_t first_list = 0;
  int32_t last_list = 0;
  bool work = false;
  int32_t data_words() const { return data_size / 4; }
  int32_t list_words() const { return list_size / 4; }
};

// Reports `rc` under the set's routine (severity 2: a caller's argument, no
// databank named) and returns it.
int32_t Fail(const Set& s, int32_t rc, int32_t value, int32_t severity = 3);
int32_t* Words(int32_t buffer);
int32_t Get(const Set& s, int32_t page, int32_t size, int mode);
// Gives back a page got in `mode` unchanged.
void Release(int32_t buffer, int mode);
// List and data pages, checked: marks, counts and entries where a walk
// expects them, else -63 (list) or -65 (data) with the page released.
int32_t GetList(const Set& s, int32_t page, int mode);
int32_t GetData(const Set& s, int32_t page, int mode);
// The length n of the record at q (that ends just before q), 0 when no whole
// record lies there.
int32_t RecordAt(const int32_t* w, int32_t q);
int32_t RecordBefore(const int32_t* w, int32_t q);
bool IsCompressedRecord(const Set& s, int32_t n);
ByteSpan BytesOf(int32_t* words, int64_t count);
// The stored form of the record of `length` words at `record`.
int32_t StoredForm(const Set& s, const int32_t* record, int32_t length, std::vector<int32_t>* form);
// Readies a changed data page for its write: the words behind its used end
// are cleared and the whole page is written. A write cut short by the end of
// the process then leaves, behind the records it wrote, either the new image
// or zeros, never records of an earlier image that would read as sound.
void SealData(const Set& s, int32_t buffer);
// A new page held for update (its number in *page), or a negative code.
int32_t NewPage(const Set& s, int32_t size, int32_t* page);
void FreePage(const Set& s, int32_t page, int32_t size, int32_t buffer = 0);
// Gives back a changed page as the caller's mode asks: -2 writes it at once
// (a work databank only releases it; a failed write is `failure`), a TSS puts
// it in that transaction's write set, 0 leaves it changed in the pool.
int32_t Finish(const Set& s, int32_t mode, int32_t buffer, int32_t page, int32_t size,
               int32_t failure);
// True when `t` is the index of a table entry of the control area.
bool IsTableEntry(int32_t t);
// The table check of every set routine: a block with its header words
// (-43), a table entry whose check value is the block's TBL (-46).
int32_t CheckSetTable(std::span<int32_t> block, int32_t routine);
// Checks the table entry (-46), finds the root entry and reads the set's
// sizes and list page numbers from it.
int32_t OpenSet(std::span<int32_t> block, int32_t routine, Set* s);
// Sets the root record's last list page, and its first when `first` >= 0.
int32_t UpdateRoot(const Set& s, int32_t mode, int32_t last, int32_t first);

}  // namespace dkset
