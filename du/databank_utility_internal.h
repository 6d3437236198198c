// The steps the databank utility operations share: the service calls, the
// open and close requests, begin and end, the time stamp, names, the
// creator check and the DBUENT chain.
#pragma once

#include <array>
#include <cstdint>

#include "du/databank_utility.h"
#include "du/pool_words.h"

namespace du::dbu {

using Block = std::array<int32_t, UTL_WORDS>;

const DUUtilityServices* Services();
// Logs `name` as an absent service; -19040.
int32_t Absent(const char* name);

// The installed entry `member`, or null after logging `name` as absent.
template <typename T>
T Service(T DUUtilityServices::*member, const char* name) {
  const DUUtilityServices* s = Services();
  if (s && s->*member) return s->*member;
  Absent(name);
  return nullptr;
}

// Calls a dictionary entry with a fresh parameter block in mode `mode`; its
// status.
template <typename Member, typename... Args>
int32_t Dictionary(int32_t* base, int32_t usr, int32_t mode, Member member, const char* name,
                   Args... args) {
  auto f = Service(member, name);
  if (!f) return OFF_NO_SYSTEM;
  int32_t pb[2] = {mode, usr};
  f(base, pb, args...);
  return pb[0];
}

// Sends one request block through entry `member`; its status.
template <typename Member, typename... Args>
int32_t Request(int32_t* base, Member member, const char* name, int32_t* block, Args... args) {
  auto f = Service(member, name);
  if (!f) return block[0] = OFF_NO_SYSTEM;
  block[0] = f(base, block, args...);
  return block[0];
}

// The bytes of a request block from its word `word` (blocks count their
// words from 0, unlike the word storage).
inline char* BlockBytes(Block& b, int32_t word) {
  return reinterpret_cast<char*>(b.data() + word);
}

// A request block {word 0, usr, id}.
Block NewRequest(int32_t word0, int32_t usr, int32_t id);

// DSOpenDbReq {kind, usr, id, number, -1}; the DCB in *dcb when asked.
int32_t OpenRequest(int32_t* base, int32_t kind, int32_t usr, int32_t id, int32_t number,
                    int32_t* dcb = nullptr);
// DSCloseDbReq {mode, usr, id, last}.
int32_t CloseRequest(int32_t* base, int32_t mode, int32_t usr, int32_t id, int32_t last = -1);
// DSBTR3 mode 1; -14011 counts as begun when `tolerate_open`.
int32_t Begin(int32_t* base, int32_t usr, bool tolerate_open = true);
// DSTransEndReq: commit, or roll back when `rollback`.
int32_t End(int32_t* base, int32_t usr, bool rollback);
// An open request of kind 5 {5, usr, 3}: the system databank looked up.
int32_t SystemLookup(int32_t* base, int32_t usr);
// A file opened through DSOpenDbFile: kind, databank id, sequence, type,
// size, the logical name, the second name (blank when null) and the file
// name. Its handle in *handle.
int32_t OpenFile(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t seqno,
                 int32_t type, int32_t size, const char* logical, int32_t logical_length,
                 const char* second, int32_t second_length, const char* file,
                 int32_t file_length, int32_t* handle);
// The SYS index and the user's DDUCOM: 0, -19040 without the first, -19075
// without the second.
int32_t SystemAndWork(int32_t* base, int32_t usr, int32_t* sys, int32_t* ducom);
// DSNewCursor with `status` (1 or 3).
int32_t NewCursor(int32_t* base, int32_t usr, int32_t status);

// The current time stamp YYYYMMDDhhmmssff, or the user's simulated one.
void CurrentTimestamp(int32_t* base, int32_t usr, char out[16]);
// Copies at most `size` bytes of `text` blank padded into `out`; the length
// kept.
int32_t PadText(char* out, int32_t size, const char* text, int32_t length);
inline int32_t PadName(char out[DBU_NAME_MAX], const char* text, int32_t length) {
  return PadText(out, DBU_NAME_MAX, text, length);
}
// Whether two names are equal once blank padded (trailing blanks do not
// count).
bool SameName(const char* a, int32_t a_length, const char* b, int32_t b_length, int32_t size);

inline char* Bytes(int32_t* base, int64_t index) {
  return reinterpret_cast<char*>(&W(base, index));
}

// A SYS field under the SYS semaphore.
int32_t SysRead(int32_t* base, int32_t sys, int32_t field);
void SysWrite(int32_t* base, int32_t sys, int32_t field, int32_t value);

inline bool SystemDatabank(int32_t id) { return id == 2 || id == 3 || id == 4; }

// Walks the file rows of the databank `name` (DDCurDatabankFile mode 3,
// then 0), handing each to `visit`, which answers 0 to go on or a status
// that ends the walk. 0 at the end, the visit's status, or the cursor's
// error.
template <typename Visit>
int32_t ForEachFileRow(int32_t* base, int32_t usr, const char* name, int32_t name_length,
                       Visit visit) {
  for (int32_t mode = 3;; mode = 0) {
    DUDatabankFileRow f{};
    int32_t r = Dictionary(base, usr, mode, &DUUtilityServices::cur_databank_file,
                           "DDCurDatabankFile", name, name_length, &f);
    if (r < 0) return r;
    if (r > 0) return 0;
    if ((r = visit(f)) != 0) return r;
  }
}

// Whether the user may work on a databank of the row's creator: the creator
// himself, or a holder of BACKUP. 0 allowed, 2 refused, negative an error.
int32_t CreatorCheck(int32_t* base, int32_t usr, const DUDatabankRow& row);

// The databank's rows marked offline or online (DDUpdDatabank's offline
// letter, the flag of DDCurDatabank's column 10); its status.
int32_t MarkOffline(int32_t* base, int32_t usr, int32_t id, bool offline);

// A new DBUENT at the head of the chain on DDUCOM word 6; 0 when the
// storage is exhausted.
int32_t AddEntry(int32_t* base, int32_t ducom, int32_t id, int32_t number, const char* second,
                 int32_t second_length, const char* name, int32_t name_length);
void FreeChain(int32_t* base, int32_t ducom);
// The user's DDUCOM, or 0.
int32_t WorkBlock(int32_t* base, int32_t usr);

}  // namespace du::dbu
