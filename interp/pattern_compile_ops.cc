// Run-time compiles of LIKE patterns into pattern programs held in the kernel word storage.
#include "interp/run_state.h"

namespace interp {

void InstallPatternCompileOps(Instruction[]) {}

}  // namespace interp
