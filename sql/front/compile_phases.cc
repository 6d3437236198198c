// qmcpcl, the phases of one compile attempt in order (parse, semantic
// analysis, statement cache, optimizer, program builder), each under a guard
// that turns the phase jump into severity 5; and the cache key, host-variable
// and text services around them.
#include <cstring>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_types.h"

namespace {

bool InRange(int32_t kind, int32_t low, int32_t high) {
  return kind >= low && kind <= high;
}

int32_t KindCode(int32_t kind) {
  switch (kind) {
    case 1:
      return 82;
    case 2:
      return 87;
    case 57:
      return 83;
    case 58:
      return 88;
    default:
      return 0;  // kinds 3 to 10: fixed bytes, so equal statements match
  }
}

// Runs one phase; false when it left by the jump.
template <typename F>
bool Guarded(SqlCompileCtx* ctx, F phase) {
  ctx->trav.depth = 0;  // every step starts from an empty traversal stack
  try {
    phase();
  } catch (const CompileJump&) {
    return false;
  }
  return true;
}

// Appends one item: the value as qqcois writes it, leading blanks removed,
// and a 0 byte.
bool AppendItem(SqlCompileCtx* ctx, int32_t value) {
  char text[12];
  qqcois(ctx, text, value);
  const char* p = text;
  while (*p == ' ') ++p;
  int32_t n = static_cast<int32_t>(std::strlen(p)) + 1;
  if (ctx->cache_key_length + n > kCacheKeyBytes) return false;
  std::memcpy(ctx->cache_key + ctx->cache_key_length, p, static_cast<size_t>(n));
  ctx->cache_key_length += n;
  ++ctx->cache_key_items;
  return true;
}

// Step 3: the statement cache. Returns false when the attempt stops here.
bool LookUpCache(SqlCompileCtx* ctx, int32_t* severity, int32_t* shared_program,
                 int32_t* cache_second) {
  if (ctx->cache_key_length + 2 > kCacheKeyBytes) return true;
  int16_t code = static_cast<int16_t>(KindCode(ctx->statement_kind));
  std::memcpy(ctx->cache_key + ctx->cache_key_length, &code, 2);
  ctx->cache_key_length += 2;
  // A key that does not fit cannot be compared: the statement is compiled
  // without the cache, as compile mode 6 does.
  if (!qmcachekey(ctx)) return true;
  int32_t rc = sqlsvc::DSCursorCreate(ctx->session, shared_program, cache_second, ctx->cache_key,
                                      ctx->cache_key_length, ctx->text, 3 * ctx->text_length);
  if (rc == 0) {
    ctx->result_marker = kMarkerCachedProgram;
    return false;
  }
  if (rc < 0) {
    qcerrec(ctx, ctx->position, "QMN", rc, kSevInternal, "");
    *severity = kSevInternal;
    return false;
  }
  return true;
}

}  // namespace

int32_t qmcpcl(SqlCompileCtx* ctx, int32_t* shared_program, int32_t* cache_second, int32_t* root,
               int32_t* builder_block, int32_t workspace_size) {
  if (!Guarded(ctx, [&] {
        sqlsvc::Parse(ctx);
        *root = ctx->parse_root;
        WsBlock(ctx, qqwscur(ctx))[WSB_ROOT] = *root;
      })) {
    return kSevInternal;
  }
  int32_t severity = ctx->highest_severity;
  if (KindStopsAfterParse(ctx->statement_kind) || ctx->statement_kind == 103 ||
      ctx->statement_kind == 104 || severity > 2 || ctx->workspace_size != workspace_size ||
      ctx->result_marker == kMarkerStopAfterParse) {
    return severity;
  }
  ctx->semantic_phase = 1;
  bool analysed = Guarded(ctx, [&] { sqlsvc::Semantic(ctx, *root); });
  ctx->semantic_phase = 0;
  if (!analysed) return kSevInternal;
  severity = ctx->highest_severity;
  int32_t kind = ctx->statement_kind;
  if (severity > 2 || ctx->workspace_size != workspace_size ||
      ctx->result_marker == kMarkerStopAfterSemantics ||
      ctx->compile_mode == kModeStopAfterSemantics ||
      ctx->compile_mode == kModeStopAfterSemantics8 || kind < 1 || kind > 58) {
    return severity;
  }
  if (!KindIsCached(kind)) return severity;
  if (ctx->compile_mode != kModeNoCache) {
    bool go_on = true;
    if (!Guarded(ctx, [&] { go_on = LookUpCache(ctx, &severity, shared_program, cache_second); })) {
      return kSevInternal;
    }
    if (!go_on) return severity;
  }
  if (!Guarded(ctx, [&] { sqlsvc::Optimize(ctx, *root); })) return kSevInternal;
  severity = ctx->highest_severity;
  if (severity > 2 || ctx->workspace_size != workspace_size) return severity;
  if (!Guarded(ctx, [&] { *builder_block = sqlsvc::Build(ctx, *root); })) return kSevInternal;
  return ctx->highest_severity;
}

int32_t qqrhva(SqlCompileCtx* ctx, int32_t* description, int32_t n) {
  const int32_t* entry = ctx->host_variables;
  if (entry == nullptr || n < 1) return 0;
  for (int32_t i = 1; entry[0] >= 1; ++i, entry += 3) {
    if (i < n) continue;
    int32_t code = HostKindTypeCode(entry[0]);
    if (code == 0) qcinterr(ctx, "QMN: qqrhva", -19256);
    description[0] = code;
    description[1] = entry[1];
    description[2] = entry[2];
    description[3] = 0;
    return 1;
  }
  return 0;
}

bool qmcachekey(SqlCompileCtx* ctx) {
  int32_t description[4];
  for (int32_t n = 1; qqrhva(ctx, description, n) == 1; ++n) {
    for (int32_t i = 0; i < 3; ++i) {
      if (!AppendItem(ctx, description[i])) return false;
    }
  }
  return true;
}

void qmgettxt(SqlCompileCtx* ctx, const uint8_t** text, int32_t* length) {
  *text = ctx->text;
  *length = ctx->text_length;
}

int32_t qmisdefk(int32_t kind) {
  bool definition = kind == 11 || InRange(kind, 17, 41) || InRange(kind, 44, 46) ||
                    InRange(kind, 49, 51) || kind == 56 || InRange(kind, 60, 72) || kind == 75 ||
                    kind == 76 || InRange(kind, 94, 99) || InRange(kind, 107, 110) ||
                    InRange(kind, 112, 114);
  return definition ? 1 : 0;
}

bool KindStopsAfterParse(int32_t kind) {
  return kind == 47 || kind == 48 || InRange(kind, 52, 55) || InRange(kind, 78, 83) ||
         InRange(kind, 86, 91);
}

bool KindIsCached(int32_t kind) {
  return InRange(kind, 1, 10) || kind == 57 || kind == 58;
}
