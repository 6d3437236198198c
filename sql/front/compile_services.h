// The services the SQL compiler takes from layers it cannot link: the kernel
// core and the server process (diagnostics area, statement cache, description
// blocks), the definition statement executor, and the compiler's own later
// phases. Each owner fills its table at start; tests install fakes. An entry
// nobody installed answers kSqlServiceMissing and names itself in the log.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// What a missing service answers (the kernel's "not started" code).
constexpr int32_t kSqlServiceMissing = -19040;

struct SqlKernelServices {
  // The kernel word storage: compile arenas take their chunks from it
  // (DSGetMemRaw) and the descriptions are copied into it (DSMoveToPool).
  int32_t* pool = nullptr;
  // Where compile arenas take their chunks; DSGetMemRaw when not set.
  void (*chunk_provider)(int32_t* base, int32_t* index, int32_t bytes) = nullptr;
  // DSAddDiag: one condition into the session's diagnostics area.
  void (*add_diag)(int32_t session, int32_t position, int32_t code, int32_t severity,
                   const char* text, int32_t length) = nullptr;
  // DSCursorCreate: the statement cache. Returns 0 (ready program attached),
  // 1 (compile) or a negative kernel code.
  int32_t (*cursor_create)(int32_t session, int32_t* shared_program, int32_t* second,
                           const uint8_t* key, int32_t key_length, const uint8_t* text,
                           int32_t text_bytes) = nullptr;
  // DSRelShpProgram.
  void (*release_shared_program)(int32_t shared_program) = nullptr;
  // ShellAllocWords: *index = a block of `words` words in `pool`, 0 when none.
  void (*alloc_words)(int32_t* index, int32_t words) = nullptr;
  // DSCallGuarded: runs the record-access value converter for a datetime or
  // interval conversion (codes 33 to 48, negative for the reverse) of a value
  // of `value_class` under a clean-up handler, handing it the current-time
  // provider; the converter's status goes to *status.
  void (*call_guarded)(uint8_t* out, const uint8_t* value, int32_t* status, int32_t conversion,
                       int32_t value_class, void (*current_time)(char text[16])) = nullptr;
  // The calling thread's session time simulation: false when the thread's
  // channel has no user; else the increment (hundredths) and the stored time.
  bool (*user_time)(int32_t* increment, char stored[16]) = nullptr;
};

struct SqlDefinitionServices {
  // qqrtex: runs the analysed definition statement; may leave by CompileJump.
  void (*qqrtex)(SqlCompileCtx* ctx, int32_t builder_block) = nullptr;
  // qrdend: ends the open dictionary transaction (mode 1 rolls back).
  void (*qrdend)(SqlCompileCtx* ctx, int32_t* status, int32_t mode) = nullptr;
  // qrdnop: the dictionary's empty entry.
  void (*qrdnop)(SqlCompileCtx* ctx, int32_t* status) = nullptr;
  // qrduse: registers that `object_id` uses what the usage-list entry (a
  // reference in the first workspace block, laid out by semantic analysis)
  // names.
  void (*qrduse)(SqlCompileCtx* ctx, int32_t object_id, int32_t usage_kind, int32_t entry,
                 int32_t* status) = nullptr;
};

// The phases after the driver. Each may leave by CompileJump.
struct SqlPhaseServices {
  // Lexer reset and parse of ctx->single_byte_text; leaves the tree root in
  // ctx->parse_root and the kind in ctx->statement_kind.
  void (*parse)(SqlCompileCtx* ctx) = nullptr;
  void (*semantic)(SqlCompileCtx* ctx, int32_t root) = nullptr;
  void (*optimize)(SqlCompileCtx* ctx, int32_t root) = nullptr;
  // Returns the workspace block that holds the program (0 for none).
  int32_t (*build)(SqlCompileCtx* ctx, int32_t root) = nullptr;
  // Bytes each phase needs of the shared work area.
  int32_t parse_work_bytes = 0;
  int32_t semantic_work_bytes = 0;
  int32_t optimize_work_bytes = 0;
  int32_t build_work_bytes = 0;
};

// Install a table (copied) and return the one it replaces; nullptr restores
// the empty table.
SqlKernelServices SqlInstallKernelServices(const SqlKernelServices* services);
SqlDefinitionServices SqlInstallDefinitionServices(const SqlDefinitionServices* services);
SqlPhaseServices SqlInstallPhaseServices(const SqlPhaseServices* services);
const SqlKernelServices& SqlKernel();
const SqlPhaseServices& SqlPhases();

// Calls through the tables; a missing entry is logged under its own name and
// answers kSqlServiceMissing (phases: an internal error naming the phase).
namespace sqlsvc {
void DSAddDiag(int32_t session, int32_t position, int32_t code, int32_t severity, const char* text,
               int32_t length);
int32_t DSCursorCreate(int32_t session, int32_t* shared_program, int32_t* second,
                       const uint8_t* key, int32_t key_length, const uint8_t* text,
                       int32_t text_bytes);
void DSRelShpProgram(int32_t shared_program);
void ShellAllocWords(int32_t* index, int32_t words);
void DSCallGuarded(uint8_t* out, const uint8_t* value, int32_t* status, int32_t conversion,
                   int32_t value_class, void (*current_time)(char text[16]));
void qqrtex(SqlCompileCtx* ctx, int32_t builder_block);
void qrdend(SqlCompileCtx* ctx, int32_t* status, int32_t mode);
void qrdnop(SqlCompileCtx* ctx, int32_t* status);
void qrduse(SqlCompileCtx* ctx, int32_t object_id, int32_t usage_kind, int32_t entry,
            int32_t* status);
void Parse(SqlCompileCtx* ctx);
void Semantic(SqlCompileCtx* ctx, int32_t root);
void Optimize(SqlCompileCtx* ctx, int32_t root);
int32_t Build(SqlCompileCtx* ctx, int32_t root);
}  // namespace sqlsvc
