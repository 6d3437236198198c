// Parameters and result columns of internal statements: nulls, integers,
// padded and variable-length values, one-byte fields, and numbers or
// descriptors that point outside the statement (nothing written outside).
#include "kernel/statement_columns.h"

#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

class ColumnsTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    // Parameters: int(8), text(6), var text(6) + its length(8), 1-byte.
    // Columns: int(8), text(6), var text(6), its length(8), 1-byte.
    stm_ = MakeStatement(base_, {8, 6, 6, 8, 1}, {8, 6, 6, 8, 1});
  }
  int32_t stm_ = 0;
};

TEST_F(ColumnsTest, NullColumnReadsLeaveTheBufferAlone) {
  PutColumnNull(base_, stm_, 2);
  uint8_t buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  int32_t status = 0;
  DSGetColBytes(base_, &status, stm_, 2, buffer, 1);
  EXPECT_EQ(status, -1);
  for (uint8_t b : buffer) EXPECT_EQ(b, 9);
  PutColumnNull(base_, stm_, 1);
  int32_t v = 0;
  DSGetColInt(base_, &status, stm_, 1, &v);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(v, -2147483648);
}

TEST_F(ColumnsTest, IntegersAndTextRoundTrip) {
  int32_t status = 0;
  for (int32_t x : {0, 1, -1, 2147483647, -2147483647, 1000000}) {
    DSSetParInt(base_, &status, stm_, 1, x);
    ASSERT_EQ(status, 0);
    bool null = true;
    EXPECT_EQ(ParameterInt(base_, stm_, 1, &null), x);
    EXPECT_FALSE(null);
    PutColumnInt(base_, stm_, 1, x);
    int32_t v = 0;
    DSGetColInt(base_, &status, stm_, 1, &v);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(v, x);
  }
  const uint8_t text[] = "ab";
  DSSetParChar(base_, &status, stm_, 2, text, 0, 2);
  uint8_t* f;
  int32_t len;
  ASSERT_EQ(StatementField(base_, stm_, false, 2, &f, &len), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 6), std::string("\0ab   ", 6));
  DSSetParPad(base_, &status, stm_, 2, text, 1, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 6), std::string("\0b\0\0\0\0", 6));
  // A null parameter is cleared again by any setter.
  DSSetParNull(base_, &status, stm_, 2);
  EXPECT_EQ(f[0], 255);
  EXPECT_EQ(f[5], 255);
  const uint8_t long_text[] = "abcdefghi";
  DSSetParChar(base_, &status, stm_, 2, long_text, 0, 9);  // cut at the field
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f), 6), std::string("\0abcde", 6));
}

TEST_F(ColumnsTest, VariableLengthValues) {
  int32_t status = 0, length = -1;
  uint8_t buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  // Value from column n, its length from n+1.
  PutColumnText(base_, stm_, 3, "hello");
  PutColumnInt(base_, stm_, 4, 3);
  DSGetColVar(base_, &status, stm_, 3, buffer, 2, 16, &length);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "xxhelx");
  PutColumnInt(base_, stm_, 4, 0);
  DSGetColVar(base_, &status, stm_, 3, buffer, 0, 16, &length);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], ' ');
  // A length larger than the field or the buffer is cut to them.
  PutColumnInt(base_, stm_, 4, 1000);
  DSGetColVar(base_, &status, stm_, 3, buffer, 13, 16, &length);
  EXPECT_EQ(length, 3);
  PutColumnNull(base_, stm_, 3);
  DSGetColVar(base_, &status, stm_, 3, buffer, 0, 16, &length);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(length, 0);
  const uint8_t text[] = "wxyz";
  DSSetParVar(base_, &status, stm_, 3, text, 0, 4);
  EXPECT_EQ(status, 0);
  bool null = true;
  EXPECT_EQ(ParameterInt(base_, stm_, 4, &null), 4);
}

