// Grammar actions of the table definition: column definitions with their
// defaults and constraints, table constraints, the reference phrase with its
// referential action, and the lists the element list collects (column
// definition records, reference, unique and check records, the primary key).
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

// Words of a table element's value entry.
constexpr int32_t VW_COLUMN_RECORD = 31;
constexpr int32_t VW_COLUMN_RECORDS = 32;
constexpr int32_t VW_REFERENCE = 33;
constexpr int32_t VW_REFERENCES = 34;
constexpr int32_t VW_UNIQUE = 35;
constexpr int32_t VW_UNIQUES = 36;  // in a column's constraint phrase: the UNIQUE flag
constexpr int32_t VW_PRIMARY = 37;
constexpr int32_t VW_NOT_NULL_RECORDS = 45;  // a column's named NOT NULL records
constexpr int32_t VW_COLUMN_COUNT = 46;
constexpr int32_t VW_CONSTRAINT_KIND = 47;
constexpr int32_t VW_PRIMARY_NAME = 52;
constexpr int32_t VW_CONSTRAINT_NAME = 53;

// Column definition record words.
constexpr int32_t CDR_KEY_NAME = 5;
constexpr int32_t CDR_KEY_MARK = 6;
constexpr int32_t CDR_REFERENCES = 7;

int32_t FourWord(SqlCompileCtx* ctx, int32_t name, const int32_t* position, int32_t value) {
  int32_t values[] = {name, position[0], position[1], value};
  return TreeRecord(ctx, 4, values);
}

int32_t Reference(SqlCompileCtx* ctx, int32_t name, int32_t columns, int32_t referenced,
                  int32_t table, int32_t action) {
  int32_t values[] = {name, columns, referenced, table, action};
  return TreeRecord(ctx, 5, values);
}

void SetPosition(int32_t* r, const int32_t* from) {
  r[VW_LINE] = from[VW_LINE];
  r[VW_POS] = from[VW_POS];
}

// The reference records of a column get the column as their referencing
// list and are prepended to `list`.
int32_t ColumnReferences(SqlCompileCtx* ctx, int32_t list, const int32_t* element) {
  for (int32_t c = element[VW_REFERENCES]; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t record = WsWord(ctx, c, CELL_VALUE);
    WsWord(ctx, record, 1) = qqlcons(ctx, 0, element[VW_SIMPLE_NAME]);
    list = qqlcons(ctx, list, record);
  }
  return list;
}

void Elements(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  if (rule == 164) {
    r[VW_COLUMN_RECORDS] = qqlcons(ctx, 0, r[VW_COLUMN_RECORD]);
    r[VW_REFERENCES] = qqlcons(ctx, ColumnReferences(ctx, 0, r), r[VW_REFERENCE]);
    r[VW_UNIQUES] = qqlcons(ctx, 0, r[VW_UNIQUE]);
    r[VW_VALUE] = qqlcons(ctx, 0, r[VW_VALUE]);
    r[VW_COLUMN_COUNT] = r[VW_COLUMN_RECORD] != 0 ? 1 : 0;
    return;
  }
  const int32_t* e = SemEntry(ctx, 3);  // 165
  r[VW_COLUMN_RECORDS] = qqlcons(ctx, r[VW_COLUMN_RECORDS], e[VW_COLUMN_RECORD]);
  if (r[VW_PRIMARY] != 0 && e[VW_PRIMARY] != 0) ActionError(ctx, e, -12131);
  if (e[VW_PRIMARY] != 0) {
    r[VW_PRIMARY_NAME] = e[VW_PRIMARY_NAME];
    r[VW_PRIMARY] = e[VW_PRIMARY];
  }
  r[VW_REFERENCES] = qqlcons(ctx, ColumnReferences(ctx, r[VW_REFERENCES], e), e[VW_REFERENCE]);
  r[VW_UNIQUES] = qqlcons(ctx, r[VW_UNIQUES], e[VW_UNIQUE]);
  r[VW_VALUE] = qqlcons(ctx, r[VW_VALUE], e[VW_VALUE]);
  if (e[VW_COLUMN_RECORD] != 0) ++r[VW_COLUMN_COUNT];
}

