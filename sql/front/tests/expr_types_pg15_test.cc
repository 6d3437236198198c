// Expression typing and name binding against PostgreSQL 15: the cases of
// scripts/expr_types_pg15.sh, compiled here in mode 5 over the same tables
// in the dictionary, are held to the outcomes PostgreSQL gave (the table in
// data/expr_types_pg15.txt). Expressions: the same type family, the same
// length where PostgreSQL describes one, and for +, - and * the scale of
// scale(); refused by both. Statements: accepted by both, or refused with
// the SQLSTATE of our code. The differences by design are listed below with
// their reason; a listed case must still differ.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sql/front/expr_types.h"
#include "sql/front/tests/semantic_fixture.h"

namespace {

struct PgCase {
  char form;  // 'a' expression, 'b' statement
  std::string text;
  std::string described;  // a: format_type or "error"; b: "ok" or the SQLSTATE
  std::string scale;      // a: scale() or "-" (the SQLSTATE after "error")
};

std::vector<PgCase> ReadCases() {
  std::ifstream in(std::string(HARBOUND_TEST_DATA) + "/expr_types_pg15.txt");
  std::vector<PgCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    size_t at = 0;
    for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) {
      f.push_back(line.substr(at, tab - at));
    }
    f.push_back(line.substr(at));
    if (f.size() < 3) continue;
    cases.push_back(PgCase{f[0][0], f[1], f[2], f.size() > 3 ? f[3] : std::string()});
  }
  return cases;
}

// The family of a PostgreSQL type as format_type writes it.
std::string PgFamily(const std::string& described) {
  auto starts = [&](const char* p) { return described.rfind(p, 0) == 0; };
  if (starts("integer") || starts("smallint") || starts("bigint")) return "integer";
  if (starts("numeric")) return "exact";
  if (starts("double") || starts("real")) return "approximate";
  if (starts("character") || starts("text") || starts("bpchar")) return "character";
  if (starts("date")) return "date";
  if (starts("timestamp")) return "timestamp";
  if (starts("time")) return "time";
  if (starts("interval")) return "interval";
  if (starts("bytea")) return "binary";
  if (starts("boolean")) return "boolean";
  return "other:" + described;
}

std::string OurFamily(int32_t code, int32_t cls) {
  if (cls == kClassTruth) return "boolean";
  switch (code) {
    case 1:
      return "integer";
    case 2:
      return "approximate";
    case 3:
      return "exact";
    case 4:
    case 8:
    case 34:
    case 35:
      return "character";
    case 10:
      return "date";
    case 11:
      return "time";
    case 12:
      return "timestamp";
    case 29:
    case 30:
      return "binary";
    default:
      return code >= 13 && code <= 25 ? "interval" : "other:" + std::to_string(code);
  }
}

// The SQLSTATE PostgreSQL gives for the condition our code stands for.
std::string SqlStateOf(int32_t code) {
  static const std::map<int32_t, std::string> states = {
      {-12200, "42P01"}, {-12203, "42P01"}, {-12202, "42703"}, {-12204, "42702"},
      {-12201, "42712"}, {-12205, "42803"}, {-12221, "42803"}, {-12224, "42P10"},
      {-12208, "42601"}, {-12244, "42601"}, {-12270, "42501"}};
  auto it = states.find(code);
  return it == states.end() ? "ours " + std::to_string(code) : it->second;
}

// Cases where we differ from PostgreSQL on purpose.
const std::map<std::string, const char*>& ByDesign() {
  static const std::map<std::string, const char*> cases = {
      {"AVG(i)", "the average of an INT is an INT of its precision (SQL-92 leaves the type to the "
                 "implementation); PostgreSQL gives a numeric with fraction digits"},
      {"d + ym", "DATE plus a year-month interval stays a DATE (SQL-92: the datetime's own type); "
                 "PostgreSQL gives a timestamp"},
      {"d + 1", "a datetime takes only an interval (SQL-92); PostgreSQL adds days to a date"},
      {"d + i", "a datetime takes only an interval (SQL-92); PostgreSQL adds days to a date"},
      {"ts = d", "datetimes compare only when their fields agree (SQL-92); PostgreSQL casts the "
                 "date to a timestamp"},
      {"EXTRACT(YEAR FROM d)", "a field without fraction is an exact numeric of scale 0 (SQL-92), "
                               "held as an integer; PostgreSQL 14 and later give a numeric"},
      {"SELECT a FROM t WHERE a IN (SELECT t.b FROM s)",
       "a nested select list is searched in its own block only (-12203), so it cannot name an "
       "outer table; PostgreSQL takes it as an outer reference"},
      {"SELECT NULL FROM t UNION SELECT NULL FROM s",
       "a result column of bare NULLs has no type (-12243); PostgreSQL makes it text"},
      {"SELECT a FROM t ORDER BY 1, 1", "a sort key named twice is refused (-12225)"},
  };
  return cases;
}

struct OurOutcome {
  bool typed = false;
  int32_t code = 0, length = 0, scale = 0, cls = 0;
  std::vector<int32_t> errors;
};

