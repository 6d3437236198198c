// The diagnostics record a client reads (DSGetDiagRecord, the log record
// reference of a return vector), the message statements of the thread and
// their kernel fallback, and the GET DIAGNOSTICS items read through them
// and through the catalog's object names.
#include <cstring>
#include <string>

#include "interp/conditions.h"
#include "interp/diagnostics.h"
#include "interp/instruction_trace.h"
#include "interp/message_statements.h"
#include "interp/opcode_table.h"
#include "interp/request_services.h"
#include "interp/tests/exec_fixture.h"
#include "kernel/diagnostics_area.h"
#include "kernel/statement_columns.h"
#include "kernel/tests/statement_fixture.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

// Object names: table 7 is "SALES"."ORDERS", routine 9 "SALES"."BOOK".
int32_t Names(int32_t*, int32_t, int32_t kind, int32_t id, int32_t, char* names) {
  const char* first = nullptr;
  const char* second = nullptr;
  if (kind == -2 && id == 7) first = "SALES", second = "ORDERS";
  if ((kind == -4 || kind == -8) && id == 9) first = "SALES", second = "BOOK";
  if (kind == -4 && id == 666) return -19999;
  if (first == nullptr) return 1;
  std::memcpy(names, first, std::strlen(first));
  std::memcpy(names + 128, second, std::strlen(second));
  return 0;
}

void Origin(char* text, int32_t offset, int32_t* length, const char* state, int32_t mode) {
  const std::string s = mode == 1 ? std::string("ISO 9075 ") + std::string(state, 2) : "HARBOUND";
  const int32_t n = std::min<int32_t>(*length, static_cast<int32_t>(s.size()));
  std::memcpy(text + offset, s.data(), static_cast<size_t>(n));
  *length = static_cast<int32_t>(s.size());
}

// The kernel's own catalog look-ups: the thread's table statement answers
// table 7 with "SALES"."ORDERS" (columns 1, 2 the kind, 3), its column
// statement column 3 of table 7 with "QTY".
int32_t g_column_statement = 0;
void KernelTableRows(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  std::memset(result, 0, (1 + kStateWords) * sizeof(int32_t));
  int32_t& pc = Wd(base, stm, STM_PC);
  bool null = false;
  if (pc != 2 || ParameterInt(base, stm, 1, &null) != 7) {
    pc = 0;
    return;
  }
  if (stm == g_column_statement) {
    if (ParameterInt(base, stm, 2, &null) == 3) PutColumnText(base, stm, 1, "QTY");
    pc = ParameterInt(base, stm, 2, &null) == 3 ? 3 : 0;
    return;
  }
  PutColumnText(base, stm, 1, "SALES");
  PutColumnInt(base, stm, 2, -2);
  PutColumnText(base, stm, 3, "ORDERS");
  pc = 3;
}

class DiagRecordTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    services_.object_name = Names;
    services_.std_name = Origin;
  }
  int32_t Add(int32_t native, const std::string& text = "") {
    return DSAddDiag(base_, usr_, 5, native, 3, reinterpret_cast<const uint8_t*>(text.data()),
                     static_cast<int32_t>(text.size()));
  }
  // Reads record n: the next number, with native_, position_ and text_.
  int32_t Read(int32_t n, int32_t usr = -1) {
    int32_t block[3] = {n, usr == -1 ? usr_ : usr, 0};
    char text[kDiagTextMax + 8];
    std::memset(text, '#', sizeof text);
    int32_t length = -7;
    DSGetDiagRecord(base_, block, &position_, &length, text);
    EXPECT_GE(length, 0);
    EXPECT_LE(length, kDiagTextMax);
    EXPECT_EQ(text[kDiagTextMax], '#');
    native_ = block[2];
    text_.assign(text, static_cast<size_t>(std::max(length, 0)));
    return block[0];
  }
  int32_t native_ = 0, position_ = 0;
  std::string text_;
};

