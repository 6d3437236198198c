// The set functions MAX, MIN, SUM, AVG and COUNT: begin, feed and end instructions over fixed, varying and collated values.
#include "interp/run_state.h"

namespace interp {

void InstallSetFunctionOps(Instruction[]) {}

}  // namespace interp
