// The compile context of one SQL statement and its statement workspace: the
// members the phases pass to each other, and the workspace cut into blocks in
// which the statement tree lives, addressed by block-relative byte references
// (never machine addresses) so that a block can be copied or stored as bytes.
#pragma once

#include <cstdint>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_arena.h"
#include "sql/front/expr_types.h"
#include "sql/front/query_block_state.h"
#include "sql/front/sem_stack.h"
#include "sql/front/trav_stack.h"

// Workspace size of the first attempt of every compilation, in bytes.
constexpr int32_t kWorkspaceStartBytes = 100000;
// Bytes of the cache key array and of each caller name field (terminator
// extra).
constexpr int32_t kCacheKeyBytes = 512;
constexpr int32_t kCompileNameMax = 128;

// Result marker values.
constexpr int32_t kMarkerNone = 0;
constexpr int32_t kMarkerStopAfterParse = 1;
constexpr int32_t kMarkerStopAfterSemantics = 2;
constexpr int32_t kMarkerCachedProgram = 3;

// Bottom block header words; a top block has only link and size.
constexpr int32_t WSB_LINK = 0;
constexpr int32_t WSB_USED = 1;
constexpr int32_t WSB_ROOT = 2;
constexpr int32_t WSB_SPARE = 3;
constexpr int32_t WSB_HEADER_BYTES = 16;
constexpr int32_t WST_LINK = 0;
constexpr int32_t WST_SIZE = 1;
constexpr int32_t WST_RESERVE_BYTES = 12;

// The statement workspace. Offsets are 1-based byte offsets from `base`: the
// block at offset b begins at base + b - 1. The space between the end of the
// newest bottom block and `top_limit` is free; top blocks are stacked below
// `top_limit`. The chain runs from the newest top block through the older top
// blocks to the bottom blocks in the order they were opened.
struct SqlWorkspace {
  char* base = nullptr;  // a multiple of 8
  void* raw = nullptr;   // as the arena gave it
  char* scratch = nullptr;
  // Bytes at the start of the scratch area known to be zero: the tree copy's
  // reference map leaves what it set cleared again, so it clears only what
  // no copy has cleared before. Whoever else writes the scratch area sets
  // this to 0.
  int32_t scratch_clean = 0;
  int32_t top_limit = 0;
  int32_t chain_head = 0;
  // Cache of the current block: its offset (0 none) and used bytes, kept by
  // the allocators so that the common tests need no header read.
  int32_t block = 0;
  int32_t used = 0;
};