OurOutcome* g_outcome = nullptr;

class ExprTypesPg15 : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
    // Dictionary types: 3 INTEGER, 2 NUMERIC, 10 DOUBLE PRECISION, 1 CHAR,
    // 5 VARCHAR, 12 DATE, 14 TIMESTAMP, 13 TIME, 21 INTERVAL YEAR TO MONTH,
    // 24 INTERVAL DAY TO SECOND.
    MakeTable(5005, "TY",
              {{"I", 3, 10, 0}, {"N", 2, 10, 2}, {"N30", 2, 30, 10}, {"F", 10, 15, -1},
               {"C", 1, 10, 0}, {"V", 5, 20, 0}, {"D", 12, 8, 0}, {"TS", 14, 17, 3},
               {"TM", 13, 6, 0}, {"YM", 21, 2, 0}, {"DS", 24, 2, 6}});
    inspect = [](SqlCompileCtx* ctx, int32_t root) {
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      if (g_outcome == nullptr || top <= 0 || WsWord(ctx, top, STN_KIND) != 21) return;
      int32_t query = WsWord(ctx, top, QST_QUERY);
      if (query <= 0 || WsWord(ctx, query, STN_KIND) != 28) return;
      int32_t items = WsWord(ctx, query, QSP_SELECT);
      int32_t item = items != 0 ? WsWord(ctx, items, CELL_VALUE) : 0;
      if (item == 0 || WsWord(ctx, item, SLI_FORM) != 2) return;
      int32_t value = WsWord(ctx, WsWord(ctx, item, SLI_VALUE), EXN_OPERAND1);
      int32_t type = WsWord(ctx, value, EXN_TYPE);
      g_outcome->typed = true;
      g_outcome->cls = WsWord(ctx, value, EXN_TYPE_CLASS);
      if (type != 0) {
        g_outcome->code = WsWord(ctx, type, 0);
        g_outcome->length = WsWord(ctx, type, 1);
        g_outcome->scale = WsWord(ctx, type, 2);
      }
    };
  }

  OurOutcome Run(const std::string& sql) {
    OurOutcome out;
    g_outcome = &out;
    Compiled c = Compile(sql);
    g_outcome = nullptr;
    for (const SemCondition& k : c.conditions) {
      if (k.severity >= 3) out.errors.push_back(k.code);
    }
    return out;
  }

  // Empty when we agree with PostgreSQL, else what differs.
  std::string Compare(const PgCase& pg) {
    if (pg.form == 'b') {
      OurOutcome ours = Run(pg.text);
      std::string state = ours.errors.empty() ? "ok" : SqlStateOf(ours.errors.front());
      return state == pg.described ? "" : "we give " + state + ", PostgreSQL " + pg.described;
    }
    OurOutcome ours = Run("SELECT " + pg.text + " FROM ty");
    if (pg.described == "error") {
      return ours.errors.empty() ? "we take it, PostgreSQL refuses it (" + pg.scale + ")" : "";
    }
    if (!ours.errors.empty()) return "we refuse it with " + std::to_string(ours.errors.front());
    if (!ours.typed) return "no select item typed";
    std::string family = OurFamily(ours.code, ours.cls);
    std::string pg_family = PgFamily(pg.described);
    if (family != pg_family) return "family " + family + ", PostgreSQL " + pg_family;
    size_t open = pg.described.find('(');
    if (open != std::string::npos) {
      int32_t length = std::stoi(pg.described.substr(open + 1));
      if (ours.length != length) {
        return "length " + std::to_string(ours.length) + ", PostgreSQL " + pg.described;
      }
      size_t comma = pg.described.find(',', open);
      if (family == "exact" && comma != std::string::npos &&
          ours.scale != std::stoi(pg.described.substr(comma + 1))) {
        return "scale " + std::to_string(ours.scale) + ", PostgreSQL " + pg.described;
      }
    }
    bool additive = pg.text.find(" + ") != std::string::npos ||
                    pg.text.find(" - ") != std::string::npos ||
                    pg.text.find(" * ") != std::string::npos;
    if (additive && (family == "exact" || family == "integer") && pg.scale != "-" &&
        ours.scale != std::stoi(pg.scale)) {
      return "scale " + std::to_string(ours.scale) + ", PostgreSQL's scale() " + pg.scale;
    }
    return "";
  }
};

TEST_F(ExprTypesPg15, OutcomesAgreeSaveTheDifferencesByDesign) {
  std::vector<PgCase> cases = ReadCases();
  ASSERT_GE(cases.size(), 100u);
  int32_t agreed = 0;
  for (const PgCase& pg : cases) {
    SCOPED_TRACE(pg.text);
    std::string difference = Compare(pg);
    bool by_design = ByDesign().count(pg.text) != 0;
    if (by_design) {
      EXPECT_FALSE(difference.empty()) << "listed as a difference by design, but agrees";
    } else {
      EXPECT_TRUE(difference.empty()) << difference;
      ++agreed;
    }
  }
  EXPECT_EQ(static_cast<size_t>(agreed) + ByDesign().size(), cases.size());
}

}  // namespace
