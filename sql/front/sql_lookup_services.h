// The look-ups the grammar actions need from later layers: stored routines,
// collations and the current schema from the compiler's dictionary access,
// and the collation check and name display of the reference checks. Their
// owners install them; an entry nobody installed names itself in the kernel's
// error report and answers kSqlServiceMissing.
#pragma once

#include <cstdint>

#include "sql/front/stmt_tree.h"

struct SqlCompileCtx;

struct SqlLookupServices {
  // qdgetroutine: 0 when a stored routine of the name exists, above 0 when
  // none does, below 0 on an error.
  int32_t (*get_routine)(SqlCompileCtx* ctx, const QualifiedName& name) = nullptr;
  // qdgetcollation: 0 and *id when found, above 0 when not, below 0 on error.
  int32_t (*get_collation)(SqlCompileCtx* ctx, const char* qualifier, const char* name,
                           int32_t* id) = nullptr;
  // The current schema of the session's user (128 characters and a 0).
  int32_t (*current_schema)(SqlCompileCtx* ctx, char name[129]) = nullptr;
  // qmcoll: the collation check of an operation over two expression nodes.
  int32_t (*qmcoll)(SqlCompileCtx* ctx, int32_t operation, int32_t a, int32_t b) = nullptr;
  // qmrefname: the display text of a qualified name node in a mode (2: the
  // qualified name as written).
  int32_t (*qmrefname)(SqlCompileCtx* ctx, int32_t node, int32_t mode, char* out,
                       int32_t capacity) = nullptr;
};

// Installs a table (copied; nullptr restores the default one: routine,
// collation and schema entries over the compiler's dictionary access, the
// collation check and name display of the reference checks); returns the old.
SqlLookupServices SqlInstallLookupServices(const SqlLookupServices* services);

namespace sqlsvc {
int32_t qdgetroutine(SqlCompileCtx* ctx, const QualifiedName& name);
int32_t qdgetcollation(SqlCompileCtx* ctx, const char* qualifier, const char* name, int32_t* id);
int32_t CurrentSchema(SqlCompileCtx* ctx, char name[129]);
int32_t qmcoll(SqlCompileCtx* ctx, int32_t operation, int32_t a, int32_t b);
// Leaves an empty text when the entry is missing or fails.
int32_t qmrefname(SqlCompileCtx* ctx, int32_t node, int32_t mode, char* out, int32_t capacity);
}  // namespace sqlsvc
