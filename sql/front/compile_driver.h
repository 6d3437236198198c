// The compile driver: qmcpsn compiles one SQL statement in a compile arena of
// its own, runs the phases through qmcpcl, compiles again with a doubled
// workspace after an overflow, and hands the caller the status, the kind, the
// shared program and the descriptions copied into kernel word storage.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// Result block words.
constexpr int32_t RES_STATUS = 0;
constexpr int32_t RES_DESCRIPTION = 2;
constexpr int32_t RES_PROGRAM = 3;
constexpr int32_t RES_KIND = 4;
constexpr int32_t RES_SHARED_PROGRAM = 5;
constexpr int32_t RES_CACHE_SECOND = 6;
constexpr int32_t RES_CURSORS = 7;
constexpr int32_t kResultWords = 8;

// Request descriptor words.
constexpr int32_t REQ_MODE = 0;
constexpr int32_t REQ_SESSION = 1;
constexpr int32_t REQ_VERSION = 2;
constexpr int32_t REQ_WORD3 = 3;
constexpr int32_t REQ_WORD4 = 4;
constexpr int32_t REQ_WORD6 = 6;
constexpr int32_t REQ_WORD7 = 7;
constexpr int32_t REQ_MULTI_STATEMENT = 8;
constexpr int32_t REQ_WORD9 = 9;
constexpr int32_t REQ_OBJECT_ID = 12;
constexpr int32_t kRequestWords = 13;

// Compile modes the driver tests.
constexpr int32_t kModeNoDefinitions = 2;
constexpr int32_t kModeStopAfterSemantics = 5;
constexpr int32_t kModeNoCache = 6;
constexpr int32_t kModeStopAfterSemantics8 = 8;

// Minimum chunk of a compile arena, in words.
constexpr int32_t kCompileArenaChunkWords = 65536;
// Usage kind under which the driver registers the statement's usages.
constexpr int32_t kUsageKindStatement = 22;

// Compiles the statement at character *start of `text` (3 bytes a character,
// `text_length` characters from *start). `host_variables`: entries of three
// words ended by a kind below 1. `name_pairs`: four (offset, length) pairs
// into `name_area` (of `name_area_bytes` bytes), or null.
void qmcpsn(int32_t* result, const uint8_t* text, int32_t* start, int32_t text_length,
            const int32_t* host_variables, int32_t* request, const int32_t* name_pairs,
            const char* name_area, int32_t name_area_bytes);

// Runs the phases of one attempt; returns the severity (5 when a phase left
// by the jump). The builder's block goes to *builder_block.
int32_t qmcpcl(SqlCompileCtx* ctx, int32_t* shared_program, int32_t* cache_second, int32_t* root,
               int32_t* builder_block, int32_t workspace_size);

// The n-th host variable (1-based): type code, length, second size word, 0.
// 1, or 0 when the list ends first; a kind without a type code is internal
// error -19256.
int32_t qqrhva(SqlCompileCtx* ctx, int32_t* description, int32_t n);
// Appends the host-variable items to the cache key; false when the key would
// pass its 512 bytes.
bool qmcachekey(SqlCompileCtx* ctx);
// The statement text (3 bytes a character) and its length in characters.
void qmgettxt(SqlCompileCtx* ctx, const uint8_t** text, int32_t* length);
// 1 for the definition kinds, else 0.
int32_t qmisdefk(int32_t kind);
// The kinds that stop after parsing with status 0 and no description (47, 48,
// 52-55, 78-83, 86-91; 103 and 104 also stop, after handing back a word).
bool KindStopsAfterParse(int32_t kind);
// The kinds that go through the statement cache, optimizer and builder.
bool KindIsCached(int32_t kind);
