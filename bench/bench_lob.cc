// A 64 MB large object written and read through the kernel (DKALO1, DKPLO1
// in 1 MB pieces, then the databank's changed pages written; DKGLO1 in 1 MB
// pieces after its buffers were dropped, so every page comes from the file)
// against the same bytes written and read with pwrite/pread on a plain file
// in 1 MB pieces, in one run. The kernel's databank files sync every write
// unless the installation's IoBuffering is 2 ("Cached"), so the object is
// written twice: into a cached databank (like for like with the plain file)
// and into a default one, beside the floor that default imposes: each 64 KB
// page copied into a page buffer, written and synced, with nothing else.
// "ratio" is ours over the plain file's; the bufferpool holds 4 MB of 64 KB
// pages, so the object passes through it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/large_object.h"
#include "dk/request.h"
#include "dk/word_storage_access.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kObject = int64_t{64} << 20;
constexpr int32_t kPiece = 1 << 20;
constexpr int32_t kPage = 65536, kPageData = kPage - 40;
constexpr int kRounds = 3;

struct QuietServices : HostServices {
  void write_output(StatusPair* status, int, const char*, int) override { set_success(status); }
};

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::vector<int32_t> storage(1 << 16, 0);
int32_t* Words(int32_t index, int32_t count) {
  return int64_t{index} - 1 + count <= static_cast<int64_t>(storage.size()) ? &storage[index - 1]
                                                                            : nullptr;
}
int32_t NoAllocate(int32_t) {
  return 0;
}
void NoRelease(int32_t) {}
constexpr DKWordStorageAccess kAccess{Words, NoAllocate, NoRelease};

struct Kernel {
  Kernel() {
    InstallHostServices(&quiet);
    DKInstallWordStorageAccess(&kAccess);
    enq.assign(static_cast<size_t>(enqdeq_size(4) / 4), 0);
    enqdeq_init(enq.data(), 4, nullptr, nullptr, 0);
    enqdeq_attach(enq.data(), 1);
    int32_t counts[4] = {0, 30, 30, 30}, pages[3] = {64, 32, 64}, threads[5] = {2, 2, 0, 10, 0};
    int32_t rc = 0;
    DKCheckParams(&rc, counts, pages, threads);
    DKSTA9(&rc, "BENCH", 5, counts, pages, threads, 0);
    char tmpl[] = "/tmp/bench_lob_XXXXXX";
    dir = mkdtemp(tmpl);
    synced = Create("synced.dbf", 5);
    // The buffering mode is read from the installation's registry at open.
    const std::string registry = dir + "/registry";
    if (FILE* f = fopen(registry.c_str(), "w")) {
      fprintf(f, "[SOFTWARE\\Zavor\\Zavor SQL\\9.1]\nIoBuffering=dword:2\n");
      fclose(f);
    }
    const char* old = getenv("ZAVOR_REGISTRY");
    const std::string saved = old ? old : "";
    setenv("ZAVOR_REGISTRY", registry.c_str(), 1);
    cached = Create("cached.dbf", 6);
    if (old)
      setenv("ZAVOR_REGISTRY", saved.c_str(), 1);
    else
      unsetenv("ZAVOR_REGISTRY");
  }
  int32_t Create(const std::string& name, int32_t did) {
    std::string path = dir + "/" + name;
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = -2;
    rq[CRD_UNITS] = 1000;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = 1;
    rq[CRD_TYPE] = 9;
    char* file = reinterpret_cast<char*>(rq.data() + CRD_FILE);
    std::memset(file, ' ', 256);
    std::memcpy(file, path.data(), path.size());
    std::memset(rq.data() + CRD_NAME, ' ', 128);
    DKCRD1(rq.data());
    return rq[CRD_UNITS];
  }
  ~Kernel() {
    ReleaseDatabank(synced, false);
    ReleaseDatabank(cached, false);
    int32_t rc = 0;
    DKShutdown(&rc);
    DKInstallWordStorageAccess(nullptr);
    std::filesystem::remove_all(dir);
  }
  void Pages(int32_t databank, int code) {
    int32_t pag[PAGREQ_WORDS] = {databank, 0, 0, 0, -1, 0, 0, 0};
    DKPAG0(pag, code);
  }
  QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t synced = 0, cached = 0;
};

// Writes and reads the object through the kernel; failures counted.
void Ours(Kernel& k, int32_t did, const std::string& bytes, std::string& back, double* write,
          double* read, int* failures) {
  const int32_t databank = did == 5 ? k.synced : k.cached;
  const int32_t list = 2;
  storage[list - 2] = 4096;  // capacity in pairs
  std::vector<int32_t> b(LOB_WORDS, 0);
  b[LOB_DID] = did;
  b[LOB_LIST] = list;
  b[LOB_IDENTITY] = 11;
  b[LOB_LENGTH] = static_cast<int32_t>(kObject);
  b[LOB_LENGTH + 1] = static_cast<int32_t>(kObject >> 32);
  auto t0 = Clock::now();
  int32_t index = list;
  DKEXE2(DKF_ALO1, b.data(), &index);
  *failures += b[LOB_STATUS] != 0;
  for (int64_t at = 0; at < kObject; at += kPiece) {
    b[LOB_STATUS] = 0;
    b[LOB_OFFSET] = static_cast<int32_t>(at);
    b[LOB_OFFSET + 1] = 0;
    b[LOB_COUNT] = kPiece;
    DKEXE2(DKF_PLO1, b.data(), const_cast<char*>(bytes.data() + at));
    *failures += b[LOB_STATUS] != 0;
  }
  k.Pages(databank, PAG_FLUSH);
  auto t1 = Clock::now();
  k.Pages(databank, PAG_DROP);
  auto t2 = Clock::now();
  for (int64_t at = 0; at < kObject; at += kPiece) {
    b[LOB_STATUS] = 0;
    b[LOB_OFFSET] = static_cast<int32_t>(at);
    b[LOB_COUNT] = kPiece;
    DKEXE2(DKF_GLO1, b.data(), back.data() + at);
    *failures += b[LOB_STATUS] != 0 || b[LOB_COUNT] != kPiece;
  }
  auto t3 = Clock::now();
  *failures += back != bytes;
  DKEXE2(DKF_FLX1, b.data(), nullptr);
  *failures += b[LOB_STATUS] != 0;
  *write = Seconds(t0, t1);
  *read = Seconds(t2, t3);
}

