// Compiler diagnostics: conditions go to the session's diagnostics area through
// the kernel's DSAddDiag; the exits roll an open dictionary transaction back
// once and throw CompileJump to the driver's guard of the running phase.
#include "sql/front/compile_diag.h"

#include <cstring>

#include "sql/front/compile_services.h"

void BuildParamText(char* out, const char* text) {
  if (text == nullptr || text[0] == 0) {
    out[0] = 0;
    return;
  }
  out[0] = 'N';
  out[1] = '\t';
  size_t n = std::strlen(text);
  if (n > static_cast<size_t>(kParamTextBytes - 3)) n = kParamTextBytes - 3;
  std::memcpy(out + 2, text, n);
  out[2 + n] = 0;
}

void qcerrec(SqlCompileCtx* ctx, const int32_t* position, const char* tag, int32_t code,
             int32_t severity, const char* text) {
  (void)tag;  // the diagnostics area keeps code, position and text only
  ++ctx->conditions_this_attempt;
  // A compilation restarted after workspace growth meets the conditions of
  // the abandoned attempt again, in the same order: they are already there.
  if (ctx->conditions_to_skip > 0) {
    --ctx->conditions_to_skip;
  } else {
    const char* t = text != nullptr ? text : "";
    sqlsvc::DSAddDiag(ctx->session, position != nullptr ? position[1] : 0, code, severity, t,
                      static_cast<int32_t>(std::strlen(t)));
  }
  if (severity > ctx->highest_severity) ctx->highest_severity = severity;
}

void qcrestart(SqlCompileCtx* ctx, int32_t end_dictionary, int32_t error_code) {
  if (end_dictionary == 1 && ctx->dictionary_transaction != 0) {
    // Cleared first, so that an exit out of the roll-back does not roll back again.
    ctx->dictionary_transaction = 0;
    int32_t status = 0;
    sqlsvc::qrdend(ctx, &status, 1);
  }
  ctx->error_code = error_code;
  throw CompileJump();
}

void qcfatal(SqlCompileCtx* ctx, int32_t status) {
  ctx->highest_severity = kSevInternal;
  qcerrec(ctx, nullptr, "QCO", status, kSevInternal, "");
  qcrestart(ctx, 1, status);
}

void qcinterr(SqlCompileCtx* ctx, const char* routine, int32_t code) {
  char text[kParamTextBytes];
  BuildParamText(text, routine);
  qcerrec(ctx, ctx->position, "QCO", code, kSevInternal, text);
  qcrestart(ctx, 1, -1);
}

void qclimerr(SqlCompileCtx* ctx, int32_t code, const char* text) {
  char param[kParamTextBytes];
  BuildParamText(param, text);
  qcerrec(ctx, ctx->position, "XXX", code, kSevCapacity, param);
  qcrestart(ctx, 1, -1);
}
