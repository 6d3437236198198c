// qmcpsn and qmcpcl: the compile driver's set-up, attempt loop and results.
// Every phase runs under a guard that turns the phase jump into severity 5;
// the arena's exit (no storage, damaged block) ends the whole call. After a
// workspace overflow the arena is released and the text compiled again.
#include "sql/front/compile_driver.h"

#include <cstring>

#include "kernel/word_storage.h"
#include "platform/char_format.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_types.h"
#include "sql/front/stmt_description.h"

namespace {

bool InRange(int32_t kind, int32_t low, int32_t high) {
  return kind >= low && kind <= high;
}

void ChunkProvider(int32_t* base, int32_t* index, int32_t bytes) {
  const SqlKernelServices& k = SqlKernel();
  if (k.chunk_provider != nullptr) {
    k.chunk_provider(base, index, bytes);
  } else if (base != nullptr) {
    DSGetMemRaw(base, index, bytes);
  } else if (bytes > 0) {
    *index = 0;
  }
}

void ResetResult(int32_t* result) {
  for (int32_t i = 0; i < kResultWords; ++i) result[i] = 0;
  result[RES_STATUS] = -1;
  result[RES_KIND] = -1;
}

void TakeWorkArea(SqlCompileCtx* ctx) {
  const SqlPhaseServices& p = SqlPhases();
  int32_t bytes = 8;
  for (int32_t b :
       {p.parse_work_bytes, p.semantic_work_bytes, p.optimize_work_bytes, p.build_work_bytes}) {
    if (b > bytes) bytes = b;
  }
  ctx->work_area = ArenaAllocAligned(&ctx->arena, bytes);
  ctx->work_area_bytes = bytes;
}

void CopyCallerNames(SqlCompileCtx* ctx, const int32_t* pairs, const char* area,
                     int32_t area_bytes) {
  if (pairs == nullptr || pairs[2] < 0) return;
  for (int32_t i = 0; i < 4; ++i) {
    int32_t offset = pairs[2 * i];
    int32_t length = pairs[2 * i + 1];
    if (offset < 0) continue;
    char* name = ctx->caller_names[i];
    // A name reaching outside the caller's area is cut at its end; at most
    // 128 characters are kept. A negative area size counts as an empty area,
    // so that the cut never goes below 0.
    if (area == nullptr || area_bytes < 0 || length < 0 || offset > area_bytes) {
      length = 0;
    } else if (length > area_bytes - offset) {
      length = area_bytes - offset;
    }
    if (length > kCompileNameMax) length = kCompileNameMax;
    if (length > 0) std::memcpy(name, area + offset, static_cast<size_t>(length));
    name[length] = 0;
  }
  ctx->caller_names_set = 1;
}

// What one call keeps beside the context.
struct Call {
  int32_t* result;
  const uint8_t* text_base;
  int32_t* start;
  int32_t text_length;
  int32_t* request;
  int32_t shared_program = 0;
  int32_t cache_second = 0;
  int32_t builder_block = 0;
  int32_t root = 0;
};

// Set-up of one attempt (step a): workspace, lists, text copy, first block.
void BeginAttempt(SqlCompileCtx* ctx, Call* call) {
  WorkspaceAllocate(ctx);
  ctx->cursor_list = 0;
  ctx->usage_list = 0;
  ctx->result_list = 0;
  ctx->parameter_list = 0;
  ctx->update_list = 0;
  ctx->text_length = call->text_length;
  ctx->text = call->text_base + 3 * int64_t{*call->start};
  int32_t n = call->text_length;
  auto* single = static_cast<char*>(ArenaAlloc(&ctx->arena, nullptr, n > 0 ? n : 1));
  if (n > 0) {
    // Characters above 255 become byte 191; the lexer reads the 3-byte text
    // where the exact character matters.
    charenc_from_units3(ByteSpan(reinterpret_cast<uint8_t*>(single), static_cast<size_t>(n)), 0, n,
                        1, ConstByteSpan(ctx->text, static_cast<size_t>(3 * int64_t{n})), 0, 3 * n);
  }
  ctx->single_byte_text = single;
  ctx->dictionary_transaction = 0;
  ctx->cursor_name[0] = 0;
  ctx->compile_mode = call->request[REQ_MODE];
  ctx->highest_severity = 0;
  ctx->conditions_this_attempt = 0;
  qqwsnewblk(ctx);
}

// Step e: throws the attempt away for the next one with the doubled size.
void AbandonAttempt(SqlCompileCtx* ctx, Call* call) {
  if (call->shared_program != 0) sqlsvc::DSRelShpProgram(call->shared_program);
  call->shared_program = 0;
  call->cache_second = 0;
  call->builder_block = 0;
  ArenaRelease(&ctx->arena);
  TakeWorkArea(ctx);
  ResetResult(call->result);
  // The new attempt meets the abandoned one's conditions again first.
  ctx->conditions_to_skip = ctx->conditions_this_attempt;
  ctx->workspace_grown = 0;
  ctx->cache_key_length = 0;
  ctx->cache_key_items = 0;
  ctx->statement_end = -1;
  ctx->error_code = -1;
  ctx->statement_kind = -1;
  ctx->result_marker = kMarkerNone;
  ctx->parse_root = 0;
  ctx->semantic_phase = 0;
  ctx->early_result = 0;
  ctx->schema_flag = 0;
  ctx->changed_definitions = 0;
  ctx->program_block = 0;
}

// Steps b to d of one attempt; returns the severity.
int32_t RunAttempt(SqlCompileCtx* ctx, Call* call) {
  int32_t size = ctx->workspace_size;
  int32_t severity = qmcpcl(ctx, &call->shared_program, &call->cache_second, &call->root,
                            &call->builder_block, size);
  bool same_size = ctx->workspace_size == size;
  int32_t kind = ctx->statement_kind;
  if (severity < 3 && same_size && ctx->result_marker == kMarkerNone && qmisdefk(kind) != 0 &&
      ctx->compile_mode != kModeNoDefinitions && ctx->statement_end == -1) {
    try {
      sqlsvc::qqrtex(ctx, call->builder_block);
      severity = ctx->highest_severity;
    } catch (const CompileJump&) {
      severity = kSevInternal;
      call->result[RES_STATUS] = ctx->error_code;
    }
  }
  return severity;
}

// Step 4: the status and, for a statement that compiled, the descriptions.
void Results(SqlCompileCtx* ctx, Call* call, int32_t severity) {
  int32_t* result = call->result;
  int32_t* request = call->request;
  if (severity <= 1) {
    result[RES_STATUS] = 0;
  } else if (severity == kSevInternal) {
    if (request[REQ_VERSION] != ctx->version) {
      request[REQ_VERSION] = ctx->version;
      result[RES_STATUS] = 1;
    } else {
      result[RES_STATUS] = ctx->error_code;
    }
  }
  if (severity >= 3) {
    if (call->shared_program != 0) sqlsvc::DSRelShpProgram(call->shared_program);
    call->shared_program = 0;
    return;
  }
  if (ctx->result_marker == kMarkerNone && ctx->compile_mode != kModeStopAfterSemantics) {
    BuildDescriptions(ctx, result, call->builder_block, *call->start);
  }
  if (ctx->result_marker == kMarkerCachedProgram) result[RES_STATUS] = 5;
  result[RES_KIND] = ctx->statement_kind;
  result[RES_SHARED_PROGRAM] = call->shared_program;
  result[RES_CACHE_SECOND] = call->cache_second;
}

// Step 5: start position, the schema's empty entry, usages, kind 35.
void Finish(SqlCompileCtx* ctx, Call* call) {
  int32_t* result = call->result;
  int32_t status = result[RES_STATUS];
  if (status <= 0 || status == 5) {
    *call->start += ctx->statement_end == -1 ? call->text_length : ctx->statement_end;
  }
  if (ctx->schema_flag != 0) {
    int32_t nop = 0;
    sqlsvc::qrdnop(ctx, &nop);
  }
  if (ctx->object_id > 0 && ctx->ws.chain_head != 0) {
    qqwswb(ctx, 1);
    int64_t budget = ctx->workspace_size / 8 + 1;
    for (int32_t c = ctx->usage_list; c != 0 && --budget >= 0; c = WsWord(ctx, c, 1)) {
      int32_t registered = 0;
      sqlsvc::qrduse(ctx, ctx->object_id, kUsageKindStatement, WsWord(ctx, c, 0), &registered);
      if (registered != 0) break;
    }
  }
  if (ctx->statement_kind == 35 && ctx->changed_definitions != 0) {
    call->request[REQ_VERSION] = ctx->version;
    result[RES_STATUS] = 1;
  }
}

void Compile(SqlCompileCtx* ctx, Call* call) {
  int32_t* result = call->result;
  int32_t* request = call->request;
  try {
    ctx->session = request[REQ_SESSION];
    ctx->version = request[REQ_VERSION];
    ctx->request_word3 = request[REQ_WORD3];
    ctx->request_word4 = request[REQ_WORD4];
    ctx->request_word6 = request[REQ_WORD6];
    ctx->request_word7 = request[REQ_WORD7];
    ctx->multi_statement = request[REQ_MULTI_STATEMENT];
    ctx->request_word9 = request[REQ_WORD9];
    ctx->object_id = request[REQ_OBJECT_ID];
    ctx->compile_mode = request[REQ_MODE];
    ResetResult(result);
    ctx->error_code = -1;
    // The text must be addressable as 3 * length bytes from its start, and
    // its end must be a character position the start can be advanced to.
    if (call->text_length < 0 || *call->start < 0 || call->text_length > INT32_MAX / 3 ||
        *call->start > INT32_MAX - call->text_length ||
        (call->text_length > 0 && call->text_base == nullptr)) {
      qcinterr(ctx, "QMN: qmcpsn", -19253);
    }
    TakeWorkArea(ctx);
  } catch (const CompileJump&) {
    result[RES_STATUS] = ctx->error_code;
    return;
  }
  int32_t severity = 0;
  bool descriptions = true;
  for (;;) {
    try {
      BeginAttempt(ctx, call);
    } catch (const CompileJump&) {
      result[RES_STATUS] = ctx->error_code;
      return;
    }
    int32_t size = ctx->workspace_size;
    severity = RunAttempt(ctx, call);
    int32_t kind = ctx->statement_kind;
    if (severity < 3 && ctx->workspace_size == size && ctx->workspace_grown == 0) {
      if (KindStopsAfterParse(kind)) {
        result[RES_STATUS] = 0;
        result[RES_KIND] = kind;
        descriptions = false;
      } else if (InRange(kind, 100, 104)) {
        request[REQ_VERSION] = ctx->early_result;
        if (kind >= 103) {
          result[RES_STATUS] = 0;
          descriptions = false;
        }
      }
    }
    if (ctx->workspace_grown == 0) break;
    AbandonAttempt(ctx, call);
  }
  try {
    if (descriptions) Results(ctx, call, severity);
    Finish(ctx, call);
  } catch (const CompileJump&) {
    result[RES_STATUS] = ctx->error_code;
  }
}

}  // namespace

