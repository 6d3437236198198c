// Test support of expression typing: a statement parsed with the SQL
// grammar, one of its expressions typed bottom-up in the semantic walk's
// order, its column references bound by hand to columns of given types.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sql/front/tests/sql_grammar_support.h"

struct HandColumn {
  int32_t code = 0, length = 0, scale = 0, variant = 0;
  int32_t nullable = 1;
  int32_t collation = 0;  // a collation of the column (level 2), 0 none
};

struct TypedHost {
  int32_t code = 0, length = 0, scale = 0, cls = 0, nullable = 0;
};

struct TypedExpr {
  int32_t kind = -1;
  int32_t code = 0, length = 0, scale = 0, variant = 0;
  int32_t cls = -1, nullable = -1, derivation = -1, collation = 0;
  int32_t left_kind = -1;  // the kind of the first operand after typing
  std::vector<TypedHost> hosts;
  int32_t likes = 0;  // LIKE predicates typed
  std::vector<RecordedCondition> conditions;
  std::string printed;
  std::string column_name;  // the display name of a column reference
  std::string guard;        // a CAST's range condition printed
};

enum class TypedPlace { kSelectItem, kWhere };

// Parses `sql` (compile mode `mode`) and types its first select item or its
// WHERE condition. Column references bind by their plain name (upper case)
// to `columns`; a name not there stays unbound (class 0). `hosts` is the
// request's host-variable list (entries of three words, kind 0 ends); a
// function of the name `routine` is a stored routine's call.
TypedExpr TypeExpression(const std::string& sql, const std::map<std::string, HandColumn>& columns,
                         TypedPlace place, int32_t mode, const int32_t* hosts = nullptr,
                         const char* routine = nullptr);
