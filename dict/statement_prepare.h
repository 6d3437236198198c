// Preparing and closing the dictionary's private statements. A statement
// slot (six words: status, owner USR, STM, three spare words) holds one
// statement decoded from its image (catalog_data's kStmtImages): the header
// of N 16-bit values and the run-length encoded body of M storage words
// become one program block of N + M words, behind a statement block that
// names it. See dict/README.md, "Statements".
#pragma once

#include <cstdint>

#include "stmt_images_gen.h"

inline constexpr int32_t SLOT_WORDS = 6;
inline constexpr int32_t SLOT_STATUS = 0, SLOT_OWNER = 1, SLOT_STM = 2;
inline constexpr int32_t PREPARE_NO_BIND = -3;  // slot status in: prepare without binding
inline constexpr int32_t DD_BAD_IMAGE = -19078;  // an image whose body is not M words

// Decodes the image into a new private statement of the owner (slot word 1)
// and binds it unless slot word 0 is -3. Slot word 2 gets the statement, or
// stays 0 on any failure: -11002, -19078 for a body that does not expand to
// exactly M words (nothing is written past N + M words), or the binding's
// status. Slot word 0: 0 or the failure.
void DDPrepare(int32_t* base, int32_t* slot, const int16_t* header, int32_t n,
               const int32_t* body, int32_t body_length, int32_t m);
void DDPrepareImage(int32_t* base, int32_t* slot, const DDStmtImage& image);
// Releases the slot's statement (its tables and transaction link, then its
// blocks) and empties the slot; slot word 0 the result. An empty slot is
// left alone.
void DDClose(int32_t* base, int32_t* slot);

// The image of a statement by name; nullptr when there is none.
const DDStmtImage* DDImageByName(const char* name);
// The image of a shared statement id (DDStmtImage, the kernel's upper
// service): 0, or -19078 when there is no such image.
int32_t DDStmtImageOf(int32_t number, const int16_t** header, int32_t* header_length,
                      const int32_t** body, int32_t* body_length);