void qmcpsn(int32_t* result, const uint8_t* text, int32_t* start, int32_t text_length,
            const int32_t* host_variables, int32_t* request, const int32_t* name_pairs,
            const char* name_area, int32_t name_area_bytes) {
  SqlCompileCtx ctx;
  ctx.arena.word_provider = ChunkProvider;
  ctx.arena.provider_base = SqlKernel().pool;
  ctx.arena.minimum_chunk = kCompileArenaChunkWords;
  ctx.host_variables = host_variables;
  CopyCallerNames(&ctx, name_pairs, name_area, name_area_bytes);
  Call call{result, text, start, text_length, request};
  try {
    Compile(&ctx, &call);
  } catch (const ArenaExit& exit) {
    // The compilation ends here, so a dictionary transaction a definition
    // statement left open is rolled back as the compiler's own exits do.
    if (ctx.dictionary_transaction != 0) {
      ctx.dictionary_transaction = 0;
      int32_t status = 0;
      // The call ends with the arena's status whatever the roll-back does.
      try {
        sqlsvc::qrdend(&ctx, &status, 1);
      } catch (const CompileJump&) {
      } catch (const ArenaExit&) {
      }
    }
    if (call.shared_program != 0) sqlsvc::DSRelShpProgram(call.shared_program);
    ResetResult(result);
    result[RES_STATUS] = exit.value == 1 ? SQLPOOL_EXHAUSTED_ERROR : -19083;
  }
  ArenaRelease(&ctx.arena);
}
