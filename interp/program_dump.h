// The program dump: the section descriptor of a statement program with a
// caption for every word, the lists and routine structures it points to, and
// the caption of the instruction listing; and its two line writers.
#pragma once

#include <cstdint>

namespace interp {

// Output target: target[0] used bytes, target[1] byte offset of the text
// (12), target[2] capacity in words; the text follows in the same words.
// `target_words` is the real size of the array. Capacity 0 prints to the log.
void DAPrtProgram(const int32_t* program, int32_t program_words, int32_t descriptor,
                  int32_t* target, int32_t target_words);
void DAPrtLine(const char* text, int32_t length, int32_t* target, int32_t target_words);
// min(width, 160) dashes, then program word `position` in 6 places.
void DAPrtSeparator(const int32_t* program, int32_t program_words, int32_t position,
                    int32_t* target, int32_t target_words, int32_t width);

}  // namespace interp
