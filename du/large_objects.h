// Large objects of record access: the identifier a row holds, the
// databank's large-object directory (one row per stored object with its
// kernel location and a reference count), and the steps a row change takes
// for its large-object columns. See du/README.md ("Large objects").
#pragma once

#include <cstdint>
#include <vector>

// A large-object column: the 12-byte identifier (three words in the row's
// byte order: the two generated numbers and the owning table's TNAME), then
// one indicator byte. An indicator of 255 or an all-zero identifier holds no
// object.
inline constexpr int32_t LOB_ID_BYTES = 12;
inline constexpr int32_t LOB_ID_WORDS = 3;
inline constexpr int32_t LOB_COLUMN_BYTES = 13;

// The caller's descriptor of an object (twelve words).
inline constexpr int32_t LOBD_ID = 0;        // words 0-2
inline constexpr int32_t LOBD_PART = 4;      // a further key word
inline constexpr int32_t LOBD_LOCATION = 5;  // words 5-8: the kernel location
inline constexpr int32_t LOBD_LOCATION_WORDS = 4;
inline constexpr int32_t LOBD_DCB = 11;  // 0: the databank of the owning table
inline constexpr int32_t LOBD_WORDS = 12;

// A directory row (44 bytes): the key is the first 20.
inline constexpr int32_t LDIR_ID = 0;         // three words big-endian
inline constexpr int32_t LDIR_SEQNO = 12;     // MASTER_SEQNO, big-endian
inline constexpr int32_t LDIR_PART = 16;      // descriptor word 4, big-endian
inline constexpr int32_t LDIR_LOCATION = 20;  // descriptor words 5-8, little-endian
inline constexpr int32_t LDIR_COUNT = 36;     // reference count, little-endian
inline constexpr int32_t LDIR_SPARE = 40;
inline constexpr int32_t LDIR_KEY_BYTES = 20;
inline constexpr int32_t LDIR_BYTES = 44;

// The directory table's identity when it is opened.
inline constexpr int32_t LOBDIR_TYPE = 6;

inline constexpr int32_t LOB_NO_DIRECTORY = -19055;
inline constexpr int32_t LOB_NOT_FOUND = -19078;

// ILB: a new identifier for the table of `record` (its generated numbers
// from the directory table, the table's TNAME).
void DUGetLobdir1(int32_t* base, int32_t* status, int32_t* identifier, const int32_t* record);
// Inserts the directory row of `descriptor` (count 0); a duplicate is
// logged under "DUInsLobdir1" and answers its positive status.
void DUInsLobdir1(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                  const int32_t* descriptor);
// Reads the row of the descriptor's full key into descriptor words 5-8.
void DUGetLob1(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
               int32_t* descriptor);
// One reference more to the object in the column at `column_offset` of
// the row in `record`; nothing for a column that holds none.
void DULobAddRef(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                 int32_t column_offset);
// One reference less to the object `identifier` (12 bytes); the directory
// rows go, and the object is freed, with the last one.
void DULobRelease(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                  const uint8_t* identifier);
// Deletes every directory row of the table `tcb` (dropped); status 1 when
// its databank has no directory.
void DULobDropTable(int32_t* base, int32_t* status, int32_t tcb, int32_t usr);

// Sets the large-object column at `column_offset` of every row of the
// table of `record` to null and releases its objects (ALTER TABLE dropping
// the column); 0 or the first failure.
void DULobClearColumn(int32_t* base, int32_t* status, int32_t* record, int32_t usr,
                      int32_t column_offset);

namespace du {

// The offsets of the table's large-object columns (TCB LOBCOLS).
std::vector<int32_t> LobColumnOffsets(int32_t* base, const int32_t* record);

// The large-object steps of a row change on the table of `record`: every
// column of TCB LOBCOLS. 0 or a failure.
int32_t LobColumnsInserted(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row);
// A failure is logged under "DUDEL1" and does not fail the delete.
void LobColumnsDeleted(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row);
int32_t LobColumnsUpdated(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* now,
                          const uint8_t* before);

}  // namespace du