// pwrite/pread of the bytes on a plain file: straight from and into the
// caller's bytes in 1 MB pieces, or (`stage`) each page's bytes staged
// through a 64 KB page, synced after each write when `sync` (the floors).
void Plain(const std::string& dir, const std::string& bytes, std::string& back, bool stage,
           bool sync, double* write, double* read, int* failures) {
  // Kept from round to round, as the databank files are: later rounds
  // overwrite, as the object's pages are.
  const std::string path = dir + (!stage ? "/plain.dat"
                                  : sync ? "/synced_floor.dat"
                                         : "/floor.dat");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
  std::vector<char> page(kPage, 0);
  const int64_t piece = stage ? kPageData : kPiece;
  auto t0 = Clock::now();
  for (int64_t at = 0, unit = 0; at < kObject; at += piece, ++unit) {
    const int64_t n = std::min<int64_t>(piece, kObject - at);
    if (stage) {
      std::memcpy(page.data() + 36, bytes.data() + at, static_cast<size_t>(n));
      *failures += ::pwrite(fd, page.data(), kPage, unit * kPage) != kPage;
      if (sync) *failures += ::fdatasync(fd) != 0;
    } else {
      *failures += ::pwrite(fd, bytes.data() + at, static_cast<size_t>(n), at) != n;
    }
  }
  auto t1 = Clock::now();
  for (int64_t at = 0, unit = 0; at < kObject; at += piece, ++unit) {
    const int64_t n = std::min<int64_t>(piece, kObject - at);
    if (stage) {
      *failures += ::pread(fd, page.data(), kPage, unit * kPage) != kPage;
      std::memcpy(back.data() + at, page.data() + 36, static_cast<size_t>(n));
    } else {
      *failures += ::pread(fd, back.data() + at, static_cast<size_t>(n), at) != n;
    }
  }
  auto t2 = Clock::now();
  *failures += back != bytes;
  ::close(fd);
  *write = Seconds(t0, t1);
  *read = Seconds(t1, t2);
}

void BM_LargeObjectVersusFile(benchmark::State& state) {
  for (auto _ : state) {
    Kernel k;
    std::string bytes(static_cast<size_t>(kObject), '\0');
    uint64_t x = 42;
    for (size_t i = 0; i < bytes.size(); i += 8) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      std::memcpy(bytes.data() + i, &x, 8);
    }
    std::string back(bytes.size(), '\0');
    int failures = 0;
    // ours cached, ours synced, plain, floor, synced floor: write and read.
    double best[5][2];
    for (auto& b : best) b[0] = b[1] = 1e9;
    for (int round = 0; round < kRounds; ++round) {
      double t[5][2];
      // The synced writes last: the write-back they leave behind would slow
      // whatever writes next.
      Plain(k.dir, bytes, back, false, false, &t[2][0], &t[2][1], &failures);
      Ours(k, 6, bytes, back, &t[0][0], &t[0][1], &failures);
      Plain(k.dir, bytes, back, true, false, &t[3][0], &t[3][1], &failures);
      Ours(k, 5, bytes, back, &t[1][0], &t[1][1], &failures);
      Plain(k.dir, bytes, back, true, true, &t[4][0], &t[4][1], &failures);
      ::sync();
      for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 2; ++j) best[i][j] = std::min(best[i][j], t[i][j]);
    }
    state.counters["failures"] = failures;
    state.counters["file_write_ms"] = best[2][0] * 1e3;
    state.counters["file_read_ms"] = best[2][1] * 1e3;
    state.counters["cached_write_ms"] = best[0][0] * 1e3;
    state.counters["cached_read_ms"] = best[0][1] * 1e3;
    state.counters["cached_write_ratio"] = best[0][0] / best[2][0];
    state.counters["cached_read_ratio"] = best[0][1] / best[2][1];
    state.counters["cached_total_ratio"] = (best[0][0] + best[0][1]) / (best[2][0] + best[2][1]);
    state.counters["floor_write_ratio"] = best[3][0] / best[2][0];
    state.counters["floor_read_ratio"] = best[3][1] / best[2][1];
    state.counters["synced_write_ms"] = best[1][0] * 1e3;
    state.counters["synced_write_ratio"] = best[1][0] / best[2][0];
    state.counters["synced_floor_write_ratio"] = best[4][0] / best[2][0];
    state.counters["synced_read_ratio"] = best[1][1] / best[2][1];
  }
}
BENCHMARK(BM_LargeObjectVersusFile)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