// 166: a column's key marks in table-level form.
void ColumnAsElement(SqlCompileCtx* ctx, int32_t* r) {
  if (r[VW_PRIMARY] != 0) r[VW_PRIMARY] = qqlcons(ctx, 0, r[VW_SIMPLE_NAME]);
  r[VW_UNIQUE] =
      r[VW_UNIQUES] == 0 ? 0 : FourWord(ctx, r[VW_NAME], r, qqlcons(ctx, 0, r[VW_SIMPLE_NAME]));
  r[VW_REFERENCE] = 0;
}

// A named NOT NULL constraint's record (180) gets its condition, the column
// IS NULL. The column's check list also holds unnamed CHECK conditions as
// they are, so the records to fill are the ones the constraint list kept
// apart, not every entry whose word 3 is 0.
void NotNullConditions(SqlCompileCtx* ctx, int32_t records, int32_t column_name) {
  for (int32_t c = records; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t record = WsWord(ctx, c, CELL_VALUE);
    const int32_t* at = &WsWord(ctx, record, 1);
    int32_t values[] = {0, column_name};
    int32_t column = ExprOfKind(ctx, kExprColumnRef, at, TreeRecord(ctx, 2, values), 0);
    int32_t null = ExprOfKind(ctx, kExprNull, at, 0, 0);
    WsWord(ctx, record, 3) = qqcbix(ctx, kExprEq, at, column, null, 0, 0);
  }
}

void ColumnDefinition(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* s2 = SemEntry(ctx, 2);
  const int32_t* s3 = SemEntry(ctx, 3);
  const int32_t* s4 = SemEntry(ctx, 4);
  NotNullConditions(ctx, s4[VW_NOT_NULL_RECORDS], r[VW_SIMPLE_NAME]);
  // The constraint list prepended its checks and references: the column's
  // lists are finished here, in the order written.
  int32_t checks = qqlrev(ctx, s4[VW_VALUE]);
  int32_t values[10] = {r[VW_SIMPLE_NAME], r[VW_TYPE], r[VW_NAME], s3[VW_VALUE],
                        s4[VW_FLAG],       0,          0,          0,
                        checks,            s2[VW_NAME]};
  int32_t record = TreeRecord(ctx, 10, values);
  r[VW_PRIMARY_NAME] = s4[VW_PRIMARY_NAME];
  r[VW_PRIMARY] = s4[VW_PRIMARY];
  r[VW_NAME] = s4[VW_NAME];
  r[VW_UNIQUES] = s4[VW_UNIQUES];
  r[VW_REFERENCES] = qqlrev(ctx, s4[VW_REFERENCES]);
  r[VW_VALUE] = 0;
  int32_t* w = &WsWord(ctx, record, 0);
  if (r[VW_PRIMARY] != 0) {
    w[CDR_KEY_NAME] = r[VW_PRIMARY_NAME];
    w[CDR_KEY_MARK] = 1;
  }
  if (r[VW_UNIQUES] != 0) {
    w[CDR_KEY_NAME] = r[VW_NAME];
    w[CDR_KEY_MARK] = 2;
  }
  w[CDR_REFERENCES] = r[VW_REFERENCES];
  r[VW_COLUMN_RECORD] = record;
}

// 178, 179: a column's constraints, checked against those before them.
void ColumnConstraint(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* c = rule == 178 ? r : SemEntry(ctx, 2);
  int32_t kind = c[VW_CONSTRAINT_KIND];
  int32_t name = c[VW_CONSTRAINT_NAME];
  int32_t condition = c[VW_VALUE];
  int32_t reference =
      kind == 5 ? Reference(ctx, name, 0, c[VW_LIST], c[VW_NAME], c[VW_QUANTIFIER]) : 0;
  if (rule == 178) {
    for (int32_t word : {VW_FLAG, VW_PRIMARY_NAME, VW_PRIMARY, VW_NAME, VW_UNIQUES, VW_REFERENCES,
                         VW_VALUE, VW_CONSTRAINT_NAME, VW_NOT_NULL_RECORDS}) {
      r[word] = 0;
    }
  }
  switch (kind) {
    case 1:  // a named one (180) brings its record, to be filled by 168
      r[VW_FLAG] = 1;
      r[VW_VALUE] = qqlcons(ctx, r[VW_VALUE], condition);
      r[VW_NOT_NULL_RECORDS] = qqlcons(ctx, r[VW_NOT_NULL_RECORDS], condition);
      break;
    case 3:
      if (r[VW_UNIQUES] != 0) ActionError(ctx, c, -12583);
      if (r[VW_PRIMARY] != 0) ActionError(ctx, c, -12582);
      r[VW_NAME] = name;
      r[VW_UNIQUES] = 1;
      break;
    case 4:
      if (r[VW_PRIMARY] != 0) ActionError(ctx, c, -12131);
      if (r[VW_UNIQUES] != 0) ActionError(ctx, c, -12582);
      r[VW_PRIMARY_NAME] = name;
      r[VW_PRIMARY] = 1;
      break;
    case 5:
      r[VW_REFERENCES] = qqlcons(ctx, r[VW_REFERENCES], reference);
      break;
    default:
      r[VW_VALUE] = qqlcons(ctx, r[VW_VALUE], condition);
      break;
  }
}

