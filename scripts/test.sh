#!/usr/bin/env bash
# Builds and runs every test.
#   scripts/test.sh                      build in build/ and run the whole suite
#   scripts/test.sh --sanitize address   the same in build-address/ with that
#                                        sanitizer (address, undefined, thread)
# Missing prerequisites are installed with apt-get when run as root on Debian.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize)
      sanitize="${2:-}"
      shift 2 || { echo "--sanitize needs address, undefined or thread" >&2; exit 2; }
      case "$sanitize" in address|undefined|thread) ;; *)
        echo "unknown sanitizer '$sanitize' (address, undefined or thread)" >&2; exit 2 ;;
      esac ;;
    *) echo "usage: $0 [--sanitize address|undefined|thread]" >&2; exit 2 ;;
  esac
done

need_install=()
command -v g++ >/dev/null || need_install+=(g++)
command -v cmake >/dev/null || need_install+=(cmake)
command -v ninja >/dev/null || need_install+=(ninja-build)
command -v ccache >/dev/null || need_install+=(ccache)
[ -f /usr/include/gtest/gtest.h ] || need_install+=(libgtest-dev libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need_install+=(libbenchmark-dev)
[ -f /usr/include/sqlite3.h ] || need_install+=(libsqlite3-dev)
# The SQL grammar test reads the EXAMPLES of these manual pages.
[ -d /usr/share/postgresql/15/man/man7 ] || need_install+=(postgresql-client-15)
if [ ${#need_install[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing: ${need_install[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need_install[@]}" >/dev/null
  else
    echo "missing prerequisites: ${need_install[*]} (install them, or run as root)" >&2
    exit 1
  fi
fi

build="$root/build"
[ -n "$sanitize" ] && build="$root/build-$sanitize"

# ccache with a base directory: a fresh clone in another folder reuses the
# objects compiled from the same sources.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=pch_defines,time_macros
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
  -DHARBOUND_SANITIZE="$sanitize" >/dev/null
cmake --build "$build"
jobs=$(nproc)
case "$sanitize" in
  thread) export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ;;
  address) export ASAN_OPTIONS="detect_leaks=1" ;;
  undefined) export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" ;;
esac
cd "$build"
ctest --output-on-failure -j"$jobs"