TEST_F(ColumnsTest, OneByteFieldTakesNothing) {
  const int32_t sd = W(stm_ + STM_NEXT_COM, COM_SD);
  uint8_t* f;
  int32_t len;
  ASSERT_EQ(StatementField(base_, stm_, false, 5, &f, &len), 0);
  ASSERT_EQ(len, 1);
  const uint8_t next = f[1];
  const uint8_t text[] = "zz";
  int32_t status = 0;
  DSSetParChar(base_, &status, stm_, 5, text, 0, 2);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(f[1], next);
  DSSetParBin(base_, &status, stm_, 5, text, 0);
  EXPECT_EQ(f[1], next);
  (void)sd;
}

// Numbers outside the descriptor, a field beyond the storage, and a
// statement index outside the storage answer -19078 and write nothing.
TEST_F(ColumnsTest, BadNumbersAndDescriptorsAreRefused) {
  int32_t status = 0, v = 0;
  for (int32_t n : {0, -1, 6, 1 << 30}) {
    DSSetParInt(base_, &status, stm_, n, 5);
    EXPECT_EQ(status, -19078) << n;
    DSGetColInt(base_, &status, stm_, n, &v);
    EXPECT_EQ(status, -19078) << n;
  }
  const int32_t sd = W(stm_ + STM_NEXT_COM, COM_SD);
  const int32_t entry = sd + W(sd, SD_INPUT_TABLE);
  const int32_t stg = W(stm_ + STM_NEXT_COM, COM_STG);
  const int32_t after = W(stg, W(sd, SD_STORAGE_WORDS) + 1);
  W(entry, 0) = 4 * W(sd, SD_STORAGE_WORDS) - 2;  // runs past the storage
  DSSetParNull(base_, &status, stm_, 1);
  EXPECT_EQ(status, -19078);
  EXPECT_EQ(W(stg, W(sd, SD_STORAGE_WORDS) + 1), after);
  W(sd, SD_INPUT_TABLE) = 1 << 30;
  DSSetParNull(base_, &status, stm_, 1);
  EXPECT_EQ(status, -19078);
  DSSetParNull(base_, &status, base_[sqlpool::WORDS] + 5, 1);
  EXPECT_EQ(status, -19078);
}

// National characters: 3 bytes each, counted in characters.
TEST_F(ColumnsTest, NationalCharacters) {
  const int32_t stm = MakeStatement(base_, {10, 8}, {10, 8});
  const uint8_t chars[] = {0, 0, 'a', 0, 0, 'b', 0, 0, 'c', 0, 0, 'd'};
  int32_t status = 0;
  DSSetParNVar(base_, &status, stm, 1, chars, 1, 2);
  ASSERT_EQ(status, 0);
  uint8_t* f;
  int32_t len;
  ASSERT_EQ(StatementField(base_, stm, false, 1, &f, &len), 0);
  EXPECT_EQ(std::vector<uint8_t>(f, f + 10),
            (std::vector<uint8_t>{0, 0, 0, 'b', 0, 0, 'c', 0, 0, ' '}));
  bool null = true;
  EXPECT_EQ(ParameterInt(base_, stm, 2, &null), 2);
  DSSetParNVar(base_, &status, stm, 1, chars, 0, 4);  // one character too many
  EXPECT_NE(status, 0);
  int32_t cl;
  uint8_t* c = ColumnField(base_, stm, 1, &cl);
  c[0] = 0;
  std::memcpy(c + 1, chars, 9);
  PutColumnInt(base_, stm, 2, 5);
  uint8_t out[12] = {};
  int32_t length = -1;
  DSGetColNum(base_, &status, stm, 1, out, 0, 12, &length);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 3) << "cut to the field's whole characters";
  EXPECT_EQ(std::vector<uint8_t>(out, out + 9), std::vector<uint8_t>(chars, chars + 9));
  PutColumnInt(base_, stm, 2, 0);
  DSGetColNum(base_, &status, stm, 1, out, 3, 12, &length);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(out[5], ' ');
}

}  // namespace
