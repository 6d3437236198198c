// Builds the kernel's log records and writes them under the log lock. A
// fatal report ends the server with the server exception, raised only after
// the log lock is given back so that no other thread is left waiting on it.
#include "dk/error_log.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dk/control_area.h"
#include "dk/routine_names.h"
#include "platform/host_services.h"
#include "platform/os_status.h"
#include "platform/server_clock.h"

namespace {

constexpr int kFlagD = 1, kFlagO = 2, kFlagF = 4, kFlagV = 8;

struct CodeText {
  int32_t rc;
  int flags;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {-1, kFlagD | kFlagO | kFlagF, "Syntax error in filename"},
    {-2, kFlagD | kFlagO | kFlagF, "File not found"},
    {-3, kFlagD | kFlagO | kFlagF, "File protection violation"},
    {-4, kFlagD | kFlagO | kFlagF, "File locked"},
    {-5, 0, "Maximum number of open databank files exceeded"},
    {-6, kFlagD | kFlagO | kFlagF, "File create error, disk space exhausted"},
    {-7, kFlagD | kFlagO | kFlagF, "File open error -7"},
    {-8, kFlagD | kFlagO | kFlagF, "File open error -8"},
    {-9, kFlagD | kFlagO | kFlagF, "File open error"},
    {-11, kFlagV, "Databank control area exhausted, limit = "},
    {-12, kFlagD | kFlagF, "is not a ZAVOR databank"},
    {-14, kFlagV, "Table control area exhausted, limit = "},
    {-15, kFlagD | kFlagF, "is of an incompatible version"},
    {-16, kFlagD | kFlagF, "belongs to another system databank"},
    {-19, kFlagD | kFlagV, ", restore needed due to invalid timestamp = "},
    {-21, kFlagD | kFlagO, " disk space exhausted"},
    {-22, kFlagD | kFlagO, " disk space exhausted"},
    {-23, kFlagD | kFlagO, " disk space exhausted"},
    {-24, kFlagD | kFlagO, " disk space exhausted"},
    {-31, kFlagD | kFlagV, ", dependent page I/O error, pageid = "},
    {-42, kFlagD, " corrupt"},
    {-43, kFlagV, "Bad parameter, value = "},
    {-44, kFlagD | kFlagO | kFlagV, ", I/O error, pageid = "},
    {-45, kFlagV, "Databank identifier invalid, DID = "},
    {-46, kFlagV, "Table identifier invalid, TBL = "},
    {-47, kFlagD | kFlagV, " sequence number invalid, SEQNO = "},
    {-49, kFlagD | kFlagV, ", corrupt bitmap page, pageid = "},
    {-50, kFlagD | kFlagV, ", table root entry not found, tableid = "},
    {-55, 0, "Internal inconsistency detected"},
    {-56, kFlagD | kFlagV, ", no end of table mark found for tableid = "},
    {-57, kFlagD, " already OFFLINE"},
    {-59, kFlagD | kFlagV, ", result of bitmap page I/O undefined, pageid = "},
    {-60, kFlagD | kFlagV, ", result of index page I/O undefined, pageid = "},
    {-61, kFlagD | kFlagV, ", result of root page I/O undefined, pageid = "},
    {-62, kFlagD | kFlagV, ", result of data page I/O undefined, pageid = "},
    {-63, kFlagD | kFlagV, ", corrupt index page, pageid = "},
    {-64, kFlagD | kFlagV, ", corrupt root page, pageid = "},
    {-65, kFlagD | kFlagV, ", corrupt data page, pageid = "},
    {-66, kFlagD | kFlagV, ", write set corrupt, FCODE = "},
    {-67, kFlagD | kFlagV, ", record length invalid = "},
    {-71, kFlagD, " not properly closed, dbcheck initiated"},
    {-72, 0, "TRANSDB restart directory corrupt"},
    {-73, kFlagD | kFlagO | kFlagV, ", file close error, channel = "},
    {-74, 0, "Blockdata DKBLK1 not included"},
    {-75, 0, "Error accessing remote TRANSDB, node will not be accessed further"},
    {-76, kFlagV, "Blocksize not supported, bytecount = "},
    {-77, kFlagV, "Could not generate unique value, conversion code ="},
    {-81, kFlagO, "Lost contact with peer"},
    {-82, kFlagD | kFlagV, ", update before record length invalid, tableid = "},
    {-83, kFlagD | kFlagV,
     ", a record being updated was changed since read for update.  Tableid = "},
    {-84, kFlagV, "Transaction state table entries exhausted, limit = "},
    {-85, kFlagV, "Transaction state identifier invalid, TSS = "},
    {-86, kFlagV, "Invalid function code, value = "},
    {-87, kFlagD | kFlagV, ", commit set corrupt, value = "},
    {-88, kFlagD | kFlagV, ", restart set corrupt, value = "},
    {-89, 0, "Cancel requested"},
    {-90, kFlagD | kFlagV, ", transaction cache inconsistent, TBL = "},
    {-91, kFlagD, " is inaccessible due to incomplete CREATE SHADOW or SET ONLINE operation"},
    {-92, 0, "The system databank has not been upgraded to the current version"},
    {-94, 0, "The database server request timed out"},
    {-95, kFlagV, "There are pending distributed transactions, count = "},
};

constexpr CodeText kUnknownCode = {0, 0, "Unknown error message text..."};

const CodeText& Lookup(int32_t rc) {
  for (const CodeText& c : kCodeTexts)
    if (c.rc == rc) return c;
  return kUnknownCode;
}

struct SeverityTag {
  const char* tag;
  int kind;
};

SeverityTag TagOf(int32_t severity) {
  switch (severity) {
    case DK_SEV_INFO:
      return {"   <Information>", 1};
    case DK_SEV_ERROR:
    case DK_SEV_DISABLE:
    case DK_SEV_DISABLE_REPEATED:
      return {"   <Error>", 3};
    case DK_SEV_FATAL:
    case DK_SEV_FATAL_REPEATED:
      return {"   <Fatal error>", 5};
    case DK_SEV_INTERNAL:
      return {"   <Internal error>", 4};
    default:
      return {"   <Unknown type>", 99};
  }
}

std::string HeaderLine(int32_t severity) {
  char t[16];
  mdr_local_time_text(t);  // YYYYMMDDhhmmssff
  std::string s;
  s.append(t, 4).append("-").append(t + 4, 2).append("-").append(t + 6, 2).append(" ");
  s.append(t + 8, 2).append(":").append(t + 10, 2).append(":").append(t + 12, 2);
  s.append(".").append(t + 14, 2);
  return s + TagOf(severity).tag;
}

// Bytes of the area from byte `byte`, at most `max`, cut at a NUL and
// without trailing blanks.
std::string PoolText(int32_t word, int32_t max) {
  if (!BufferpoolHolds(word, (max + 3) / 4)) return {};
  const char* p = reinterpret_cast<const char*>(Bufferpool() + word);
  std::string s(p, strnlen(p, static_cast<size_t>(max)));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string DatabaseName() {
  if (!Bufferpool()) return {};
  int32_t n = std::clamp(Bufferpool()[BP_DBNAME_LENGTH], 0, BP_DBNAME_BYTES);
  return PoolText(BP_DBNAME, n);
}

std::string DatabankLabel(int32_t entry) {
  const char* kind = Bufferpool()[entry + DBE_KIND] == DBE_KIND_SHADOW ? "Shadow " : "Databank ";
  return kind + PoolText(entry + DBE_NAME, DBE_NAME_BYTES);
}

// Writes `lines` as one record of at most 500 bytes, each line zero-ended.
void WriteRecord(const std::vector<std::string>& lines, int kind) {
  constexpr size_t kArea = 500;
  char area[kArea];
  size_t used = 0;
  int count = 0;
  for (const std::string& line : lines) {
    if (used + 1 >= kArea) break;
    size_t n = std::min(line.size(), kArea - used - 1);
    memcpy(area + used, line.data(), n);
    area[used + n] = 0;
    used += n + 1;
    ++count;
  }
  StatusPair status;
  WriteServerOutput(&status, kind, area, count);
}

// Holds the log lock; given back on every way out, also when writing a
// record throws, so that no other reporter is left waiting on it.
class LogLockHold {
 public:
  explicit LogLockHold(bool take) : held_(take) {
    if (held_) DKLock(BP_LOCK_LOG);
  }
  ~LogLockHold() { Release(); }
  LogLockHold(const LogLockHold&) = delete;
  LogLockHold& operator=(const LogLockHold&) = delete;
  void Release() {
    if (held_) DKUnlock(BP_LOCK_LOG);
    held_ = false;
  }

 private:
  bool held_;
};

}  // namespace

const char* DKReturnCodeText(int32_t rc) {
  return Lookup(rc).text;
}

void DKReportError(int32_t index, int32_t rc, int32_t severity, const void* value, int32_t word) {
  int32_t context[DKCTX_WORDS] = {word, 0, 0, 0, -1};
  DKLogError(index, rc, severity, value, context);
}

void DKLogError(int32_t index, int32_t rc, int32_t severity, const void* value,
                const int32_t* context) {
  const int32_t ctx_value = context ? context[DKCTX_VALUE] : 0;
  const int32_t ctx_os = context ? context[DKCTX_OS_ERROR] : -1;
  const CodeText& code = Lookup(rc);
  const bool pool = Bufferpool() != nullptr;
  const bool on_databank = pool && DKIsDatabankEntry(ctx_value);
  const int kind = TagOf(severity).kind;

  LogLockHold log_lock(pool);
  std::vector<std::string> lines;
  lines.push_back(HeaderLine(severity));

  if ((severity == DK_SEV_DISABLE || severity == DK_SEV_DISABLE_REPEATED) && on_databank) {
    std::atomic_ref<int32_t> error(Bufferpool()[ctx_value + DBE_ERROR]);
    int32_t seen = error.load();
    // Only the first error disables; a databank already disabled keeps its
    // first code and gets no second notice.
    while (seen >= 0 && !error.compare_exchange_weak(seen, rc)) {
    }
    if (seen >= 0) {
      WriteRecord({lines[0], "Fatal databank error in ZAVOR/DB database " + DatabaseName(),
                   DatabankLabel(ctx_value) + " has been disabled"},
                  kind);
      lines.clear();
    }
  }

  std::string kernel_line =
      "ZAVOR/DB kernel error " + std::to_string(rc - DK_SQL_ERROR_BASE) + " in function ";
  std::string_view name = DKRoutineName(index);
  kernel_line += name.empty() ? std::to_string(index) : std::string(name);
  lines.push_back(kernel_line);

  if (severity == DK_SEV_DISABLE_REPEATED || severity == DK_SEV_FATAL_REPEATED) {
    lines.push_back("Repeated error message, please see previous message for an explanation");
  } else {
    std::string line;
    if ((code.flags & kFlagD) && on_databank) line = DatabankLabel(ctx_value);
    if ((code.flags & kFlagF) && value) {
      const char* file = static_cast<const char*>(value);
      std::string f(file, strnlen(file, 256));
      while (!f.empty() && f.back() == ' ') f.pop_back();
      lines.push_back(line + ", filename " + f);
      line.clear();
    }
    line += code.text;
    if (code.flags & kFlagV) {
      int32_t v = DKBLK1_NO_VALUE;
      if (value) memcpy(&v, value, sizeof v);
      line += std::to_string(v);
    }
    lines.push_back(line);
    if ((code.flags & kFlagO) && ctx_os != -1) {
      lines.push_back(", OS error message:");
      lines.push_back("'" + os_status_string(ctx_os).substr(0, 79) + "'");
    }
  }
  WriteRecord(lines, kind);

  int reason = 0;
  if (severity != DK_SEV_INFO && pool) PoolWord(BP_ERROR_COUNT).fetch_add(1);
  if (severity == DK_SEV_FATAL || severity == DK_SEV_FATAL_REPEATED) {
    reason = 3;
  } else if (severity < DK_SEV_INFO || severity > DK_SEV_FATAL_REPEATED) {
    reason = 4;
  }
  if (reason != 0) {
    if (pool) PoolWord(BP_STATUS).store(BP_STATUS_ERROR);
    WriteRecord({(reason == 3 ? "Unrecoverable error in ZAVOR/DB database "
                              : "Unrecoverable internal error in ZAVOR/DB database ") +
                     DatabaseName(),
                 "Multiuser system terminated"},
                kind);
  }
  log_lock.Release();
  if (reason != 0) RaiseServerException(reason);
}
