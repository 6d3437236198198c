// Definition records in the write set: changes of the kernel's description
// of tables, indexes and databanks that a transaction makes, carried out by
// the kernel at commit. See du/README.md ("Definition records").
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Record kinds with a rule of their own.
inline constexpr int32_t DEF_KIND_ALTER = 24;
inline constexpr int32_t DEF_KIND_ONE_WORD = 34;
// A name in kinds 12 and 20 is cut to or padded with blanks to this length.
inline constexpr int32_t DEF_NAME_BYTES = 384;

inline constexpr int32_t DU_TYPE_REFUSED = -19037;
inline constexpr int32_t DU_TABLE_PRESENT = -16001;

// Writes the definition record of the kind in record word 19, built from
// the record block and `desc`; the status in word 19: 0, a mapped kernel
// error, -19037 (a TYPE kinds 6 and 9 refuse), -16001 (kinds 6 and 9
// outside a transaction: the table is there), -14012 (no transaction for a
// kind that needs one), -19077 (an unknown kind, a description shorter than
// its counts say). Kinds 6 and 9 outside a transaction open, modify and
// close the table in the kernel; kind 8 outside one modifies it at once.
void DUWriteDefRecord(int32_t* base, int32_t* record, int32_t usr, std::span<const int32_t> desc);

// The kernel core's table open (DSOpenTable) of a definition record that
// carries description words only (kinds 13 to 17, 25 and 26): the record of
// the kind in `table_request` word 19, its description the first words of
// `descriptor` (which holds at least DEF_DESCRIPTION_ONLY_WORDS). The
// status, also in word 19; another kind answers -19040.
int32_t DUKernelDefinitionRecord(int32_t* base, int32_t usr, int32_t trv_cond,
                                 int32_t* table_request, const int32_t* descriptor);
inline constexpr int32_t DEF_DESCRIPTION_ONLY_WORDS = 8;

// Appends `words` to the user's write set (DKAPS1); a failure leaves the
// transaction failed (state 2). 0 or the mapped error.
int32_t DUAppendDefinitionRecord(int32_t* base, int32_t usr, const std::vector<int32_t>& words);
