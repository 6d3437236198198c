// The grammar actions' look-up table and the calls through it; a missing
// entry is reported under its own name and answers kSqlServiceMissing, never
// a made-up success.
#include "sql/front/sql_lookup_services.h"

#include <cstdio>
#include <cstring>

#include "kernel/error_report.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_services.h"
#include "sql/front/expr_types.h"

namespace {

// The grammar's collation check: the first operand takes the collation the
// operation gives the pair.
int32_t CollationCheck(SqlCompileCtx* ctx, int32_t operation, int32_t a, int32_t b) {
  qmcoll(ctx, a, operation, a, b);
  return 0;
}

// The grammar's name display, through the reference checks' own.
int32_t NameDisplay(SqlCompileCtx* ctx, int32_t node, int32_t mode, char* out, int32_t capacity) {
  char shown[kRefNameBytes];
  qmrefname(ctx, mode, node, shown);
  std::snprintf(out, static_cast<size_t>(capacity), "%s", shown);
  return 0;
}

// Routines, collations and the current schema come from the compiler's
// dictionary access, the collation check and the name display from the
// reference checks, unless a caller installs its own.
SqlLookupServices CatalogLookups() {
  SqlLookupServices s;
  s.get_routine = CatalogRoutineLookup;
  s.get_collation = CatalogCollationLookup;
  s.current_schema = CatalogSchemaLookup;
  s.qmcoll = CollationCheck;
  s.qmrefname = NameDisplay;
  return s;
}

SqlLookupServices g_lookup = CatalogLookups();

int32_t Missing(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), kSqlServiceMissing, SEV_ERROR);
  return kSqlServiceMissing;
}

}  // namespace

SqlLookupServices SqlInstallLookupServices(const SqlLookupServices* services) {
  SqlLookupServices old = g_lookup;
  g_lookup = services != nullptr ? *services : CatalogLookups();
  return old;
}

namespace sqlsvc {

int32_t qdgetroutine(SqlCompileCtx* ctx, const QualifiedName& name) {
  if (g_lookup.get_routine == nullptr) return Missing("qdgetroutine");
  return g_lookup.get_routine(ctx, name);
}

int32_t qdgetcollation(SqlCompileCtx* ctx, const char* qualifier, const char* name, int32_t* id) {
  *id = 0;
  if (g_lookup.get_collation == nullptr) return Missing("qdgetcollation");
  return g_lookup.get_collation(ctx, qualifier, name, id);
}

int32_t CurrentSchema(SqlCompileCtx* ctx, char name[129]) {
  name[0] = 0;
  if (g_lookup.current_schema == nullptr) return Missing("qdgetschema");
  return g_lookup.current_schema(ctx, name);
}

int32_t qmcoll(SqlCompileCtx* ctx, int32_t operation, int32_t a, int32_t b) {
  if (g_lookup.qmcoll == nullptr) return Missing("qmcoll");
  return g_lookup.qmcoll(ctx, operation, a, b);
}

int32_t qmrefname(SqlCompileCtx* ctx, int32_t node, int32_t mode, char* out, int32_t capacity) {
  if (capacity > 0) out[0] = 0;
  if (g_lookup.qmrefname == nullptr) return Missing("qmrefname");
  int32_t status = g_lookup.qmrefname(ctx, node, mode, out, capacity);
  if (status != 0 && capacity > 0) out[0] = 0;
  return status;
}

}  // namespace sqlsvc
