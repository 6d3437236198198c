// What the interpreter's benchmarks share: a started kernel with one table
// of databank 5 opened for record access (a session, a thread and the table's
// control block in the kernel word storage), and the step that assembles a
// program, binds its record block and runs it through DAMAE2.
#pragma once

#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_kernel.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/bytes.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace bench {

// Table 7 of databank 5 with `key_bytes`-byte keys and `row_bytes`-byte
// rows, in a bufferpool of `pool_pages` pages (2048 bytes each).
struct InterpTable {
  InterpTable(const char* name, int32_t key_bytes, int32_t row_bytes, int32_t pool_pages = 20000) {
    int32_t pages[3] = {pool_pages, 64, 0};
    StartKernel(&quiet, &enq, pages);
    std::string tmpl = std::string("/tmp/") + name + "_XXXXXX";
    dir = mkdtemp(tmpl.data());
    databank = CreateDatabank(dir, 16000);
    base = SqlPoolCreate(4000000, 400000);
    int32_t w = 400000;
    DSPoolMem(base, &w, -1, 0);
    DSGetMem(base, &sys, SYS_BYTES);
    base[sqlpool::RESERV] = sys;
    DSGetMem(base, &usr, USR_BYTES);
    DSGetMem(base, &thr, THR_BYTES);
    StatusPair st{};
    mdr_tls_init(&st);
    mdr_tls_set(&st, thr, TLS_SLOT_THR);
    DSGetMem(base, &tcb, TCB_BYTES);
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 10;
    b[RQ_TBL] = 7;
    b[RQ_KEY_LENGTH] = key_bytes;
    b[RQ_RECORD_LENGTH] = row_bytes;
    DKEXE1(16, b);
    const int32_t id[6] = {5, 10, b[RQ_TABLE], 7, key_bytes, row_bytes};
    for (int32_t k = 0; k < 6; ++k) sqlpool_word(base, tcb + TCB_LID + k) = id[k];
  }
  ~InterpTable() {
    SqlPoolDestroy(base);
    StopKernel(databank, dir);
  }
  // The record block of the table at `record` (a DUREC of the table).
  void Bind(int32_t* record) {
    record[DUREC_OBJECT] = tcb;
    for (int32_t k = 0; k < 6; ++k) record[DUREC_LID + k] = sqlpool_word(base, tcb + TCB_LID + k);
  }
  QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t databank = 0, sys = 0, usr = 0, thr = 0, tcb = 0;
  int32_t* base = nullptr;
};

// An assembled program with its storage, the record block `table` (a field
// of the program) bound to the benchmark's table.
struct InterpProgram {
  zasm::Assembly a;
  std::vector<int32_t> storage;
  std::string error;
  bool Load(InterpTable& t, const std::string& text, const char* table) {
    a = zasm::Assembly{};
    if (!zasm::Assemble(text, "bench", &a, &error)) return false;
    const int32_t at = a.words[interp::kDescStorageOffset];
    storage.assign(a.words.begin() + at, a.words.end());
    t.Bind(storage.data() + a.fields.at(table) / 4);
    return true;
  }
  // One run from position 2; the result code.
  int32_t Run(InterpTable& t) {
    const int32_t start = a.words[interp::kDescProgramStart];
    const int32_t at = a.words[interp::kDescStorageOffset];
    int32_t rvec[12] = {}, pos = 2;
    char name[128];
    std::memset(name, ' ', sizeof name);
    interp::DAMAE2(t.base, rvec, a.words.data() + start, at - start, storage.data(),
                   static_cast<int32_t>(storage.size()), &pos, name, t.usr);
    return rvec[0];
  }
  ConstByteSpan Bytes() const {
    return ConstByteSpan(reinterpret_cast<const uint8_t*>(storage.data()), storage.size() * 4);
  }
  // Byte offset of column byte `column` of the table's row.
  int32_t Column(const char* table, int32_t column) const {
    return a.fields.at(table) + interp::kRecordHeaderBytes + column;
  }
};

// The counters of a run against SQLite: our time, the time of the same
// program run directly (the floor), SQLite's, and the two ratios.
inline void ReportAgainstSqlite(benchmark::State& state, double ours, double direct,
                                double theirs) {
  state.counters["ratio"] = ours / theirs;
  state.counters["floor_ratio"] = direct / theirs;
  state.counters["ours_s"] = ours;
  state.counters["direct_s"] = direct;
  state.counters["sqlite_s"] = theirs;
}

}  // namespace bench
