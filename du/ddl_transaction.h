// The DDL transaction record of a definition transaction (TP DDLTRA): what
// can only be finished or undone when the transaction ends, worked off by
// DSDdlTransFinish. See du/README.md ("DDL transaction record").
#pragma once

#include <cstdint>

// Record words (13; made by DSSetTransScope with scope 3).
inline constexpr int32_t DDL_VIEW = 0;  // 0: the view was 3, 1: it was not
inline constexpr int32_t DDL_OBJECTS = 2;
inline constexpr int32_t DDL_STATEMENTS = 3;
inline constexpr int32_t DDL_IDENTS = 4;
inline constexpr int32_t DDL_OPEN_TABLES = 7;
inline constexpr int32_t DDL_MARK = 9;
inline constexpr int32_t DDL_XLATS = 10;
inline constexpr int32_t DDL_LOBDIR = 11;
inline constexpr int32_t DDL_LOBDIR_DATABANK = 12;
inline constexpr int32_t DDL_WORDS = 13;

// Translation entry actions.
inline constexpr int32_t DDL_XLAT_INSTALLED = 113;   // removed on rollback
inline constexpr int32_t DDL_XLAT_TO_INSTALL = 114;  // installed on commit

inline constexpr int32_t DU_NO_DDL_RECORD = -19075;

// Every operation takes {status, USR}; -19075 without a DDL record,
// -11002 without storage, 1 for an entry whose key is there already.
void DSDdlTransAdd(int32_t* base, int32_t* pb, int32_t second, int32_t tname, int32_t object,
                   int32_t keylen, int32_t reclen, int32_t open_kind);
void DSDdlTransAddStm(int32_t* base, int32_t* pb, int32_t key, const int32_t* words);
void DSDdlTransAddIdent(int32_t* base, int32_t* pb, int32_t key);
void DSDdlTransAddXlat(int32_t* base, int32_t* pb, int32_t id, int32_t action);
void DSDdlTransSetIds(int32_t* base, int32_t* pb, int32_t lobdir, int32_t databank);
// Opens table `tname` of object `object` exclusively for the change, in a
// record block sized for its rows; the block and the DCB come back.
void DSDdlTransOpenTable(int32_t* base, int32_t* pb, int32_t object, int32_t tname, int32_t key,
                         int32_t keylen, int32_t reclen, int32_t n, int32_t* block_out,
                         int32_t* dcb_out);
// Applies the object and statement lists before the commit; with a negative
// status on entry only releases them.
void DSDdlTransApply(int32_t* base, int32_t* pb);
// Rolls the kernel transaction back to the record's mark.
void DSDdlTransRollback(int32_t* base, int32_t* pb);
// Works the record off at the end (codes 87 and 88 roll back) and frees it.
void DSDdlTransFinish(int32_t* base, int32_t* pb, int32_t code);

namespace du {
// The same for the transaction end, on `tp`; the status of a failed close.
int32_t FinishDdlTransaction(int32_t* base, int32_t usr, int32_t tp, int32_t code);
// Frees the record and every entry without closing anything.
void FreeDdlRecord(int32_t* base, int32_t record);
}  // namespace du
