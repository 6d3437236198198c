// The generic table-driven scanner: a lexer descriptor in constant data holds
// the whole language (class map, packed DFA, keyword hash, token names); an
// instance reads one text and keeps its tokens in a ring so that a caller can
// step back, mark and rewind. All storage comes from a CompileArena.
#pragma once

#include <cstdint>

#include "sql/front/compile_arena.h"

struct GlxLexDescriptor {
  const int32_t* counts;         // token count, keyword hash size
  const int16_t* class_map;      // 257 classes: bytes 0..255, then end of input
  const int16_t* base;           // row base of each DFA state
  const int16_t* defaults;       // default next state of each DFA state
  const int16_t* check;          // owner state of each packed entry
  const int16_t* next;           // next state of each packed entry; < 0 is final
  const int16_t* accept;         // token code of final state f at -f-1; < 0 skips
  const int16_t* keyword_hash;   // token code per hash slot, < 0 empty
  const uint16_t* name_offsets;  // token count + 1 offsets into the name pool
  const char* name_pool;         // all token names run together
};

constexpr int32_t kGlxErrorToken = 0;
constexpr int32_t kGlxEndToken = 1;
constexpr int32_t kGlxKeywordMax = 32;

struct GlxToken {
  GlxToken* next;  // newer neighbour
  GlxToken* prev;  // older neighbour
  int32_t code;
  int32_t line;
  int32_t start;   // in characters
  int32_t length;  // in characters; 0 for the end
  char* text;      // mapped characters, zero-terminated
  int32_t capacity;
  // Counts the tokens of one input (0 for the entry before the first one), so
  // that an entry whose predecessor does not hold the token before it is known
  // to be the oldest one kept.
  int32_t number;
};

struct GlxScanner;
using GlxFilter = int32_t (*)(GlxScanner* scanner, int32_t user_data, int32_t code);

struct GlxScanner {
  GlxFilter filter;
  CompileArena* arena;
  int32_t user_data;
  const uint8_t* input;
  int32_t input_length;  // characters; 0 once the end has been scanned
  bool marked;
  bool in_filter;
  bool wide;          // three bytes a character, code point big-endian
  GlxToken* anchor;   // oldest entry still needed
  GlxToken* current;  // entry returned last
  GlxToken* last;     // newest entry scanned
  const int16_t* class_map;
  const int16_t* base;
  const int16_t* defaults;
  const int16_t* check;
  const int16_t* next;
  const int16_t* accept;
  const int16_t* keyword_hash;
  const uint16_t* name_offsets;
  const char* name_pool;
  int32_t token_count;
  int32_t hash_size;
  char keyword[kGlxKeywordMax];
};

GlxScanner* GlxCreate(CompileArena* arena, const GlxLexDescriptor* descriptor);
void GlxSetFilter(GlxScanner* s, GlxFilter filter);
void GlxSetUserData(GlxScanner* s, int32_t user_data);
void GlxSetInput(GlxScanner* s, const uint8_t* text);
void GlxSetWide(GlxScanner* s);
void GlxSetLength(GlxScanner* s, int32_t n);
int32_t GlxNext(GlxScanner* s);
int32_t GlxTokLine(GlxScanner* s);
int32_t GlxTokStart(GlxScanner* s);
int32_t GlxTokLen(GlxScanner* s);
int32_t GlxPrevStart(GlxScanner* s);
int32_t GlxPrevLen(GlxScanner* s);
const char* GlxPrevText(GlxScanner* s);
const char* GlxTokName(GlxScanner* s, int32_t code);
int32_t GlxTokNameLen(GlxScanner* s, int32_t code);
void GlxUnget(GlxScanner* s);
void GlxMark(GlxScanner* s);
void GlxRewind(GlxScanner* s);
void GlxUnmark(GlxScanner* s);
void GlxFree(GlxScanner* s);

// By-reference forms for callers that pass every argument by reference.
void GlxSetInputRef(GlxScanner*& s, const uint8_t*& text);
void GlxSetWideRef(GlxScanner*& s);
void GlxSetLengthRef(GlxScanner*& s, int32_t& n);
void GlxNextRef(GlxScanner*& s, int32_t& code);
void GlxTokStartRef(GlxScanner*& s, int32_t& start);
void GlxTokLenRef(GlxScanner*& s, int32_t& length);
void GlxFreeRef(GlxScanner*& s);

// h = h * 31 + byte (as a signed byte) from the last byte to the first, in
// 32-bit unsigned arithmetic, modulo m (m <= 0 taken as 1).
int32_t TextHash31(const uint8_t* bytes, int32_t n, int32_t m);
int32_t HashText31(const uint8_t* text, int32_t offset, int32_t n, int32_t m);
