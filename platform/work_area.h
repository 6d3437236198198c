// Word-indexed work areas: arrays of 32-bit words addressed by 1-based word
// index, whose blocks are taken and given back through area_alloc, and the
// item lists kept in them (a string pool, chained records, range and hashed
// record tables). See platform/README.md for the block layout.
#pragma once

#include <cstdint>

// An allocator an area may register instead of the area allocator:
// (area, in/out index, n) with the meaning of area_alloc.
using AreaAllocator = void (*)(int32_t* area, int32_t* index, int32_t n);

// Area header words (0-based from the area's base).
constexpr int32_t AREA_END = 0;        // one past the highest word of any extent
constexpr int32_t AREA_LOW = 1;        // lowest word of any extent
constexpr int32_t AREA_ROVER = 4;      // size word of the free block the next search starts at
constexpr int32_t AREA_NEXT_GROW = 6;  // words of the next extent to ask for
constexpr int32_t AREA_FIRST_EXT = 7;  // length word of the lowest extent
constexpr int32_t AREA_HEADER_WORDS = 9;
// The smallest area that holds its header, one extent and one block.
constexpr int32_t AREA_MIN_WORDS = 20;

// Item list status values.
constexpr int32_t ITEM_OK = 0;
constexpr int32_t ITEM_NO_MEMORY = -1;
constexpr int32_t ITEM_NOT_FOUND = -2;

// A second key of this value matches any second key.
constexpr int32_t ITEM_ANY_KEY = 0x7FFFFFFF;

// The first call fills slot one, every later call slot two.
void area_register(int32_t* area, AreaAllocator allocator);
// Forgets both registrations (tests, and a server start in a fresh process role).
void area_unregister_all();

// n > 0: allocate n bytes, *index the block's index (0 when it failed);
// n = 0: free the block named by *index, which becomes the block's first
// data word (its link; 0 when *index was not a block in use);
// n < 0: make the area of *index words at `area` (*index 0 when too small).
void area_alloc(int32_t* area, int32_t* index, int32_t n);

// Item list header: pool index, bytes used, pool capacity in bytes.
constexpr int32_t ITEM_POOL = 0;
constexpr int32_t ITEM_POOL_USED = 1;
constexpr int32_t ITEM_POOL_CAPACITY = 2;
constexpr int32_t ITEM_POOL_INITIAL = 128;

void item_area_init(int32_t* status, int32_t* area, int32_t* header);
void item_find_string(int32_t* status, int32_t* position, int32_t* area, int32_t header,
                      const char* text_base, int32_t text_offset, int32_t length);
void item_get_string(int32_t* status, int32_t* length, char* target_base, int32_t target_offset,
                     int32_t target_length, int32_t* area, int32_t header, int32_t position);
void item_area_free(int32_t* status, int32_t* area, int32_t header);

// Blocks: link word first, then the values.
void item_put_triple(int32_t* status, int32_t* area, int32_t* index, int32_t kind, int32_t length,
                     int32_t value);
// A block of a link and as many words as the head block's second word says,
// linked right after the head block.
void item_put_words(int32_t* status, int32_t* area, int32_t head, const int32_t* words_base,
                    int32_t words_offset);
// A five-word block (link, n, three values) whose link names a further block
// of n words.
void item_put_string(int32_t* status, int32_t* area, int32_t* index, int32_t n, int32_t value1,
                     int32_t value2, int32_t value3);
// Frees the chain after the head block, then the head; *head becomes 0.
void item_area_clear(int32_t* status, int32_t* area, int32_t* head);

// Range table header: chain head, words of a record, word position of the
// low bound, of the high bound. Positions count a record's words from 1
// (its link is word 0).
constexpr int32_t RANGE_CHAIN = 0;
constexpr int32_t RANGE_WORDS = 1;
constexpr int32_t RANGE_LOW = 2;
constexpr int32_t RANGE_HIGH = 3;
void item_get_by_range(int32_t* status, int32_t* table, int32_t header, int32_t* target_base,
                       int32_t target_offset, int32_t number);

// Hashed record table header: bucket array index, buckets, words of a record,
// position of the first key, of the second key (-1: none).
constexpr int32_t HASH_BUCKETS = 0;
constexpr int32_t HASH_BUCKET_COUNT = 1;
constexpr int32_t HASH_WORDS = 2;
constexpr int32_t HASH_KEY1 = 3;
constexpr int32_t HASH_KEY2 = 4;
// A record is `words` words at record_base + record_offset.
void item_hash_delete(int32_t* status, int32_t* table, int32_t header, const int32_t* record_base,
                      int32_t record_offset);
void item_hash_replace(int32_t* status, int32_t* table, int32_t header, const int32_t* record_base,
                       int32_t record_offset);
void item_hash_get(int32_t* status, int32_t* table, int32_t header, int32_t* record_base,
                   int32_t record_offset);
void item_hash_free(int32_t* status, int32_t* table, int32_t* header);
