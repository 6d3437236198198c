// Statements kept in the catalog (object kind STATEMENT): a statement row
// with two byte strings and numbered items with a byte value, each cut
// into pieces of 1000 bytes, written and deleted inside dictionary work,
// read back per server thread for the describe path. Parameter blocks as
// everywhere in the dictionary: word 0 the status, word 1 the requesting
// USR; 0 done, positive no row, negative an error (-19113 for a name over
// 128 characters, a negative length or an item number below 0, before
// anything runs).
#pragma once

#include <cstdint>
#include <optional>

inline constexpr int32_t DD_STATEMENT_PIECE = 1000;   // bytes of a piece
inline constexpr int32_t DD_STATEMENT_DECIMAL = 400;  // characters of the decimal text

// Statement `id` of the work block's ident: its number, the first string
// (`first_length` bytes at `first`), the second (`second_length` bytes of
// kernel storage block `second_block`, from its word 1), and a decimal
// text of `decimal_length` three-byte characters (stored NULL when the
// length is 0 or above 400). One statement row, and per 1000-byte piece of
// the longer string a row of each string that has bytes left (both on
// piece 1); a run's non-zero status ends it (2: a row was there).
void DDInsStatement(int32_t* base, int32_t* pb, int32_t id, int32_t number, const uint8_t* first,
                    int32_t first_length, int32_t second_block, int32_t second_length,
                    const uint8_t* decimal3, int32_t decimal_length);
// Item `item` of statement `id` with its two further numbers, a number of
// its own and a value of `length` bytes of kernel storage block `block`
// (from its word 1), one row per 1000-byte piece (one for an empty value);
// an item already there (status 2) ends it with 0.
void DDInsStatementItem(int32_t* base, int32_t* pb, int32_t id, int32_t number, int32_t item,
                        int32_t number2, int32_t number3, int32_t block, int32_t length);
// Deletes statement `id`, or, with a name given, every statement of that
// name (the id is not looked at); with `owner` only one of that ident.
// Its object, statement, piece, item, privilege, usage and source rows go.
// 1 when there was none.
void DDDelStatement(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                    std::optional<int32_t> owner);

// A stored statement found by name: in `schema` (length 0: the requesting
// user's level name) with `owner` only one of that ident; a statement of
// another schema than the level name only when the level name or PUBLIC
// holds a privilege on it.
struct DDStoredStatement {
  int32_t id, ident, number;
  int32_t first_length;  // the first string's length; -1 without a first piece
};
void DDCmpGQST(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* name, int32_t name_length, std::optional<int32_t> owner,
               DDStoredStatement* out);
// Piece `piece` (from 1) of statement `id`'s two strings.
struct DDStatementPiece {
  int32_t id, ident;
  int32_t remaining[2];  // the bytes from this piece on; -1: no such piece
  int32_t length[2];     // bytes of the piece in `bytes`
  uint8_t bytes[2][DD_STATEMENT_PIECE];
};
// 0, 1 when the statement (of `owner`) or both pieces are missing.
void DDCmpGQSTPiece(int32_t* base, int32_t* pb, int32_t id, int32_t piece,
                    std::optional<int32_t> owner, DDStatementPiece* out);

// An item's numbers; with `number2`/`number3` given only when they match.
struct DDStatementItem {
  int32_t item, number2, number3;
};
void DDCmpGQSD(int32_t* base, int32_t* pb, int32_t id, int32_t item, std::optional<int32_t> number2,
               std::optional<int32_t> number3, DDStatementItem* out);
// Piece `piece` of an item's value.
struct DDItemPiece {
  int32_t remaining, number, piece, length;
  uint8_t bytes[DD_STATEMENT_PIECE];
};
void DDCmpGQSDPiece(int32_t* base, int32_t* pb, int32_t id, int32_t item, int32_t piece,
                    DDItemPiece* out);