// 41: the table node (the named NOT NULL constraints got their condition
// with their column, 168).
void TableDefinition(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* s3 = SemEntry(ctx, 3);
  const int32_t* s5 = SemEntry(ctx, 5);
  int32_t args[] = {s3[VW_NAME],
                    qqlrev(ctx, s5[VW_COLUMN_RECORDS]),
                    s5[VW_PRIMARY_NAME],
                    s5[VW_PRIMARY],
                    qqlrev(ctx, s5[VW_REFERENCES]),
                    qqlrev(ctx, s5[VW_UNIQUES]),
                    qqlrev(ctx, s5[VW_VALUE]),
                    SemEntry(ctx, 7)[VW_SIMPLE_NAME]};
  r[VW_QUERY] = StmtNode(ctx, 1, r, args, 8);
  if (s5[VW_COLUMN_RECORDS] == 0) ActionError(ctx, r, -12129);
}

// 187 to 190: a table constraint as a table element: the element words its
// kind does not set are cleared, so the element list reads no column record,
// reference, unique record, key or check it does not have.
void TableConstraint(int32_t* r, int32_t rule) {
  int32_t keep[] = {rule == 187 ? VW_UNIQUE : 0, rule == 188 ? VW_PRIMARY : 0,
                    rule == 188 ? VW_PRIMARY_NAME : 0, rule == 189 ? VW_REFERENCE : 0,
                    rule == 190 ? VW_VALUE : 0};
  if (rule == 188) r[VW_PRIMARY] = r[VW_LIST];
  for (int32_t word : {VW_COLUMN_RECORD, VW_REFERENCE, VW_REFERENCES, VW_UNIQUE, VW_PRIMARY,
                       VW_PRIMARY_NAME, VW_VALUE}) {
    bool kept = false;
    for (int32_t k : keep) kept = kept || k == word;
    if (!kept) r[word] = 0;
  }
}

// 180: CONSTRAINT name before a column constraint.
void NamedConstraint(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* c = SemEntry(ctx, 2);
  int32_t name = r[VW_NAME];
  r[VW_CONSTRAINT_NAME] = name;
  SetPosition(r, c);
  int32_t kind = c[VW_CONSTRAINT_KIND];
  r[VW_CONSTRAINT_KIND] = kind;
  if (kind == 1) {
    r[VW_VALUE] = FourWord(ctx, name, c, 0);
  } else if (kind == 5) {
    r[VW_NAME] = c[VW_NAME];
    r[VW_LIST] = c[VW_LIST];
    r[VW_QUANTIFIER] = c[VW_QUANTIFIER];
  } else if (kind != 3 && kind != 4) {
    r[VW_VALUE] = FourWord(ctx, name, c, c[VW_VALUE]);
  }
}

