// Fills the kernel's entries of the SQL compiler's kernel-services table
// (see sql_compile_services.h).
#include "kernel/sql_compile_services.h"

#include <atomic>

#include "kernel/diagnostics_area.h"
#include "kernel/shared_programs.h"

namespace {

std::atomic<int32_t*> g_base{nullptr};

// The cache's answer: 0 a ready program (its SHP and the holder's storage),
// 1 the caller compiles (the SHP), or the error. The qualifier is the key.
int32_t CursorCreate(int32_t session, int32_t* shared_program, int32_t* second,
                     const uint8_t* key, int32_t key_length, const uint8_t* text,
                     int32_t text_bytes) {
  ShpHandle h;
  const int32_t rc =
      DSFindShpSql(g_base.load(std::memory_order_acquire), session, key, key_length, text,
                   text_bytes, &h);
  if (rc >= 0) {
    *shared_program = h.shp;
    *second = h.stg;
  }
  return rc;
}

void ReleaseSharedProgram(int32_t shared_program) {
  int32_t shp = shared_program, sd = 0, stg = 0, snd = 0, dbginf = 0;
  DSRelShpProgram(g_base.load(std::memory_order_acquire), &shp, &sd, &stg, &snd, &dbginf);
}

void AddDiag(int32_t session, int32_t position, int32_t code, int32_t severity, const char* text,
             int32_t length) {
  DSAddDiag(g_base.load(std::memory_order_acquire), session, position, code, severity,
            reinterpret_cast<const uint8_t*>(text), length);
}

}  // namespace

void KernelFillSqlServices(int32_t* base, SqlKernelServices* table) {
  g_base.store(base, std::memory_order_release);
  table->pool = base;
  table->add_diag = AddDiag;
  table->cursor_create = CursorCreate;
  table->release_shared_program = ReleaseSharedProgram;
}
