#!/usr/bin/env bash
# Kills a server process of the databank kernel again and again while it
# commits transactions, restarting it after each kill and checking that every
# transaction whose commit was reported done is there, nothing else is, and
# every page of its databanks checks sound.
#   scripts/dk_kill_series.sh [kills] [seconds] [seed]
# DK_KILL_FIRST=n starts the stream at transaction n (its earlier rows
# committed at once); DK_KILL_KEEP=dir keeps the files of each checked round;
# DK_KILL_OVERLAP=0 runs the server with its work units one at a time (they
# overlap by default).
# Defaults: 1000 kills, at most 1800 seconds, a seed from the clock. Uses the
# test program in build/ (built by scripts/test.sh or cmake --build build).
# Ends with a line: kills, transactions reported committed, lost, half-visible,
# and the restarts that ended the commit set's last data page at its last sound
# record (a write the kill cut short).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tests="$root/build/dk/dk_tests"
[ -x "$tests" ] || { echo "no $tests: build first" >&2; exit 2; }
kills=${1:-1000}
seconds=${2:-1800}
seed=${3:-$(( $(date +%s) % 1000000 ))}
echo "kills $kills, at most $seconds seconds, seed $seed"
DK_KILL_ROUNDS=$kills DK_KILL_SECONDS=$seconds DK_KILL_SEED=$seed \
  "$tests" --gtest_filter=CommitCrashTest.CommitsReportedDoneSurviveKillsOfTheServer \
  | grep -v '^20[0-9][0-9]-' 
