// Statements compiled by the compile driver in compile mode 5 (stop after
// analysis) with the SQL grammar as the parse phase and the semantic walk
// as the semantic phase, over the dictionary's own lookups on the catalog
// tables of the dictionary's tests, with a few tables the dictionary's
// inserts write.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "dict/compiler_services.h"
#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"
#include "kernel/word_storage.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_services.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_tree_print.h"

// A column of a test table: name and dictionary type, length, scale.
struct TestColumn {
  const char* name;
  int32_t type;  // dictionary type: 3 INTEGER, 2 NUMERIC, 1 CHAR, 5 VARCHAR, 32 CLOB ...
  int32_t length;
  int32_t scale;
};

// One condition the compilation reported.
struct SemCondition {
  int32_t code;
  int32_t severity;
  std::string text;
};

// What one compilation gave.
struct Compiled {
  int32_t status = 0;
  int32_t kind = -1;
  std::vector<SemCondition> conditions;
  bool analysed = false;       // the semantic phase returned normally
  int32_t depth_after = -1;    // the traversal stack's depth when it did
  std::string printed;         // the statement printed after analysis
  int32_t from_items = -1;     // FROM items of the outermost SELECT block
  std::vector<std::string> items;  // its select items printed, with their names
  std::vector<int32_t> sort_positions;
  std::vector<std::string> result_types;  // a set operation's: "code(length,scale)"
  int32_t lookups = 0;
  // Each bound table reference: its exposed name, "@", the level of its
  // block, ":" and the columns bound to it in the order they were bound.
  std::vector<std::string> bindings;
  // The codes, in order.
  std::vector<int32_t> Codes() const {
    std::vector<int32_t> codes;
    for (const SemCondition& c : conditions) codes.push_back(c.code);
    return codes;
  }
  bool Has(int32_t code) const {
    for (const SemCondition& c : conditions) {
      if (c.code == code) return true;
    }
    return false;
  }
  std::string TextOf(int32_t code) const {
    for (const SemCondition& c : conditions) {
      if (c.code == code) return c.text;
    }
    return "<none>";
  }
};

class SemanticTest : public LookupTest {
 public:
  // Runs on the analysed tree before the compilation lets it go.
  static std::function<void(SqlCompileCtx*, int32_t root)> inspect;
  // Runs on the parsed tree before the semantic walk.
  static std::function<void(SqlCompileCtx*, int32_t root)> before_analysis;

 protected:
  void SetUp() override;
  void TearDown() override;

  // A base table of schema ADAM (or `schema`) with its columns; SELECT is
  // granted to ADAM unless `grant` is false.
  void MakeTable(int32_t id, const std::string& name, std::vector<TestColumn> columns,
                 bool grant = true, const std::string& schema = "ADAM");
  // The fixture's tables: T (A INTEGER, B INTEGER, C CHAR(10)), S (A
  // INTEGER, D INTEGER), R (E INTEGER, F NUMERIC(10,2), G CLOB), Q (H
  // NCHAR(5), I VARCHAR(30)) and P (X, Y INTEGER) on which ADAM holds no
  // privilege (ids 5001-5004 and 5100; tests add their own from 5005).
  void MakeFixtureTables();

  // A view of schema ADAM stored as CREATE VIEW stores one: the statement
  // "CREATE VIEW name AS query" compiled in compile mode 2 (analysed, not
  // run), its query put under the statement root and copied as a
  // statement (reference kind 4) into a fresh block whose header word 2 is
  // the copy's root, that block's image stored as the view's tree (item
  // 59), with the view's object, table, view and column rows and SELECT
  // granted to ADAM. Gives the stored image ("" when the compilation
  // failed). The copy is taken of the analysed query; the root keeps its
  // table references (word 4) and the views it materialized (word 21).
  std::string MakeView(int32_t id, const std::string& name, const std::string& query,
                       std::vector<TestColumn> columns);

  // ADAM may insert into, delete from and update the table or view `id`,
  // and insert and update each of `columns`.
  void GrantChanges(int32_t id, const std::vector<const char*>& columns);

  // Installs an optimizer that plans nothing and lays every materialized
  // view's row out as 8,000 bytes with no key; the test removes it.
  static void InstallLayingOptimizer();

  // `options`: the request's first and second option words (words 6, 7).
  // The caller names (subject table's schema and name, the old and new
  // transition names) are `caller_names_` when it holds four.
  Compiled Compile(const std::string& sql, int32_t mode = 5, std::pair<int32_t, int32_t> options = {});

  std::vector<std::string> caller_names_;
  int32_t* pool_ = nullptr;
  SqlKernelServices old_kernel_;
  SqlPhaseServices old_phases_;
  SqlDictionaryServices old_dict_;
};

// While it lives, the dictionary answers the stored tree of object `id`
// with `image` (the tests' stand-in for a tree damaged in the catalog);
// every other look-up is the installed one.
class StoredTreeOverride {
 public:
  StoredTreeOverride(int32_t id, const std::string* image);
  ~StoredTreeOverride();

 private:
  static int32_t Info(int32_t session, int32_t id, int32_t item, int32_t* total);
  static int32_t Read(int32_t session, int32_t id, int32_t item, uint8_t* buffer,
                      int32_t capacity, int32_t* length);
  static inline SqlDictionaryServices under_;
  static inline int32_t id_ = 0;
  static inline const std::string* image_ = nullptr;
};

// Joins codes for messages.
std::string CodesText(const std::vector<int32_t>& codes);