TEST_F(DiagRecordTest, TextsLoseTheirItemLettersAndRecordsAreNumberedToTheEnd) {
  const std::string sep(1, '\xff');
  struct Case {
    std::string stored, delivered;
  } cases[] = {
      {"plain text", "plain text"},
      {"A\tORDERS", "ORDERS"},
      {"A\tORDERS" + sep + "B\tSALES", "ORDERS" + sep + "SALES"},
      {"A\t" + sep + "B\tx", sep + "x"},
      {"\t\t\t", ""},
  };
  Wd(base_, usr_, USR_TRAN_DIAG_SIZE) = 10;
  for (const Case& c : cases) ASSERT_EQ(Add(-10101, c.stored), 0);
  int32_t n = 1;
  for (int32_t k = 0; k < 5; ++k) {
    const int32_t next = Read(n);
    EXPECT_EQ(native_, -10101);
    EXPECT_EQ(position_, 5);
    EXPECT_EQ(text_, cases[k].delivered) << k;
    EXPECT_EQ(next, k < 4 ? n + 1 : 0);
    n = next;
  }
  EXPECT_EQ(Read(6), 0);
  EXPECT_EQ(Read(0), 0);
}

TEST_F(DiagRecordTest, ALongTextIsCutTo588InTheRecord) {
  ASSERT_EQ(Add(-10101, "X"), 0);
  ASSERT_EQ(Add(-10102, std::string(700, 'a')), 0);
  Read(2);
  EXPECT_EQ(text_, std::string(588, 'a'));
  int32_t record = Wd(base_, usr_, USR_DIA_NEXT);
  while (Wd(base_, record, DIAREC_NUMBER) != 2) record = Wd(base_, record, DIAREC_NEXT);
  EXPECT_EQ(Wd(base_, record, DIAREC_TEXT_LENGTH), 588);
}

TEST_F(DiagRecordTest, WithoutTextOrRecordsTheReturnVectorNamesTheLogRecord) {
  const std::string sep(1, '\xff');
  // The names come from the kernel's catalog look-up, not from the
  // request layer's table.
  services_.object_name = nullptr;
  Wd(base_, thr_, THR_STM_MOS_TABLE) = MakeStatement(base_, {8}, {129, 8, 257, 8, 2, 2, 3, 2});
  CoreTest::services_.damae2 = KernelTableRows;
  CoreTest::services_.da_op_name = [](int32_t opcode, char* name) {
    return DAOpName(name, 0, opcode);
  };
  // No records: the session's return vector: databank 1, table 7, opcode
  // and program counter.
  int32_t* rvec = &Wd(base_, usr_, USR_RVEC_RCODE);
  rvec[kStateReturnCode] = -16001;
  rvec[kStateBitVector] = kBitsTable;
  rvec[kStateOpcode] = kOpBEG;
  rvec[kStateLid] = 1;
  rvec[kStateSequence] = 3;
  rvec[kStateTable] = 7;
  rvec[kStateResume] = 12;
  EXPECT_EQ(Read(1), 0);
  EXPECT_EQ(native_, -16001);
  EXPECT_EQ(position_, -1);
  EXPECT_EQ(text_, "SYSDB" + sep + "sysdb9.dbf" + sep + "SALES.ORDERS" + sep + "BEG" + sep + "12");
  // Another databank and a table without a name.
  rvec[kStateLid] = 4;
  rvec[kStateTable] = 8;
  rvec[kStateBitVector] = kBitsConstraint | (1 << 2);
  Read(1);
  EXPECT_EQ(text_, "DBANKID=4, SEQNO=3" + sep + "TABLEID=8");
  // Record 1 without a text, and a packed SQLSTATE delivering none.
  ASSERT_EQ(Add(-10101), 0);
  Read(1);
  EXPECT_EQ(native_, -10101);
  EXPECT_EQ(text_, "DBANKID=4, SEQNO=3" + sep + "TABLEID=8");
  int32_t packed = 0;
  ASSERT_EQ(PackSqlState("45001", &packed), 0);
  ASSERT_EQ(Add(packed, "A\tignored"), 0);
  EXPECT_EQ(Read(2), 0);
  EXPECT_EQ(native_, kPackedNative);
  EXPECT_EQ(text_, "");
  // No session: the system's return vector.
  Wd(base_, KernelSys(base_), SYS_RVEC) = -19040;
  Read(1, 0);
  EXPECT_EQ(native_, -19040);
}

