// The compiler's service tables and the calls through them. A missing entry
// writes a kernel error report naming the service and answers
// kSqlServiceMissing; a missing phase is an internal error of the compilation
// that names the phase, never a made-up success.
#include "sql/front/compile_services.h"

#include <cstring>

#include "kernel/error_report.h"
#include "sql/front/compile_diag.h"

namespace {

SqlKernelServices g_kernel;
SqlDefinitionServices g_definition;
SqlPhaseServices g_phases;

int32_t Missing(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), kSqlServiceMissing, SEV_ERROR);
  return kSqlServiceMissing;
}

template <typename Table>
Table Install(Table* slot, const Table* services) {
  Table old = *slot;
  *slot = services != nullptr ? *services : Table{};
  return old;
}

}  // namespace

SqlKernelServices SqlInstallKernelServices(const SqlKernelServices* services) {
  return Install(&g_kernel, services);
}
SqlDefinitionServices SqlInstallDefinitionServices(const SqlDefinitionServices* services) {
  return Install(&g_definition, services);
}
SqlPhaseServices SqlInstallPhaseServices(const SqlPhaseServices* services) {
  return Install(&g_phases, services);
}
const SqlKernelServices& SqlKernel() {
  return g_kernel;
}
const SqlPhaseServices& SqlPhases() {
  return g_phases;
}

namespace sqlsvc {

void DSAddDiag(int32_t session, int32_t position, int32_t code, int32_t severity, const char* text,
               int32_t length) {
  if (g_kernel.add_diag == nullptr) {
    Missing("DSAddDiag");
    return;
  }
  g_kernel.add_diag(session, position, code, severity, text, length);
}

int32_t DSCursorCreate(int32_t session, int32_t* shared_program, int32_t* second,
                       const uint8_t* key, int32_t key_length, const uint8_t* text,
                       int32_t text_bytes) {
  if (g_kernel.cursor_create == nullptr) return Missing("DSCursorCreate");
  return g_kernel.cursor_create(session, shared_program, second, key, key_length, text, text_bytes);
}

void DSRelShpProgram(int32_t shared_program) {
  if (g_kernel.release_shared_program == nullptr) {
    Missing("DSRelShpProgram");
    return;
  }
  g_kernel.release_shared_program(shared_program);
}

void ShellAllocWords(int32_t* index, int32_t words) {
  if (g_kernel.alloc_words == nullptr) {
    Missing("ShellAllocWords");
    *index = 0;
    return;
  }
  g_kernel.alloc_words(index, words);
}

void DSCallGuarded(uint8_t* out, const uint8_t* value, int32_t* status, int32_t conversion,
                   int32_t value_class, void (*current_time)(char text[16])) {
  if (g_kernel.call_guarded == nullptr) {
    *status = Missing("DSCallGuarded");
    return;
  }
  g_kernel.call_guarded(out, value, status, conversion, value_class, current_time);
}

void qqrtex(SqlCompileCtx* ctx, int32_t builder_block) {
  if (g_definition.qqrtex == nullptr) {
    Missing("qqrtex");
    qcinterr(ctx, "QRT: qqrtex", kSqlServiceMissing);
  }
  g_definition.qqrtex(ctx, builder_block);
}

void qrdend(SqlCompileCtx* ctx, int32_t* status, int32_t mode) {
  if (g_definition.qrdend == nullptr) {
    *status = Missing("qrdend");
    return;
  }
  g_definition.qrdend(ctx, status, mode);
}

void qrdnop(SqlCompileCtx* ctx, int32_t* status) {
  if (g_definition.qrdnop == nullptr) {
    *status = Missing("qrdnop");
    return;
  }
  g_definition.qrdnop(ctx, status);
}

void qrduse(SqlCompileCtx* ctx, int32_t object_id, int32_t usage_kind, int32_t entry,
            int32_t* status) {
  if (g_definition.qrduse == nullptr) {
    *status = Missing("qrduse");
    return;
  }
  g_definition.qrduse(ctx, object_id, usage_kind, entry, status);
}

void Parse(SqlCompileCtx* ctx) {
  if (g_phases.parse == nullptr) {
    Missing("qsaprs");
    qcinterr(ctx, "QSA: qsaprs", kSqlServiceMissing);
  }
  g_phases.parse(ctx);
}

void Semantic(SqlCompileCtx* ctx, int32_t root) {
  if (g_phases.semantic == nullptr) {
    Missing("qmsema");
    qcinterr(ctx, "QME: qmsema", kSqlServiceMissing);
  }
  g_phases.semantic(ctx, root);
}

void Optimize(SqlCompileCtx* ctx, int32_t root) {
  if (g_phases.optimize == nullptr) {
    Missing("qotrav");
    qcinterr(ctx, "QOP: qotrav", kSqlServiceMissing);
  }
  g_phases.optimize(ctx, root);
}

int32_t Build(SqlCompileCtx* ctx, int32_t root) {
  if (g_phases.build == nullptr) {
    Missing("qbtrav");
    qcinterr(ctx, "QBE: qbtrav", kSqlServiceMissing);
  }
  return g_phases.build(ctx, root);
}

}  // namespace sqlsvc