// One compilation of one statement. Built in the compile driver's frame;
// members of later phases join it where those phases are built.
struct SqlCompileCtx {
  CompileArena arena;
  int32_t workspace_size = kWorkspaceStartBytes;  // doubled on each overflow
  int32_t text_length = 0;                        // characters
  int32_t statement_end = -1;                     // separator position, -1 when the text ends it
  int32_t session = 0;                            // user block (kernel word index)
  int32_t version = 0;                            // request word 2
  SqlWorkspace ws;
  int32_t compile_mode = 0;
  const char* single_byte_text = nullptr;  // text_length bytes, what the lexer reads
  const uint8_t* text = nullptr;           // 3 bytes a character, at the statement
  uint8_t cache_key[kCacheKeyBytes] = {};
  int32_t cache_key_length = 0;
  int32_t cache_key_items = 0;
  char cursor_name[kCompileNameMax + 1] = {};
  int32_t statement_kind = -1;
  int32_t request_word3 = 0;
  // Diagnostics state (compile_diag.h).
  int32_t dictionary_transaction = 0;  // 1 while a dictionary transaction is open
  int32_t position[2] = {0, 0};        // line, character position being worked on
  int32_t error_code = -1;             // status after a jump
  int32_t highest_severity = 0;
  // Conditions of this attempt, and how many of them an abandoned attempt has
  // already put in the diagnostics area (those are not added again).
  int32_t conditions_this_attempt = 0;
  int32_t conditions_to_skip = 0;
  const int32_t* host_variables = nullptr;  // entries of three words, kind < 1 ends
  int32_t request_word6 = 0;
  int32_t request_word7 = 0;
  int32_t result_marker = kMarkerNone;
  int32_t request_word4 = 0;
  int32_t multi_statement = 0;  // request word 8
  int32_t workspace_grown = 0;  // 1 after a growth: compile again
  int32_t parse_root = 0;
  int32_t semantic_phase = 0;
  int32_t cursor_list = 0;  // list cells in the first block
  int32_t usage_list = 0;
  // Lists the descriptions are built from, set by semantic analysis in the
  // first block: result columns, parameters, and the update list.
  int32_t result_list = 0;
  int32_t parameter_list = 0;
  int32_t update_list = 0;
  int32_t parameter_description = 0;
  int32_t parameter_description_size = 0;
  int32_t early_result = 0;  // the kinds-100-to-104 result word
  int32_t schema_flag = 0;   // set by the definition executor inside CREATE SCHEMA
  int32_t changed_definitions = 0;
  int32_t program_block = 0;  // kernel copy of the compiled program
  int32_t caller_names_set = 0;
  char caller_names[4][kCompileNameMax + 1] = {};
  int32_t request_word9 = 0;
  int32_t optimizer_sizes[3] = {50, 8, 2056};
  void* work_area = nullptr;  // shared by the phases, each with its own layout
  int32_t work_area_bytes = 0;
  int32_t object_id = 0;  // request word 12: usages are registered for it
  SqlTravStack trav;      // every tree walk's frames
  SemStacks sem;          // the semantic walk's saved records and query links
  SqlCatalogState catalog;  // column cache and dependency list of the attempt
  SqlTypingState typing;    // what expression typing notes for the later phases
  QueryBlockState query;    // what the semantic walk gathers about the statement
  int32_t missing_object = 0;  // the object whose stored tree was missing
};

// Takes the workspace (workspace_size + 12 bytes) and the scratch area from the
// arena for a new attempt; the workspace is empty afterwards.
void WorkspaceAllocate(SqlCompileCtx* ctx);

// qqwsnewblk: opens a bottom block after the last one of the chain and makes it
// current; returns its offset.
int32_t qqwsnewblk(SqlCompileCtx* ctx);
// qqwsal: n bytes in the current block (4-byte aligned); returns the reference.
int32_t qqwsal(SqlCompileCtx* ctx, int32_t n);
// qqdbal: the same, 8-byte aligned (doubles).
int32_t qqdbal(SqlCompileCtx* ctx, int32_t n);
// qqwswb: makes the block at the offset current (0 does nothing).
void qqwswb(SqlCompileCtx* ctx, int32_t block);
// qqwscur: the current block's offset.
inline int32_t qqwscur(const SqlCompileCtx* ctx) {
  return ctx->ws.block;
}
// qqwsadr: the address of a reference in the current block.
inline char* qqwsadr(const SqlCompileCtx* ctx, int32_t reference) {
  return ctx->ws.base + ctx->ws.block - 1 + reference;
}
// Word `word` of the record at a reference in the current block.
inline int32_t& WsWord(const SqlCompileCtx* ctx, int32_t reference, int32_t word) {
  return reinterpret_cast<int32_t*>(qqwsadr(ctx, reference))[word];
}
// Address of the block at an offset (its header).
inline int32_t* WsBlock(const SqlCompileCtx* ctx, int32_t block) {
  return reinterpret_cast<int32_t*>(ctx->ws.base + block - 1);
}

// Push and pop of a top block of n data bytes (save areas, stored tree
// images). Pop does nothing unless the block is the chain head.
int32_t WorkspacePushTop(SqlCompileCtx* ctx, int32_t n);
void WorkspacePopTop(SqlCompileCtx* ctx, int32_t block);

// qqstrget: copies the zero-terminated string at the reference into `buffer`
// (at most `capacity` bytes, terminator included); returns its length with
// the terminator. Reference 0 gives an empty string.
int32_t qqstrget(SqlCompileCtx* ctx, char* buffer, int32_t capacity, int32_t reference);