// A message statement: line 1 and 2 of any code, no line 3 (the run fails).
constexpr char kMessageProgram[] = R"(type 77
field P1 decimal 10
field P2 decimal 10
field P3 decimal 10
field P4 decimal 10
field ONE decimal 10
field TWO decimal 10
field LINE char 80
field LINE1 char 80 = 'Duplicate key.'
field LINE2 char 80 = 'The row was not stored.'
input P1 P2 P3 P4
output LINE
code
 BEG
 CNT 1 P4 10 ONE 10 first
 CNT 1 P4 10 TWO 10 second
 END -1
first: MVB LINE LINE1 81
 END 0
second: MVB LINE LINE2 81
 END 0
)";
constexpr char kSeverityProgram[] = R"(type 77
field P1 decimal 10
field P2 decimal 10
field P3 decimal 10
field BANNER char 6 = 'SQLERR'
field SEVERITY decimal 5
field X char 1
field TEXT char 40 = null
input P1 P2 P3
output BANNER SEVERITY X TEXT
code
 BEG
 END 0
)";

class MessageTest : public DiagRecordTest {
 protected:
  void SetUp() override {
    DiagRecordTest::SetUp();
    message_ = Make(kMessageProgram);
    severity_ = Make(kSeverityProgram);
    Decimal(message_, "ONE", 1);
    Decimal(message_, "TWO", 2);
    Decimal(severity_, "SEVERITY", 3);
  }
  void Decimal(int32_t stm, const std::string& field, int32_t value) {
    const int32_t stg = Wd(base_, stm, STM_STG);
    ByteSpan area(reinterpret_cast<uint8_t*>(&Wd(base_, stg, 0)),
                  static_cast<size_t>(Wd(base_, Sd(stm), kDescStorageSize)) * 4);
    int_to_decimal(area, value_descriptor{asm_of_.at(stm).fields.at(field), field == "SEVERITY" ? 5 : 10},
                   value);
  }
  std::string Message(int32_t code) {
    char text[400];
    int32_t length = 0;
    MessageText(base_, code, text, sizeof text, &length);
    return std::string(text, static_cast<size_t>(length));
  }
  int32_t message_ = 0, severity_ = 0;
};

TEST_F(MessageTest, MessageLinesComeFromTheThreadStatementOrTheKernelTexts) {
  // Without a statement: the kernel's own text.
  EXPECT_EQ(Message(-18009).substr(0, 35), "Embedded SQL and ZAVOR/DB versions ");
  EXPECT_EQ(Message(0), "");
  Wd(base_, thr_, THR_STM_MOS_MESSAGE) = message_;
  EXPECT_EQ(Message(-10101), "Duplicate key. The row was not stored.");
  // -18009 is always the kernel's.
  EXPECT_EQ(Message(-18009).substr(0, 12), "Embedded SQL");
  char line[80];
  int32_t block[4] = {3, 1, -10101, 1};
  DSMosMessage(base_, block, line);
  EXPECT_EQ(block[0], kNoMessageLine);
}

TEST_F(MessageTest, SeverityBannerAndText) {
  char banner[26], text[40];
  int32_t severity = -1;
  int32_t block[4] = {0, 1, -10101, 1};
  Wd(base_, thr_, THR_STM_MOS_SEVERITY) = severity_;
  DSMosSeverity(base_, block, banner, text, &severity);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(std::string(banner, 26), "SQLERR?? " + std::string(17, ' '));
  EXPECT_EQ(severity, 3);
  EXPECT_EQ(std::string(text, 40), std::string(40, ' '));
  // Without a thread block: -18515.
  SetSlot(TLS_SLOT_THR, 0);
  DSMosSeverity(base_, block, banner, text, &severity);
  EXPECT_EQ(block[0], -18515);
}

