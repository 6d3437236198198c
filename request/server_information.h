// The server information item area the kernel start builds once and keeps
// in SYS SIIA, and the kernel's entries around it: the error translation
// table of the start (the process-wide SQLSTATE map of sql_state.h) and the
// releases at the kernel's stop.
#pragma once

#include <cstdint>
#include <string>

// Area layout (words): 0 the words in use, 1 the first word of the text
// region (167), 2 the word the text region ends at (1000); item n (4 to
// 167) in word n - 1. A text item n holds in word n - 1 the byte offset of
// its text from the start of the text region (-1 when absent) and in word n
// its length; texts start on a word.
inline constexpr int32_t SIIA_AREA_WORDS = 4000;
inline constexpr int32_t SIIA_IN_USE = 0;
inline constexpr int32_t SIIA_TEXT_START = 1;
inline constexpr int32_t SIIA_TEXT_END = 2;
inline constexpr int32_t SIIA_FIRST_ITEM = 4;
inline constexpr int32_t SIIA_LAST_ITEM = 167;
inline constexpr int32_t SIIA_TEXT_REGION = 167;
inline constexpr int32_t SIIA_TEXT_REGION_END = 1000;
inline constexpr int32_t SIIA_FULL = -3;
// The level the kernel start builds the area with.
inline constexpr int32_t SIIA_SERVER_LEVEL = 4711;

// DSInfoBuild: allocates the area in the kernel word storage and builds
// the items of `level` into it. 0 with the area's index in *area, or -1
// and *area 0 when the storage is exhausted.
int32_t DSInfoBuild(int32_t* base, int32_t* area, int32_t level);

// DSInfoPutItem: stores item `item` of the area: the `length` bytes of
// `value` for a text item, the word at `value` for any other. 0, -3 when
// the text region is full (nothing stored), -19078 for an item outside 4
// to 167 or a length below 0.
int32_t DSInfoPutItem(int32_t* base, int32_t area, int32_t item, const void* value,
                      int32_t length);

// Whether `item` is one of the area's text items.
bool SiiaTextItem(int32_t item);

// Reads item `item` of the area: a numeric item's value into *value, or a
// text item's bytes into *text. False for an item outside 4 to 167.
bool SiiaItem(const int32_t* base, int32_t area, int32_t item, int32_t* value,
              std::string* text);

// DSInfoGet/DSInfoPut of the start: makes the SQLSTATE translation map ready
// (it is built once per process, outside the word storage, see
// sql_state.h), so that the word for the table stays 0. 0.
int32_t DSInfoErrorTable(int32_t* base, int32_t* table);

// DSInfoFree: frees the block *area names (0: nothing) and sets it to 0.
int32_t DSInfoFree(int32_t* base, int32_t* area);

// DSInfoClear: frees the information item area `area` (0: nothing). 0.
int32_t DSInfoClear(int32_t* base, int32_t area);
