// The large-object store step of ILB: the databank kernel allocates and
// writes the object, then its pieces are recorded in the databank's
// large-object directory, one row per run of adjacent pieces.
#pragma once

#include <cstdint>

namespace interp {

// Bytes of a databank page; a run's pages advance by its piece length over this.
inline constexpr int32_t kLobPageBytes = 2048;
// The kernel status of a failed allocation or write becomes status - 16140.
inline constexpr int32_t kKernelErrorBase = -16140;

// Stores `length` bytes of `data` as the object `identifier` (three words)
// in the databank of `dcb` for the session `usr`, the table of `record`
// (its record block) owning it: the piece list at word index `list` (its
// capacity in pairs in the word before) is filled by the allocation; each
// run of pieces becomes a directory row (sequence numbers 1, 2, ...). When
// an insert fails, the pieces not recorded are freed (once) and cut off the
// list. *status: 0 or the failure.
void DALobStore(int32_t* base, int32_t* status, int32_t usr, int32_t dcb, const int32_t* identifier,
                const void* data, int64_t length, int32_t list, const int32_t* record,
                int32_t work);

}  // namespace interp
