// Creating a database against PostgreSQL 15's initdb, in one run: the
// hbcreate program (home directory, four databank files, every system table
// and index, the catalog's rows through record access, a stop, a reopen
// that reads every row back by key and through each index, the registry
// section) against `initdb` of a new cluster in a temporary directory, run
// as the user postgres when started by root. Both write their files
// durably. "ratio" is ours over initdb's, the best of three runs each.
// PostgreSQL 15 must be installed (Debian: apt-get install postgresql-15;
// initdb is /usr/lib/postgresql/15/bin/initdb); without it the benchmark
// says so and measures nothing.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
constexpr char kInitdb[] = "/usr/lib/postgresql/15/bin/initdb";

// Seconds the shell command took; negative when it failed.
double Timed(const std::string& command) {
  const auto t0 = Clock::now();
  const int status = std::system(command.c_str());
  const auto t1 = Clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(t1 - t0).count();
}

void BM_CreateAgainstInitdb(benchmark::State& state) {
  if (!fs::exists(kInitdb)) {
    state.SkipWithError("PostgreSQL 15's initdb is not installed (apt-get install postgresql-15)");
    return;
  }
  char tmpl[] = "/tmp/bench_create_XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  fs::permissions(dir, fs::perms::all);  // initdb runs as postgres
  const fs::path registry = dir / "registry";
  std::ofstream(dir / "pw") << "secret\n";
  const std::string as_postgres = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
  for (auto _ : state) {
    double ours = 1e30, theirs = 1e30;
    for (int run = 0; run < kRuns; ++run) {
      const fs::path home = dir / ("home" + std::to_string(run));
      const double t = Timed("ZAVOR_REGISTRY=" + registry.string() + " " + HBCREATE + " --home " +
                             home.string() + " --password-file " + (dir / "pw").string() + " DB" +
                             std::to_string(run) + " >/dev/null 2>&1");
      if (t < 0) {
        state.SkipWithError("hbcreate failed");
        break;
      }
      ours = std::min(ours, t);
      const fs::path cluster = dir / ("pg" + std::to_string(run));
      const double p = Timed(as_postgres + kInitdb + " -D " + cluster.string() +
                             " -A trust -U postgres >/dev/null 2>&1");
      if (p < 0) {
        state.SkipWithError("initdb failed");
        break;
      }
      theirs = std::min(theirs, p);
    }
    state.counters["ours_s"] = ours;
    state.counters["initdb_s"] = theirs;
    state.counters["ratio"] = ours / theirs;
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_CreateAgainstInitdb)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
