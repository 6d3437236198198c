// The compiler's routine, parameter, trigger, stored-text and default
// lookups over rows the dictionary's inserts write.
#include "dict/compiler_routines.h"

#include <cstring>
#include <string>
#include <vector>

#include "dict/compiler_services.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/tests/lookup_fixture.h"
#include "dict/type_encoding.h"
#include "kernel/control_blocks.h"
#include "sql/front/catalog_access.h"

namespace {

class CompilerRoutinesTest : public LookupTest {
 protected:
  void Routine(int32_t id, bool function, const std::string& schema, const std::string& name,
               int32_t access) {
    ASSERT_EQ(InsObject(id, function ? 12 : 11, schema, name), 0);
    DDRoutineDef r;
    r.id = id;
    r.module_id = id + 1;
    r.access = access;
    r.ints[0] = 56;
    r.ints[1] = 63;
    r.ints[2] = 70;
    r.ints[3] = 84;
    r.flags[0] = true;
    int32_t pb[2] = {0, usr_};
    (function ? DDInsFunction : DDInsProcedure)(base_, pb, r);
    ASSERT_EQ(pb[0], 0);
  }
  void Parameter(int32_t routine, int32_t position, bool result, int32_t mode,
                 const DDTypeInput& type) {
    const std::string name = (result ? "C" : "P") + std::to_string(position);
    DDParameterDef d;
    d.routine_id = routine;
    d.position = position;
    d.result = result;
    d.mode = mode;
    d.name = name.data();
    d.name_length = static_cast<int32_t>(name.size());
    d.second = 160 + position;
    d.type = &type;
    int32_t pb[2] = {0, usr_};
    DDInsParameter(base_, pb, d);
    ASSERT_EQ(pb[0], 0);
  }
  static std::vector<uint8_t> Text3(const std::string& s) {
    std::vector<uint8_t> t;
    for (char ch : s) t.insert(t.end(), {0, 0, static_cast<uint8_t>(ch)});
    return t;
  }
  static std::string Chars(const uint8_t* t3, int32_t n) {
    std::string s;
    for (int32_t k = 0; k < n; ++k) s += static_cast<char>(t3[3 * k + 2]);
    return s;
  }
};

DDTableName Name(const std::string& schema, const std::string& name) {
  DDTableName n;
  n.schema = schema.data();
  n.schema_length = static_cast<int32_t>(schema.size());
  n.name = name.data();
  n.name_length = static_cast<int32_t>(name.size());
  return n;
}

// A routine by name, through the path, or by id, of its own kind only;
// Routine1 marks the result found, Routine2 leaves the mark; the data
// access words as 1-4; the privilege test by the current schema or PUBLIC.
TEST_F(CompilerRoutinesTest, RoutinesByNameKindAndPrivilege) {
  ASSERT_EQ(BegWork(), 0);
  Routine(1500, true, "ADAM", "F", 3);
  Routine(1502, false, "ADAM", "P", 4);
  Routine(1504, true, "EVE", "G", 1);
  int32_t pb[2] = {0, usr_};
  DDInsPrivilege(base_, pb, 8, 1504, false, "PUBLIC", 6, "EVE", 3);
  ASSERT_EQ(pb[0], 0);
  struct Case {
    std::string schema, name;
    bool function;
    int32_t status, id, access;
  };
  const Case cases[] = {{"ADAM", "F", true, 0, 1500, 3},  {"ADAM", "F", false, 1, 0, 0},
                        {"ADAM", "P", false, 0, 1502, 4}, {"ADAM", "P", true, 1, 0, 0},
                        {"EVE", "G", true, 0, 1504, 1},   {"EVE", "F", true, 1, 0, 0},
                        {"ADAM", "NONE", true, 1, 0, 0}};
  for (const Case& c : cases) {
    DDRoutineAttr a{};
    pb[0] = 0;
    pb[1] = usr_;
    DDCmpRoutine1(base_, pb, Name(c.schema, c.name), c.function, true, &a);
    ASSERT_EQ(pb[0], c.status) << c.schema << "." << c.name;
    if (c.status != 0) {
      EXPECT_EQ(a.found, 0);
      continue;
    }
    EXPECT_EQ(a.found, 1);
    EXPECT_EQ(a.id, c.id);
    EXPECT_EQ(std::string(a.schema, a.schema_length), c.schema);
    EXPECT_EQ(a.module_id, c.id + 1);
    EXPECT_EQ(a.data_access, c.access);
    EXPECT_EQ(a.ints[0], 56);
    EXPECT_EQ(a.ints[3], c.function ? 1 : 0) << "INT_77: 1 for a function";
    EXPECT_EQ(a.ints[4], 84);
    EXPECT_EQ(a.flags[0], 1);
    EXPECT_EQ(a.flags[1], 0);
    EXPECT_EQ(a.privileged, c.schema == "EVE" ? 1 : 0) << "PUBLIC holds FUNCTION on G only";
  }
  // Through the level's path (ADAM's level path names ADAM) and by id.
  const int32_t lvl = W(usr_ + USR_LVL);
  auto* path = reinterpret_cast<uint8_t*>(&W(lvl + LVL_PATH));
  std::memset(path, 255, 387);
  path[0] = 0;
  std::memset(path + 1, ' ', 128);
  std::memcpy(path + 1, "EVE", 3);
  DDRoutineAttr a{};
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpRoutine2(base_, pb, Name("", "G"), true, false, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(a.id, 1504);
  EXPECT_EQ(a.found, 0) << "Routine2 leaves the mark";
  DDTableName by_id;
  by_id.id = 1502;
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpRoutine2(base_, pb, by_id, false, false, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(std::string(a.name, a.name_length), "P");
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpRoutine2(base_, pb, by_id, true, false, &a);
  EXPECT_EQ(pb[0], 1) << "a procedure is no function";
  // An object without its routine row; a name too long before anything.
  ASSERT_EQ(InsObject(1506, 12, "ADAM", "LOST"), 0);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpRoutine1(base_, pb, Name("ADAM", "LOST"), true, false, &a);
  EXPECT_EQ(pb[0], -19007);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpRoutine1(base_, pb, Name("ADAM", std::string(129, 'F')), true, false, &a);
  EXPECT_EQ(pb[0], DD_NAME_TOO_LONG);
  ASSERT_EQ(EndWork(0), 0);
}

// Parameters and result columns apart, by position, with their mode and
// their type by the dictionary's type rules.
TEST_F(CompilerRoutinesTest, ParametersAndResultColumnsWithTheirTypes) {
  ASSERT_EQ(BegWork(), 0);
  DDTypeInput chars;
  chars.code = 5;
  chars.length = 30;
  DDTypeInput decimal;
  decimal.code = 2;
  decimal.precision = 9;
  decimal.scale = 2;
  decimal.length = 9;
  DDTypeInput interval;
  interval.code = 17;
  interval.interval_length = 4;
  interval.length = 4;
  Parameter(1600, 1, false, 1, chars);
  Parameter(1600, 2, false, 2, decimal);
  Parameter(1600, 3, false, 3, interval);
  Parameter(1600, 1, true, 0, decimal);
  struct Case {
    int32_t position, mode, type, length, scale;
  };
  // An interval's stored length is its length.
  const Case params[] = {{1, 1, 5, 30, 0}, {2, 2, 2, 9, 2}, {3, 3, 17, 4, 0}};
  for (const Case& c : params) {
    DDParamDesc d{};
    int32_t pb[2] = {0, usr_};
    DDCmpParams(base_, pb, 1600, c.position, &d);
    ASSERT_EQ(pb[0], 0) << c.position;
    EXPECT_EQ(std::string(d.name, d.name_length), "P" + std::to_string(c.position));
    EXPECT_EQ(d.mode, c.mode);
    EXPECT_EQ(d.type, c.type) << c.position;
    EXPECT_EQ(d.length, c.length) << c.position;
    EXPECT_EQ(d.scale, c.scale) << c.position;
    EXPECT_EQ(d.further, 160 + c.position);
  }
  DDParamDesc d{};
  int32_t pb[2] = {0, usr_};
  DDCmpParams(base_, pb, 1600, 4, &d);
  EXPECT_EQ(pb[0], 1);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpParamCols(base_, pb, 1600, 1, &d);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(std::string(d.name, d.name_length), "C1");
  EXPECT_EQ(d.mode, 0);
  EXPECT_EQ(d.type, 2);
  EXPECT_EQ(d.length, 9);
  EXPECT_EQ(d.scale, 2);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpParamCols(base_, pb, 1600, 2, &d);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(0), 0);
}

// The triggers of a table for one event, one a call, then 1; a next call
// without an open walk 1; an event outside 1-3 -19089. Each says whether
// it keeps an old and a new transition name.
TEST_F(CompilerRoutinesTest, TriggersOfATableOneACall) {
  ASSERT_EQ(BegWork(), 0);
  struct Def {
    int32_t id, table, event, timing;
    bool row;
    const char* old_name;
    const char* new_name;
  };
  const Def defs[] = {{1700, 22, 1, 1, true, "", "N"},
                      {1701, 22, 2, 3, false, "", ""},
                      {1702, 22, 1, 2, false, "OLD_TABLE", ""},
                      {1703, 16, 1, 1, true, "O", "N"}};
  const std::vector<uint8_t> action = Text3("BEGIN END");
  for (const Def& d : defs) {
    DDTriggerDef t;
    t.id = d.id;
    t.table_id = d.table;
    t.event = d.event;
    t.timing = d.timing;
    t.row = d.row;
    t.old_name = d.old_name;
    t.old_length = static_cast<int32_t>(std::strlen(d.old_name));
    t.new_name = d.new_name;
    t.new_length = static_cast<int32_t>(std::strlen(d.new_name));
    t.action3 = action.data();
    t.action_length = 9;
    t.value = d.id % 100;
    int32_t pb[2] = {0, usr_};
    DDInsTrigger(base_, pb, t);
    ASSERT_EQ(pb[0], 0);
  }
  int32_t pb[2] = {1, usr_};
  DDTriggerAttr t{};
  DDCmpTrigger(base_, pb, 22, 1, &t);
  EXPECT_EQ(pb[0], 1) << "no walk open";
  const std::vector<uint8_t> text = Text3("x");
  pb[0] = 0;
  pb[1] = usr_;
  DDInsSource(base_, pb, 1702, "", 0, 1, text.data(), 1);
  ASSERT_EQ(pb[0], 0);
  std::vector<int32_t> ids;
  for (pb[0] = 0;; pb[0] = 1, pb[1] = usr_) {
    DDCmpTrigger(base_, pb, 22, 1, &t);
    if (pb[0] != 0) break;
    ids.push_back(t.id);
    EXPECT_EQ(t.table_id, 22);
    EXPECT_EQ(t.timing, t.id == 1700 ? 1 : 2);
    EXPECT_EQ(t.row, t.id == 1700 ? 1 : 0);
    EXPECT_EQ(t.flags[2], t.id == 1702 ? 1 : 0) << "a stored text";
    EXPECT_EQ(t.value, t.id % 100);
    EXPECT_EQ(t.old_rows, t.id == 1702 ? 1 : 0) << t.id;
    EXPECT_EQ(t.new_rows, t.id == 1700 ? 1 : 0) << t.id;
  }
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(ids, (std::vector<int32_t>{1700, 1702}));
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpTrigger(base_, pb, 22, 3, &t);
  EXPECT_EQ(pb[0], 1);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpTrigger(base_, pb, 22, 4, &t);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  ASSERT_EQ(EndWork(0), 0);
}

// A stored text read whole in one call and a long default, never past the
// caller's buffer.
TEST_F(CompilerRoutinesTest, StoredTextsAndDefaultsWithinTheBuffer) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(1800, 11, "ADAM", "PR"), 0);
  std::string source;
  for (int32_t k = 0; k < 1900; ++k) source += static_cast<char>('a' + k % 26);
  const std::vector<uint8_t> text = Text3(source);
  int32_t pb[2] = {0, usr_};
  DDInsSource(base_, pb, 1800, "", 0, 5, text.data(), 1900);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  pb[1] = usr_;
  DDInsSource(base_, pb, 22, "C", 1, 4, text.data(), 1001);
  ASSERT_EQ(pb[0], 0);
  for (int32_t capacity : {0, 10, 800, 801, 1900, 5000}) {
    std::vector<uint8_t> buffer(3 * static_cast<size_t>(capacity) + 3, 0xEE);
    char schema[DD_NAME_BYTES];
    int32_t kind = 0, schema_length = 0, total = 0, length = -1;
    pb[0] = 0;
    pb[1] = usr_;
    DDCmpPS(base_, pb, 1800, 5, &kind, schema, &schema_length, buffer.data(), capacity, &total,
            &length);
    ASSERT_EQ(pb[0], 0) << capacity;
    EXPECT_EQ(kind, 11);
    EXPECT_EQ(std::string(schema, schema_length), "ADAM");
    EXPECT_EQ(total, 1900);
    EXPECT_EQ(length, std::min(capacity, 1900));
    EXPECT_EQ(Chars(buffer.data(), length), source.substr(0, length));
    EXPECT_EQ(buffer[3 * capacity], 0xEE) << "nothing past the buffer";
    length = -1;
    pb[0] = 0;
    pb[1] = usr_;
    DDCmpDefault(base_, pb, 22, "C", 1, buffer.data(), capacity, &length);
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ(length, std::min(capacity, 1001));
    EXPECT_EQ(Chars(buffer.data(), length), source.substr(0, length));
    EXPECT_EQ(buffer[3 * capacity], 0xEE);
  }
  char schema[DD_NAME_BYTES];
  int32_t kind = 0, schema_length = 0, total = 0, length = 0;
  uint8_t buffer[30];
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpPS(base_, pb, 1800, 1, &kind, schema, &schema_length, buffer, 10, &total, &length);
  EXPECT_EQ(pb[0], 1) << "no ROUTINE text";
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpPS(base_, pb, 1801, 5, &kind, schema, &schema_length, buffer, 10, &total, &length);
  EXPECT_EQ(pb[0], 1) << "no object";
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpPS(base_, pb, 1800, 7, &kind, schema, &schema_length, buffer, 10, &total, &length);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpDefault(base_, pb, 22, "D", 1, buffer, 10, &length);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(0), 0);
}

