// Bad input is refused before anything is prepared or run: names over 128
// characters, type codes outside 1-35, kinds outside a routine's table,
// counts, modes and lengths; the statement's slot (work block or thread)
// stays empty.
#include <functional>
#include <string>
#include <vector>

#include "dict/compiler_routines.h"
#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_prepare.h"
#include "dict/stored_statements.h"
#include "dict/tests/lookup_fixture.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"

namespace {

class BadInputTest : public LookupTest {};

TEST_F(BadInputTest, RefusedBeforeAnythingIsPrepared) {
  ASSERT_EQ(BegWork(), 0);
  const std::string longname(129, 'N');
  const int32_t n129 = 129;
  const char* ln = longname.c_str();
  DDTableName too_long;
  too_long.name = ln;
  too_long.name_length = n129;
  struct Case {
    const char* what;
    int32_t mode;     // pb[0] on entry
    int32_t status;   // expected
    int32_t slot;     // the work-block slot that stays empty, or -1
    int32_t thr;      // the THR field that stays 0, or 0
    std::function<void(int32_t*)> call;
  };
  uint8_t buffer[64];
  int32_t word = 0, length = 0, words[8] = {};
  DDTableAttr ta{};
  DDColumnDesc cd{};
  DDRoutineAttr ra{};
  DDTriggerAttr tr{};
  DDStoredStatement ss{};
  DDGrantRow gr{};
  DDDatabankFileRow fr{};
  DDObjectText ot{};
  const std::vector<Case> cases = {
      {"DDCmpTableAttr name", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_TA,
       [&](int32_t* pb) { DDCmpTableAttr(base_, pb, too_long, false, &ta); }},
      {"DDCmpColumns name", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_CA,
       [&](int32_t* pb) { DDCmpColumns(base_, pb, 22, 0, ln, n129, &cd, nullptr, 0); }},
      {"DDCmpTablePriv privilege 7", 0, DD_KIND_OUTSIDE, -1, THR_STM_DDL_TP,
       [&](int32_t* pb) { DDCmpTablePriv(base_, pb, 22, 7); }},
      {"DDCmpColumnPriv privilege 3", 0, DD_KIND_OUTSIDE, -1, THR_STM_DDL_CP,
       [&](int32_t* pb) { DDCmpColumnPriv(base_, pb, 22, 3, "A", 1); }},
      {"DDCmpColumnPriv column", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_CP,
       [&](int32_t* pb) { DDCmpColumnPriv(base_, pb, 22, 1, ln, n129); }},
      {"DDCmpSourceRead kind 7", 0, DD_KIND_OUTSIDE, -1, THR_STM_DDL_RA,
       [&](int32_t* pb) { DDCmpSourceRead(base_, pb, 1, "", 0, 7, false, buffer, 8, &length); }},
      {"DDCmpRoutine1 name", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_PR,
       [&](int32_t* pb) { DDCmpRoutine1(base_, pb, too_long, true, false, &ra); }},
      {"DDCmpPS kind 0", 0, DD_KIND_OUTSIDE, -1, THR_STM_DDL_PS,
       [&](int32_t* pb) {
         char schema[DD_NAME_BYTES];
         DDCmpPS(base_, pb, 1, 0, &word, schema, &length, buffer, 8, &word, &length);
       }},
      {"DDCmpTrigger event 4", 0, DD_KIND_OUTSIDE, -1, THR_STM_DDL_TR,
       [&](int32_t* pb) { DDCmpTrigger(base_, pb, 22, 4, &tr); }},
      {"DDCmpDefault name", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_DF,
       [&](int32_t* pb) { DDCmpDefault(base_, pb, 22, ln, n129, buffer, 8, &length); }},
      {"DDCmpGQST name", 0, DD_NAME_TOO_LONG, -1, THR_STM_DDL_GQST,
       [&](int32_t* pb) { DDCmpGQST(base_, pb, "", 0, ln, n129, std::nullopt, &ss); }},
      {"DDInsObject kind 17", 0, DD_KIND_OUTSIDE, -1, 0,
       [&](int32_t* pb) { DDInsObject(base_, pb, 3000, 17, "A", 1, "B", 1); }},
      {"DDInsObject name", 0, DD_BAD_VALUE, -1, 0,
       [&](int32_t* pb) { DDInsObject(base_, pb, 3000, 6, "A", 1, ln, n129); }},
      {"DDSelObject kind 8", 0, DD_KIND_OUTSIDE, SLOT_DDSelObject, 0,
       [&](int32_t* pb) { DDSelObject(base_, pb, "A", 1, "B", 1, 8, &word); }},
      {"DDSelObject name", 0, DD_BAD_VALUE, SLOT_DDSelObject, 0,
       [&](int32_t* pb) { DDSelObject(base_, pb, "A", 1, ln, n129, 6, &word); }},
      {"DDInsColumn type 36", 0, DD_KIND_OUTSIDE, SLOT_DDInsColumn, 0,
       [&](int32_t* pb) {
         DDColumnDef c;
         c.name = "A";
         c.name_length = 1;
         c.type = 36;
         DDInsColumn(base_, pb, 3000, c, nullptr, 0);
       }},
      {"DDInsColumn type 0", 0, DD_KIND_OUTSIDE, SLOT_DDInsColumn, 0,
       [&](int32_t* pb) {
         DDColumnDef c;
         c.name = "A";
         c.name_length = 1;
         DDInsColumn(base_, pb, 3000, c, nullptr, 0);
       }},
      {"DDInsConstraint kind 8", 0, DD_KIND_OUTSIDE, SLOT_DDInsConstraint, 0,
       [&](int32_t* pb) { DDInsConstraint(base_, pb, 3000, 8, 3000, 0, 0, 0, 0, 0); }},
      {"DDInsKey kind 7", 0, DD_KIND_OUTSIDE, SLOT_DDInsKey, 0,
       [&](int32_t* pb) { DDInsKey(base_, pb, 3000, 3000, 1, "A", 1, 7, 1, 1); }},
      {"DDInsDatabank option 4", 0, DD_KIND_OUTSIDE, SLOT_DDInsDatabank, 0,
       [&](int32_t* pb) { DDInsDatabank(base_, pb, 3000, 3000, "D", 1, "O", 1, "f", 1, 4, true); }},
      {"DDInsRefConstraint rule 6", 0, DD_KIND_OUTSIDE, SLOT_DDInsRefConstraint, 0,
       [&](int32_t* pb) { DDInsRefConstraint(base_, pb, 3000, 3000, 3001, 3002, 1, 6, 1); }},
      {"DDGetRefKey count 0", 0, DD_BAD_VALUE, SLOT_DDGetRefKey, 0,
       [&](int32_t* pb) { DDGetRefKey(base_, pb, 3000, 0, "", words, &word); }},
      {"DDGetRefKey count 1001", 0, DD_BAD_VALUE, SLOT_DDGetRefKey, 0,
       [&](int32_t* pb) {
         const std::vector<int32_t> lengths(1001, 1);
         const std::string names(1001, 'A');
         DDGetRefKey(base_, pb, 3000, 1001, names.data(), lengths.data(), &word);
       }},
      {"DDCurTableGrants privilege 8", 1, DD_KIND_OUTSIDE, SLOT_DDCurTableGrants, 0,
       [&](int32_t* pb) {
         DDGrantWalk w;
         w.privilege = 8;
         DDCurTableGrants(base_, pb, w, &gr);
       }},
      {"DDCurColumnGrants privilege 3", 1, DD_KIND_OUTSIDE, SLOT_DDCurColumnGrants, 0,
       [&](int32_t* pb) {
         DDGrantWalk w;
         w.privilege = 3;
         DDCurColumnGrants(base_, pb, w, &gr);
       }},
      {"DDCurTablePrivs name", 1, DD_BAD_VALUE, SLOT_DDCurTablePrivs, 0,
       [&](int32_t* pb) { DDCurTablePrivs(base_, pb, ln, n129, 0, false, &word, &word); }},
      {"DDCurObjText name", 1, DD_BAD_VALUE, SLOT_DDCurObjText, 0,
       [&](int32_t* pb) { DDCurObjText(base_, pb, ln, n129, &ot); }},
      {"DDCurDatabankFile mode 2", 2, DD_BAD_VALUE, SLOT_DDCurDatabankFile, 0,
       [&](int32_t* pb) { DDCurDatabankFile(base_, pb, "D", 1, &fr); }},
      {"DDDelTableRows mode 4", 4, DD_BAD_VALUE, SLOT_DDDelTableRows, 0,
       [&](int32_t* pb) { DDDelTableRows(base_, pb, 1, "", 0, words); }},
      {"DDDelStatement name", 0, DD_NAME_TOO_LONG, SLOT_DDDelStatement, 0,
       [&](int32_t* pb) { DDDelStatement(base_, pb, 0, ln, n129, std::nullopt); }},
      {"DDInsStatementItem item -1", 0, DD_NAME_TOO_LONG, SLOT_DDInsStatementItem, 0,
       [&](int32_t* pb) { DDInsStatementItem(base_, pb, 3000, 1, -1, 0, 0, 0, 0); }},
      {"DDUpdStatistics mode 4", 4, DD_BAD_VALUE, SLOT_DDUpdStatistics, 0,
       [&](int32_t* pb) {
         DDUpdStatistics(base_, pb, 1, 0, "A", 1, nullptr, nullptr, nullptr, nullptr, nullptr);
       }},
      {"DDScanTableRows record 16001", 1, DD_BAD_VALUE, SLOT_DDScanTableRows, 0,
       [&](int32_t* pb) { DDScanTableRows(base_, pb, {kLid, 16, 1, 7, 16001}, buffer, 8, &length); }},
  };
  for (const Case& c : cases) {
    int32_t pb[2] = {c.mode, usr_};
    c.call(pb);
    EXPECT_EQ(pb[0], c.status) << c.what;
    if (c.slot >= 0) {
      int32_t status = 0;
      EXPECT_EQ(DDWorkSlot(base_, usr_, c.slot, &status)[SLOT_STM], 0) << c.what << ": prepared";
    }
    if (c.thr != 0) {
      EXPECT_EQ(W(thr_ + c.thr), 0) << c.what << ": prepared";
    }
  }
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
