// Dump files of memory areas: the 152-byte header every dump file begins
// with, and the word storage dump "sqlpool.mdmp" (the storage header, every
// extent of every memory class compressed by the dump's byte compressor,
// and a readable listing of the header and class records).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/status.h"

inline constexpr int32_t DUMP_HEADER_BYTES = 152;
inline constexpr int32_t DUMP_BLOCK_LIMIT = 17000;  // a block with its length word
inline constexpr int32_t DUMP_OPEN_ERROR = -21200;
inline constexpr int32_t DUMP_WRITE_ERROR = -21201;

// Builds the header in `area` when *length is at least 152: status 0 and
// *length 152; else status -1.
void DumpFileHeader(int32_t* status, uint8_t* area, int32_t* length, const char* id,
                    int32_t id_length);

// Compresses `count` bytes into blocks (a length word and its token bytes)
// ended by a word 0, appended to `out`.
void DumpCompress(const uint8_t* data, int64_t count, std::vector<uint8_t>* out);

// Writes the word storage dump to `path` (created readable and writable by
// its owner only). 0, -1 after an open or write error, -3 when a segment or
// the listing could not be written.
int32_t DumpSqlPool(StatusPair* status, const int32_t* base, const char* path);