// A column default too long for its column is read back whole from its
// stored text.
TEST_F(CompilerRoutinesTest, ALongColumnDefaultComesFromItsStoredText) {
  ASSERT_EQ(BegWork(), 0);
  std::string value;
  for (int32_t k = 0; k < 1001; ++k) value += static_cast<char>('A' + k % 26);
  const std::vector<uint8_t> text = Text3(value);
  DDColumnDef c;
  c.name = "LONGDEF";
  c.name_length = 7;
  c.number = 1;
  c.type = 5;
  c.length = 2000;
  int32_t pb[2] = {0, usr_};
  DDInsColumn(base_, pb, 1900, c, text.data(), 1001);
  ASSERT_EQ(pb[0], 0);
  c.name = "SHORTDEF";
  c.name_length = 8;
  c.number = 2;
  DDInsColumn(base_, pb, 1900, c, text.data(), 3);
  ASSERT_EQ(pb[0], 0);
  std::vector<uint8_t> buffer(3 * 1200);
  DDColumnDesc d{};
  pb[0] = 0;
  DDCmpColumns(base_, pb, 1900, 0, "LONGDEF", 7, &d, buffer.data(), 1200);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.default_length, 0) << "stored empty, no text kept";
  pb[0] = 0;
  pb[1] = usr_;
  DDInsSource(base_, pb, 1900, "LONGDEF", 7, 4, text.data(), 1001);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DDCmpColumns(base_, pb, 1900, 0, "LONGDEF", 7, &d, buffer.data(), 1200);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.default_length, 1001);
  EXPECT_EQ(Chars(buffer.data(), 1001), value);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpColumns(base_, pb, 1900, 0, "SHORTDEF", 8, &d, buffer.data(), 1200);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.default_length, 3);
  ASSERT_EQ(EndWork(0), 0);
}

