// Edge input at the limits of the program and the storage: instructions cut
// short by the program's end, lengths and offsets taken from the program or
// from length fields at run time.
#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

// A failing instruction cut short by the program's end names no table: the
// recorder must not read its operands behind the last program word.
TEST_F(InterpTest, CutShortInstructionNamesNoTableAndReadsNothingBehindTheProgram) {
  for (int32_t op : {1, 3, 6, 7, 10, 163, 164, 165}) {
    // The program ends right after the opcode word (its own allocation, so
    // that a read behind it is caught by the address checker).
    std::vector<int32_t> program = {41, op};
    std::vector<int32_t> storage(60, 0);
    storage[kStateLid] = 11;
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), 2, storage.data(), 60, &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode) << op;
    EXPECT_EQ(rvec_[kStateOpcode], op) << op;
    EXPECT_EQ(rvec_[kStateBitVector], kBitsNoTable) << op;
    EXPECT_EQ(rvec_[kStateLid], 11) << op;
    EXPECT_EQ(rvec_[kStateAction], kActionError) << op;
  }
  // A one-word program whose only word is a table opcode, not BEG.
  for (int32_t op : {1, 6, 165}) {
    std::vector<int32_t> program = {op};
    std::vector<int32_t> storage(60, 0);
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), 1, storage.data(), 60, &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrNoBeg) << op;
    EXPECT_EQ(rvec_[kStateOpcode], op) << op;
    EXPECT_EQ(rvec_[kStateBitVector], kBitsNoTable) << op;
    EXPECT_EQ(pos, 1) << op;
  }
}

}  // namespace
