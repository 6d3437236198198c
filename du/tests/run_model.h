// A model of the kernel's sort runs (DKLOA1, DKMRG1, DKBIN1) over the
// kernel model's tables: records kept by run handle, duplicates of a key
// dropped and counted by the merge, which ends the run (word 0 becomes 0,
// word 1 names its records), the build putting them into the stored table
// (a stored row of a key stays). Every other request goes to the kernel model.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "du/table_load.h"
#include "du/tests/record_access_fixture.h"

// The kernel's runs: records by handle until a build puts them into the
// stored table (duplicates of a key dropped).
struct RunModel {
  struct Run {
    int32_t table = 0, keylen = 0, reclen = 0;
    std::vector<std::string> records;
  };
  std::map<int32_t, Run> runs;
  int32_t next = 1;
  int32_t fail_feed = -1;  // the feed (counted from 0) that fails
  int32_t feeds = 0;
  std::map<int32_t, int32_t> sent;

  static RunModel*& Current() {
    static RunModel* current = nullptr;
    return current;
  }
  static void Dispatch(int32_t code, int32_t* b) {
    RunModel* m = Current();
    if (code != DK_LOA1 && code != DK_MRG1 && code != DK_BIN1) {
      KernelModel::Dispatch(code, b);
      return;
    }
    ++m->sent[code];
    KernelModel* k = KernelModel::Current();
    if (code == DK_LOA1 && b[6] == 0) {
      if (m->feeds++ == m->fail_feed) {
        b[6] = -50;
        return;
      }
      if (b[0] == 0) {
        b[0] = m->next++;
        b[14] = 4096;
        m->runs[b[0]] = {b[10], b[12], b[13], {}};
      }
      Run& r = m->runs[b[0]];
      r.records.emplace_back(reinterpret_cast<const char*>(b + 16), static_cast<size_t>(b[13]));
    } else if (code == DK_MRG1) {
      // The merge drops the records of a key met before and counts them.
      auto it = m->runs.find(b[0]);
      int32_t duplicates = 0;
      if (it != m->runs.end()) {
        std::map<std::string, std::string> seen;
        std::vector<std::string> kept;
        for (const std::string& rec : it->second.records) {
          const std::string key = rec.substr(0, static_cast<size_t>(it->second.keylen));
          if (seen.emplace(key, rec).second)
            kept.push_back(rec);
          else
            ++duplicates;
        }
        it->second.records = kept;
      }
      // As the kernel's: the merge ends the run, its records wait in the
      // chain of word 1 for the build.
      b[2] = duplicates;
      b[1] = it != m->runs.end() ? b[0] : 0;
      b[0] = 0;
    } else if (code == DK_BIN1) {
      auto it = m->runs.find(b[1]);
      if (it != m->runs.end()) {
        for (const std::string& rec : it->second.records) {
          const std::string key = rec.substr(0, static_cast<size_t>(it->second.keylen));
          k->rows[it->second.table].emplace(key, rec);
        }
        m->runs.erase(it);
      }
    }
    b[6] = 0;
  }
};