// The compiler's service table reaches these lookups: a function found by
// name, its parameters by position with their mode, its triggers walked
// by the count.
TEST_F(CompilerRoutinesTest, TheCompilersEntriesReachTheLookups) {
  const SqlDictionaryServices old = SqlInstallDictionaryServices(nullptr);
  DDInstallCompilerServices(base_);
  const SqlDictionaryServices s = SqlInstallDictionaryServices(nullptr);
  SqlInstallDictionaryServices(&old);
  ASSERT_NE(s.routine, nullptr);
  ASSERT_NE(s.params, nullptr);
  ASSERT_NE(s.param_cols, nullptr);
  ASSERT_NE(s.triggers, nullptr);
  ASSERT_EQ(BegWork(), 0);
  Routine(2000, true, "ADAM", "FN", 2);
  DDTypeInput integer;
  integer.code = 7;
  integer.precision = 11;
  integer.length = 11;
  Parameter(2000, 1, false, 2, integer);
  char schema[258] = "ADAM", name[258] = "FN";
  int32_t schema_length = 4, name_length = 2, answer[7] = {};
  ASSERT_EQ(s.routine(usr_, false, schema, &schema_length, name, &name_length, answer), 0);
  const int32_t want[7] = {2000, 1, 56, 63, 70, 84, 1};
  EXPECT_TRUE(std::equal(want, want + 7, answer));
  name_length = 3;
  EXPECT_EQ(s.routine(usr_, false, schema, &schema_length, name, &name_length, answer), 1);
  char mode[8] = {};
  int32_t triple[3] = {};
  ASSERT_EQ(s.params(usr_, 2000, 1, 128, name, &name_length, mode, triple), 0);
  EXPECT_EQ(std::string(name, name_length), "P1");
  EXPECT_STREQ(mode, "INOUT");
  EXPECT_EQ(triple[0], 7);
  EXPECT_EQ(s.params(usr_, 2000, 2, 128, name, &name_length, mode, triple), 1);
  EXPECT_EQ(s.params(usr_, 2000, 1, 0, name, &name_length, mode, triple), 1) << "past the capacity";
  EXPECT_EQ(s.param_cols(usr_, 2000, 1, name, &name_length, triple), 1);
  DDTriggerDef t;
  t.id = 2001;
  t.table_id = 18;
  t.event = 3;
  t.timing = 3;
  int32_t pb[2] = {0, usr_};
  DDInsTrigger(base_, pb, t);
  ASSERT_EQ(pb[0], 0);
  int32_t count = 0, words[11] = {};
  ASSERT_EQ(s.triggers(usr_, 3, 18, &count, words), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(words[0], 2001);
  EXPECT_EQ(words[1], 3);
  EXPECT_EQ(words[8], 3);
  EXPECT_EQ(s.triggers(usr_, 3, 18, &count, words), 1);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(EndWork(0), 0);
}

}  // namespace
