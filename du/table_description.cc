// Filling a new TCB from the table's catalog description: its index control
// blocks (ICB) with their key descriptions, its foreign-key control blocks
// (FICB), a reference of the table to itself paired at once, and its
// large-object columns. Every word is read inside the description's length.
#include <cstring>

#include "du/table_internal.h"
#include "du/tables.h"

using du::F;
using du::W;

namespace du {

int32_t FillFromDescription(int32_t* base, int32_t tcb, const int32_t* d, int32_t words);

namespace {

// Index entry words 2 to 5: the table's logical id (the index takes the
// table's), the index's kernel type (2), its key length and its record
// length.
constexpr int32_t DESCIX_TYPE = 3;
constexpr int32_t DESCIX_KEYLEN = 4;
constexpr int32_t DESCIX_RECLEN = 5;
constexpr int32_t kMaxKeyDescription = 3 * 64 + 1;

int32_t AddIndex(int32_t* base, int32_t tcb, const int32_t* e, int32_t room, int32_t* used) {
  if (room < DESCIX_XD + 1) return DU_BAD_ARGUMENT;
  const int32_t xd = e[DESCIX_XD];
  if (xd < 1 || xd > kMaxKeyDescription || DESCIX_XD + xd > room) return DU_BAD_ARGUMENT;
  const int32_t icb = NewBlock(base, ICB_BYTES + 4 * xd);
  if (icb == 0) return DU_NO_STORAGE;
  W(base, F(icb, ICB_TCB)) = tcb;
  W(base, F(icb, ICB_IXTYPE)) = e[DESCIX_KIND];
  W(base, F(icb, ICB_FK_TNAME)) = e[DESCIX_FK_TNAME];
  W(base, F(icb, ICB_FK_XNAME)) = e[DESCIX_FK_XNAME];
  W(base, F(icb, ICB_DIRTY)) = e[DESCIX_DIRTY];
  W(base, F(icb, ICB_CONSTRAINT_SYSID)) = e[DESCIX_CONSTRAINT_SYSID];
  W(base, F(icb, ICB_LID)) = W(base, F(tcb, TCB_LID));
  W(base, F(icb, ICB_TYPE)) = e[DESCIX_TYPE] != 0 ? e[DESCIX_TYPE] : DU_TYPE_INDEX;
  W(base, F(icb, ICB_TNAME)) = e[DESCIX_TNAME];
  W(base, F(icb, ICB_KEYLEN)) = e[DESCIX_KEYLEN];
  W(base, F(icb, ICB_RECLEN)) = e[DESCIX_RECLEN];
  std::memcpy(&W(base, F(icb, ICB_XD)), e + DESCIX_XD, static_cast<size_t>(xd) * 4);
  // Appended at the end, so the chain keeps the description's order.
  int32_t* link = &W(base, F(tcb, TCB_ICB));
  while (*link != 0) link = &W(base, *link);
  *link = icb;
  if (e[DESCIX_KIND] == IX_FOREIGN_KEY || e[DESCIX_KIND] == IX_FOREIGN_KEY_SKIPPED)
    W(base, F(tcb, TCB_FK_ACCESS_MODE)) = 5;
  *used = DESCIX_XD + xd;
  return 0;
}

int32_t IcbOf(int32_t* base, int32_t tcb, int32_t index) {
  for (int32_t i = W(base, F(tcb, TCB_ICB)); i != 0; i = W(base, i))
    if (W(base, F(i, ICB_TNAME)) == index) return i;
  return 0;
}

// {7, referenced index number, referenced table number, own index number}.
int32_t AddForeignKey(int32_t* base, int32_t tcb, const int32_t* e) {
  const int32_t own = W(base, F(tcb, TCB_TNAME));
  const int32_t refcb = e[3] == own ? tcb : IcbOf(base, tcb, e[3]);
  if (refcb == 0) return -19011;
  const int32_t ficb = NewBlock(base, FICB_BYTES);
  if (ficb == 0) return DU_NO_STORAGE;
  W(base, F(ficb, FICB_REFCB)) = refcb;
  W(base, F(ficb, FICB_FK_XNAME)) = e[1];
  W(base, F(ficb, FICB_FK_TNAME)) = e[2];
  int32_t* link = &W(base, F(tcb, TCB_FICB));
  while (*link != 0) link = &W(base, *link);
  *link = ficb;
  W(base, F(tcb, TCB_FK_ACCESS_MODE)) = 5;
  if (e[2] == own) {
    // A reference of the table to itself is paired at once.
    const int32_t icb = IcbOf(base, tcb, e[1]);
    if (icb == 0) return DU_BAD_ARGUMENT;
    W(base, F(ficb, FICB_ICB)) = icb;
    W(base, F(ficb, FICB_FK_OPEN_STATUS)) = 2;
    W(base, F(icb, ICB_REFCB)) = refcb;
    W(base, F(icb, ICB_FK_OPEN_STATUS)) = 2;
  }
  return 0;
}

// {9, pair count m, large-object column count n, m pairs {type, column}}.
int32_t AddLobColumns(int32_t* base, int32_t tcb, const int32_t* e, int32_t room, int32_t* used) {
  if (room < 3) return DU_BAD_ARGUMENT;
  const int32_t m = e[1], n = e[2];
  if (m < 0 || n < 0 || n > m || 3 + 2 * m > room) return DU_BAD_ARGUMENT;
  const int32_t block = NewBlock(base, 4 * (n + 1));
  if (block == 0) return DU_NO_STORAGE;
  int32_t count = 0;
  for (int32_t k = 0; k < m; ++k)
    if ((e[3 + 2 * k] == 31 || e[3 + 2 * k] == 32) && count < n)
      W(base, F(block, 1 + count++)) = e[4 + 2 * k];
  W(base, block) = count;
  FreeBlock(base, W(base, F(tcb, TCB_LOBCOLS)));
  W(base, F(tcb, TCB_LOBCOLS)) = block;
  *used = 3 + 2 * m;
  return 0;
}

}  // namespace

// Builds the ICB and FICB chains of `tcb` from a description of `words`
// words; 0 or a failure (the chains built so far stay for the caller to
// free).
int32_t FillFromDescription(int32_t* base, int32_t tcb, const int32_t* d, int32_t words) {
  if (words <= DESC_ENTRIES || (d[DESC_KIND] != 1 && d[DESC_KIND] != 2)) return DU_BAD_ARGUMENT;
  W(base, F(tcb, TCB_IXTYPE)) = d[DESC_KIND];
  W(base, F(tcb, TCB_CONSTRAINT_SYSID)) = d[DESC_CONSTRAINT_SYSID];
  if (W(base, F(tcb, TCB_FK_ACCESS_MODE)) == 0) W(base, F(tcb, TCB_FK_ACCESS_MODE)) = 7;
  int32_t at = DESC_ENTRIES;
  bool in_references = false;
  while (at < words) {
    const int32_t kind = d[at];
    const int32_t room = words - at;
    int32_t used = 0, rc = 0;
    if (kind == DESC_END) return 0;
    if (kind >= 3 && kind <= 8 && kind != DESC_FOREIGN_KEY && !in_references) {
      rc = AddIndex(base, tcb, d + at, room, &used);
    } else if (kind == DESC_FOREIGN_KEY) {
      in_references = true;
      if (room < 4) return DU_BAD_ARGUMENT;
      rc = AddForeignKey(base, tcb, d + at);
      used = 4;
    } else if (kind == DESC_LOB_COLUMNS) {
      rc = AddLobColumns(base, tcb, d + at, room, &used);
    } else {
      return DU_BAD_ARGUMENT;
    }
    if (rc != 0) return rc;
    at += used;
  }
  return DU_BAD_ARGUMENT;  // no end word
}

}  // namespace du