void Constraint(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  switch (rule) {
    case 180:
      NamedConstraint(ctx, r);
      break;
    case 181:
      r[VW_CONSTRAINT_KIND] = 5;
      r[VW_CONSTRAINT_NAME] = 0;
      if (r[VW_COUNT] >= 2) ActionError(ctx, r, -12132);
      break;
    case 182:
    case 183:
    case 184:
      // No condition record and no name of their own (180 gives the name).
      r[VW_CONSTRAINT_KIND] = rule == 182 ? 3 : rule == 183 ? 4 : 1;
      r[VW_VALUE] = 0;
      r[VW_CONSTRAINT_NAME] = 0;
      break;
    case 185:
      r[VW_CONSTRAINT_KIND] = 2;
      r[VW_CONSTRAINT_NAME] = 0;
      break;
    case 187:
    case 188:
    case 189:
    case 190:
      TableConstraint(r, rule);
      break;
    case 191:
      SetPosition(r, s(2));
      r[VW_PRIMARY_NAME] = r[VW_NAME];
      r[VW_LIST] = qqlrev(ctx, s(5)[VW_LIST]);
      break;
    case 192:
      SetPosition(r, s(2));
      r[VW_UNIQUE] = FourWord(ctx, r[VW_NAME], s(3), qqlrev(ctx, s(4)[VW_LIST]));
      break;
    case 193:
      SetPosition(r, s(2));
      r[VW_REFERENCE] = Reference(ctx, r[VW_NAME], qqlrev(ctx, s(5)[VW_LIST]),
                                  qqlrev(ctx, s(7)[VW_LIST]), s(7)[VW_NAME], s(7)[VW_QUANTIFIER]);
      break;
    case 194:
      r[VW_NAME] = s(2)[VW_NAME];
      r[VW_COUNT] = s(3)[VW_COUNT];
      r[VW_LIST] = s(3)[VW_LIST];
      r[VW_QUANTIFIER] = s(4)[VW_QUANTIFIER];
      break;
    // 195: the entry starts cleared, so an absent list is count 0 and empty,
    // at the zero position.
    case 196:
      r[VW_COUNT] = s(2)[VW_COUNT];
      r[VW_LIST] = s(2)[VW_LIST];
      break;
    case 197:
    case 199:  // only the update rule written: the delete action is NO ACTION
    case 205:
      r[VW_QUANTIFIER] = 4;
      break;
    case 200:  // the update rule, then the delete rule's action
      r[VW_QUANTIFIER] = s(2)[VW_QUANTIFIER];
      break;
    case 203:
      r[VW_QUANTIFIER] = s(3)[VW_QUANTIFIER];
      break;
    case 204:
      r[VW_QUANTIFIER] = 1;
      break;
    case 206:
      r[VW_QUANTIFIER] = 2;
      break;
    case 207:
      r[VW_QUANTIFIER] = 3;
      break;
    case 208:
    case 213:
      r[VW_VALUE] = FourWord(ctx, r[VW_NAME], s(2), s(2)[VW_VALUE]);
      break;
    case 211:  // a domain's checks
      r[VW_VALUE] = qqlcons(ctx, 0, r[VW_VALUE]);
      break;
    case 212:
      r[VW_VALUE] = qqlcons(ctx, r[VW_VALUE], s(2)[VW_VALUE]);
      break;
    case 217:  // TABLE name
      r[VW_NAME] = s(2)[VW_NAME];
      break;
    case 214:
      r[VW_VALUE] = s(4)[VW_VALUE];
      qfnpop(ctx);
      break;
    case 215:
      qfnpsh(ctx, 1);
      break;
    default:
      break;
  }
}

}  // namespace

// 41 and 164 to 221.
void SqlActionsTable(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  switch (rule) {
    case 41:
      TableDefinition(ctx, r);
      break;
    case 164:
    case 165:
      Elements(ctx, rule, r);
      break;
    case 166:
      ColumnAsElement(ctx, r);
      break;
    case 168:
      ColumnDefinition(ctx, r);
      break;
    case 169: {
      const int32_t* s2 = SemEntry(ctx, 2);
      r[VW_TYPE] = s2[VW_TYPE];
      r[VW_NAME] = s2[VW_NAME];
      break;
    }
    case 170:
      r[VW_VALUE] = 0;
      break;
    case 171:
      r[VW_VALUE] = SemEntry(ctx, 2)[VW_VALUE];
      break;
    case 176:
      for (int32_t word : {VW_FLAG, VW_PRIMARY_NAME, VW_PRIMARY, VW_NAME, VW_UNIQUES, VW_REFERENCES,
                           VW_VALUE, VW_NOT_NULL_RECORDS}) {
        r[word] = 0;
      }
      break;
    case 178:
    case 179:
      ColumnConstraint(ctx, rule, r);
      break;
    default:
      Constraint(ctx, rule, r);
      break;
  }
}
