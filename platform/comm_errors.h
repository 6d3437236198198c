// The table of communication and server errors -21001 to -21499: each
// code's SQLSTATE and message text, and the filling of the text's "%" places
// with up to four values (database, node, protocol, service).
#pragma once

#include <cstdint>
#include <span>

// Room that always holds a filled text: the longest text and four values of
// at most 160 characters each.
constexpr int32_t COMM_ERROR_TEXT_ROOM = 800;

// One substitution value; a null text or a length below 1 is empty.
struct CommErrorValue {
  const char* text = nullptr;
  int32_t length = 0;
};

// Finds the entry of `code`. Out: its five-character SQLSTATE (not
// zero-ended), its substitution flags and its text at area[offset..], cut to
// `limit` bytes and to the area; length -1 when the table has no such code
// (nothing else written), 0 when the offset lies outside the area or the limit
// is below 1.
void comm_error_lookup(std::span<char> area, int32_t offset, int32_t limit, int32_t* length,
                       char* sqlstate, int32_t* flags, int32_t code);

// The text of `code` with values[0..3] put in place of its "%" marks (values
// may be null: all empty), at area[offset..] cut as in comm_error_lookup, and
// its SQLSTATE. Length 0 for a code with no entry (the SQLSTATE is then not
// written) and for a bad area as in comm_error_lookup.
void comm_error_text(std::span<char> area, int32_t offset, int32_t limit, int32_t* length,
                     int32_t code, char* sqlstate, const CommErrorValue* values);

// Walks the table: the entry at *cursor (0 at the start) gives its code and
// SQLSTATE (five characters at sqlstate[offset..], written only when they fit
// there) and advances the cursor; returns 1, writing nothing, once the table
// is done or the cursor is bad.
int32_t comm_error_next(int32_t* code, std::span<char> sqlstate, int32_t offset, int32_t* cursor);