class GetItemTest : public MessageTest {
 protected:
  static constexpr int32_t kNumber = 100, kTarget = 120, kLength = 160;
  int32_t Get(int32_t item, int32_t length, bool character = true) {
    int_to_decimal(ByteSpan(bytes_, sizeof bytes_), value_descriptor{kNumber, 5}, 1);
    const int32_t ops[6] = {item, kNumber, 5, kTarget, length, kLength};
    ConditionRun run;
    run.storage = reinterpret_cast<int32_t*>(bytes_);
    run.storage_words = sizeof bytes_ / 4;
    RuntimeSite site(base_, pb_);
    pb_[kExecUsr] = usr_;
    return DSGetDiagnostics(base_, usr_, ByteSpan(bytes_, sizeof bytes_), ops, character,
                            kProgInsertOne, site, run);
  }
  std::string Target(int32_t length) {
    return std::string(reinterpret_cast<char*>(bytes_) + kTarget + 1, static_cast<size_t>(length));
  }
  int32_t Number(int32_t length) {
    int32_t v = 0;
    decimal_to_int(&v, ConstByteSpan(bytes_, sizeof bytes_), value_descriptor{kTarget, length});
    return v;
  }
  alignas(4) uint8_t bytes_[400] = {};
};

TEST_F(GetItemTest, NamesOriginsConnectionAndMessageItems) {
  Wd(base_, usr_, USR_CURRENT_TABLE_SYSID) = 7;
  Wd(base_, usr_, USR_CURRENT_ROUTINE_SYSID) = 9;
  Wd(base_, usr_, USR_CURRENT_CONSTRAINT_SYSID) = 5;
  DSAddCondition(base_, usr_, -10101, kRaiseFailure, 0, "23000", 0);
  struct Case {
    int32_t item;
    std::string value;
  } cases[] = {
      {12, "SALES"}, {13, "ORDERS"}, {19, "SALES"}, {20, "BOOK"}, {21, "SALES"},
      {24, ""},      {25, ""},       {16, ""},      {34, "ISO 9075 23"}, {35, "HARBOUND"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Get(c.item, 20), 0) << c.item;
    EXPECT_EQ(Target(20), c.value + std::string(20 - c.value.size(), ' ')) << c.item;
  }
  std::memcpy(&Wd(base_, usr_, USR_CONNECTION_NAME), "conn1", 5);
  Wd(base_, usr_, USR_CONNECTION_NAME_LENGTH) = 5;
  ASSERT_EQ(Get(28, 5), 0);
  EXPECT_EQ(Target(5), "conn1");
  Wd(base_, thr_, THR_STM_MOS_MESSAGE) = message_;
  ASSERT_EQ(Get(36, 60), 0);
  EXPECT_EQ(Target(38), "Duplicate key. The row was not stored.");
  ASSERT_EQ(Get(36, 10), kErrCharsLost);
  ASSERT_EQ(Get(37, 5, false), 0);
  EXPECT_EQ(Number(5), 38);
  // A failing lookup passes its result on.
  Wd(base_, usr_, USR_CURRENT_CONSTRAINT_SYSID) = 666;
  DSAddCondition(base_, usr_, -10101, kRaiseFailure, 0, "23000", 0);
  EXPECT_EQ(Get(24, 20), -19999);
  // Without the table's entry the kernel's own look-up answers; a
  // parameter's name, which it cannot look up, fails with -19040.
  services_.object_name = nullptr;
  Wd(base_, thr_, THR_STM_MOS_TABLE) = MakeStatement(base_, {8}, {129, 8, 257, 8, 2, 2, 3, 2});
  CoreTest::services_.damae2 = KernelTableRows;
  ASSERT_EQ(Get(13, 20), 0);
  EXPECT_EQ(Target(20), "ORDERS" + std::string(14, ' '));
  EXPECT_EQ(Get(22, 20), kErrServiceAbsent);
  // A column's name: table 7, column 3 of a class "42" condition.
  g_column_statement = Wd(base_, thr_, THR_STM_MOS_COLUMN) = MakeStatement(base_, {8, 8}, {129});
  Wd(base_, usr_, USR_CURRENT_COLUMN_NUMBER) = 3;
  DSAddCondition(base_, usr_, -12500, kRaiseFailure, 0, "42000", 0);
  ASSERT_EQ(Get(14, 20), 0);
  EXPECT_EQ(Target(20), "QTY" + std::string(17, ' '));
}

}  // namespace
}  // namespace interp
