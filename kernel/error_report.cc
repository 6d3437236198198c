// The message log writer and the kernel error report. Both build their lines
// on the caller's stack and hand them to the server output in one call, so
// any number of threads may log at once.
#include "kernel/error_report.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/bytes.h"
#include "platform/host_services.h"
#include "platform/number_text.h"
#include "platform/os_status.h"
#include "platform/server_clock.h"
#include "platform/text_buffer.h"

namespace {

struct Severity {
  const char* tag;
  const char* word;
  bool code_in_report;
};

constexpr Severity kSeverities[] = {
    {"   <Unknown type>", "server message", false},
    {"   <Information>", "server information", false},
    {"   <Warning>", "server warning", true},
    {"   <Error>", "server error", true},
    {"   <Internal error>", "server error", true},
    {"   <Fatal error>", "server error", true},
    {"   <Audit>", "server audit", false},
    {"   <Trace>", "server trace", false},
    {"   <Alert>", "server alert", false},
};

const Severity& severity_of(int32_t severity) {
  return kSeverities[severity >= 1 && severity <= 8 ? severity : 0];
}

struct ErrorText {
  int32_t error;
  const char* text;
};

constexpr ErrorText kFirstLines[] = {
    {-18001, "Blockdata DSBLK2 has not been included"},
    {-11002, "Internal DB dynamic storage area (SQLPOOL) exhausted"},
    {-19078, "Invalid parameter encountered in MOS"},
    {-19050, "Catalog version not compatible with server"},
    {-18518, "Catalog version from betatest. See Release Notes, how to upgrade."},
    {-19087, "Connection is already attached to a DBS control block"},
    {-19008, "Unable to open table ZAVOR.INDEXCOL"},
    {-16001, "Table locked by other user"},
    {-18901, "Multiuser system not started"},
    {-18902, "ZAVOR logins are currently disabled, try again later"},
    {-18903, "Access denied to ZAVOR multiuser system"},
    {-18904, "Unable to attach to multiuser system, no response"},
    {-14002, "SQL statement invalid because the user is not connected"},
    {-19040, "Invalid internal system identifier"},
    {-18009, "Embedded SQL and ZAVOR/DB versions are incompatible,"},
    {-19080, "Thread initialization failure"},
    {-19113, "Invalid parameter value encountered"},
    {-19111, "STMs for called statements remaining after disconnect"},
    {-19112, "Release of statements terminated due to error <%>"},
    {-18906, "Invalid database path"},
    {-16141, "Databank <%>, syntax error in filename"},
    {-16142, "Databank <%>, file <%> not found "},
    {-16143, "Databank <%>, file <%>, file protection violation"},
    {-16144, "Databank <%>, file <%> locked by other user "},
    {-16145, "Too many concurrently opened databanks (MDRDAO)"},
    {-16146, "File create error, disk full"},
    {-16147, "Databank <%>, file <%>, direct access I/O error -7,"},
    {-16148, "Databank <%>, file <%>, direct access I/O error -8,"},
    {-16149, "Databank <%>, file <%>, direct access I/O error -9,"},
    {-16151, "Too many databanks concurrently open"},
    {-16152, "Tried to open a non-ZAVOR databank "},
    {-16154, "Too many tables concurrently open"},
    {-16155, "Incompatible version of databank <%>"},
    {-16156, "The databank <%> belongs to some other system databank"},
    {-16161, "Databank <%> disk space exhausted"},
    {-16162, "Databank LOGDB disk space exhausted "},
    {-16163, "Databank TRANSDB disk space exhausted"},
    {-16164, "Databank SQLDB disk space exhausted"},
    {-16172, "Databank <%> locked by other ZAVOR/DB user"},
    {-16182, "Databank <%> corrupt"},
    {-16184, "I/O error"},
    {-16232, "The system databank has not been upgraded to the current version"},
    // The client's connection set-up; the client library shares these.
    {-18920, "Unable to communicate with the database server (CallNamedPipes failed)."},
    {-18921, "A system call failed due to insufficient access rights."},
    {-18922, "Out of communication buffers. Database server configured for too few users."},
    {-18923, "Invalid function code passed in connect (Internal error)."},
    {-18925, "The communication buffer is not in a valid state (Internal error)."},
    {-18926, "The database server could not open a handle for the client process."},
    {-18927, "The client process could not map the shared memory communication buffer."},
    {-18928, "The database server could not duplicate handles for the client process use."},
    {-18929, "Named pipe busy and an error occurred when waiting for it to become free."},
    {-18930, "Unable to map shared memory into address space of client process."},
    {-18931, "Unable to map shared memory used to setup communication with database server."},
    {-18932, "Unable to open mutex object when connecting to database server."},
    {-18933, "Unable to open event object when connecting to database server."},
    {-18934, "Unable to wait for mutex object when connecting to database server."},
    {-18935, "Unable to set event object when connecting to database server."},
    {-18936, "Error waiting for response from database server during setup phase."},
    {-18937, "Unable to release mutex object after database server communication setup."},
};

constexpr ErrorText kSecondLines[] = {
    {-18009, "please preprocess source code"},
    {-16147, "please refer to user's guide for an explanation"},
    {-16148, "please refer to user's guide for an explanation"},
    {-16149, "please refer to user's guide for an explanation"},
};

// The rest of the connection set-up range shares one text.
constexpr int32_t kMachineDependentFirst = -18939;
constexpr int32_t kMachineDependentLast = -18920;

bool printable(unsigned char c) {
  return (c >= 32 && c <= 126) || c >= 160;
}

// The lines of one log entry, each ended by a zero byte, and the room left
// on the line being written.
class LineArea {
 public:
  void put(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(p[i]);
      area_.push_back(printable(c) ? char(c) : '^');
    }
    room_ -= int32_t(n);
    open_ = true;
    separator_ = false;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  // The blank that follows every item. It stays where an item 0 or a wrap
  // before a value ends the line; only the entry's very last one becomes
  // the end of the last line (finish).
  void put_separator() {
    area_.push_back(' ');
    room_ -= 1;
    open_ = true;
    separator_ = true;
  }
  void end_line() {
    area_.push_back('\0');
    ++lines_;
    room_ = LOG_LINE_WIDTH;
    open_ = false;
    separator_ = false;
  }
  // Ends the last line unless an item 0 has just ended it; the blank after
  // the last item is replaced by that end.
  void finish() {
    if (!open_) return;
    if (separator_) area_.pop_back();
    end_line();
  }
  int32_t room() const { return room_; }
  int32_t lines() const { return lines_; }
  const char* data() const { return area_.c_str(); }

 private:
  std::string area_;
  int32_t room_ = LOG_LINE_WIDTH;
  int32_t lines_ = 0;
  bool open_ = false;
  bool separator_ = false;
};

void put_text_item(LineArea& out, const char* p, size_t t) {
  while (t > 0 && p[t - 1] == ' ') --t;
  while (int64_t(t) + 1 > out.room()) {
    const size_t room = size_t(std::max(out.room(), 0));
    size_t cut = room;
    size_t skip = 0;
    for (size_t i = room; i-- > 0;) {
      if (p[i] == ' ') {
        cut = i;
        skip = 1;
        break;
      }
    }
    out.put(p, cut);
    out.end_line();
    p += cut + skip;
    t -= cut + skip;
  }
  out.put(p, t);
  out.put_separator();
}

// A value in decimal in up to 10 places, or the mark of a value that has no
// such text.
std::string value_text(int32_t v) {
  uint8_t field[10];
  const int32_t rc = mdr_int_to_text(field, 0, 10, v);
  if (rc == -1) return "<UNDEFINED>";
  if (rc != 0) return "<OVERFLOW>";
  const std::string_view text(reinterpret_cast<const char*>(field), sizeof field);
  return std::string(text.substr(text.find_first_not_of(' ')));
}

void put_value_item(LineArea& out, const int32_t* values, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    const std::string v = value_text(values[i]);
    if (int32_t(v.size()) + 2 > out.room()) out.end_line();
    out.put(v);
    if (i + 1 < n) out.put(",");
    out.put_separator();
  }
}

// Local date and time as "yyyy-mm-dd hh:mm:ss.hh".
std::string time_stamp() {
  char digits[16];
  mdr_local_time_text(digits);
  const std::string_view d(digits, 16);
  std::string stamp;
  stamp.reserve(22);
  stamp.append(d.substr(0, 4)).append("-").append(d.substr(4, 2)).append("-");
  stamp.append(d.substr(6, 2)).append(" ").append(d.substr(8, 2)).append(":");
  stamp.append(d.substr(10, 2)).append(":").append(d.substr(12, 2)).append(".");
  stamp.append(d.substr(14, 2));
  return stamp;
}

const char* find_text(const ErrorText* table, size_t count, int32_t error) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].error == error) return table[i].text;
  return nullptr;
}

// A report under construction: lines in a 500-byte area, appends clipped at
// its end.
class ReportArea {
 public:
  static constexpr int32_t kSize = 500;
  static constexpr size_t kMaxLines = 7;

  void new_line() {
    trim();
    if (count_ < kMaxLines) starts_[count_++] = used_;
  }
  void append(std::string_view s) {
    textbuf_put_bytes(area_, &used_, kSize,
                      ConstByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0,
                      int32_t(s.size()));
  }
  void append_int(int32_t value) { textbuf_put_int(area_, &used_, kSize, value); }
  void append_int_width(int32_t value, int32_t width) {
    textbuf_put_int_width(area_, &used_, kSize, width, value);
  }
  // Length of the last line without trailing blanks.
  int32_t last_length() const {
    int32_t end = used_;
    while (end > starts_[count_ - 1] && area_[end - 1] == ' ') --end;
    return end - starts_[count_ - 1];
  }
  size_t lines() const { return count_; }
  void trim() {
    if (count_ > 0) used_ = starts_[count_ - 1] + last_length();
  }
  void log(int32_t severity) {
    trim();
    int32_t items[2 * kMaxLines];
    int32_t n = 0;
    for (size_t i = 0; i < count_; ++i) {
      const int32_t end = i + 1 < count_ ? starts_[i + 1] : used_;
      if (end == starts_[i]) continue;  // a line clipped away entirely
      if (n > 0) items[n++] = 0;
      items[n++] = end - starts_[i];
    }
    StatusPair st;
    DSLogMsg(&st, severity, reinterpret_cast<const char*>(area_), nullptr, items, n);
  }

 private:
  uint8_t area_[kSize];
  int32_t used_ = 0;
  int32_t starts_[kMaxLines] = {};
  size_t count_ = 0;
};

}  // namespace

void DSLogMsg(StatusPair* status, int32_t severity, const char* text, const int32_t* values,
              const int32_t* items, int32_t item_count) {
  LineArea out;
  const std::string stamp = time_stamp() + severity_of(severity).tag;
  out.put(stamp);
  out.end_line();
  size_t text_at = 0;
  size_t value_at = 0;
  for (int32_t i = 0; i < item_count; ++i) {
    const int64_t item = items[i];
    if (item == 0) {
      out.end_line();
    } else if (item > 0) {
      put_text_item(out, text + text_at, size_t(item));
      text_at += size_t(item);
    } else {
      put_value_item(out, values + value_at, -item);
      value_at += size_t(-item);
    }
  }
  out.finish();
  WriteServerOutput(status, severity, out.data(), out.lines());
  // Severities 4, 5 and 8 also pass the event-log step, which does nothing
  // on this server: it keeps no system event log.
  if (severity == SEV_INTERNAL || severity == SEV_FATAL || severity == SEV_ALERT) {
    int32_t event_status = 0;
    mdr_noop_clear(&event_status, severity, out.lines());
  }
  if (severity == SEV_INTERNAL) RaiseServerException(4);
  if (severity == SEV_FATAL) RaiseServerException(3);
}

void DSLogMsgShort(StatusPair* status, int32_t severity, const char* text, const int32_t* values,
                   int32_t item) {
  DSLogMsg(status, severity, text, values, &item, 1);
}

void DSLogText(const char* text, int32_t length) {
  LineArea out;
  out.put(text, size_t(std::max(length, 0)));
  StatusPair st;
  WriteServerOutput(&st, SEV_TRACE, out.data(), -1);
}

void DSErrText(int32_t* request, char* area, int32_t position, int32_t* length) {
  *length = 0;
  const int32_t line = request[0];
  const int32_t error = request[2];
  request[0] = ERRTEXT_NO_LINE;
  if (request[1] != 1 || request[3] != 1) return;
  std::string text;
  if (line == 1) {
    if (const char* t = find_text(kFirstLines, std::size(kFirstLines), error)) {
      text = t;
    } else if (error >= kMachineDependentFirst && error <= kMachineDependentLast) {
      uint8_t number[6];
      mdr_int_to_text(number, 0, 6, error);
      text = "Machine  dependent error ";
      text.append(reinterpret_cast<const char*>(number), sizeof number);
      text += ", refer to release notes for an explanation";
    }
  } else if (line == 2) {
    if (const char* t = find_text(kSecondLines, std::size(kSecondLines), error)) text = t;
  }
  if (text.empty()) return;
  std::memset(area + position, ' ', LOG_LINE_WIDTH);
  std::memcpy(area + position, text.data(), std::min<size_t>(text.size(), LOG_LINE_WIDTH));
  *length = LOG_LINE_WIDTH;
  request[0] = 0;
}

void DSErrReport(const char* routine, int32_t routine_length, int32_t error, int32_t severity,
                 const int32_t* values, int32_t value_count, int32_t flags) {
  ReportArea report;
  const Severity& sev = severity_of(severity);
  report.new_line();
  report.append("ZAVOR/DB ");
  report.append(sev.word);
  if (sev.code_in_report) {
    report.append(" ");
    report.append_int(error);
  }
  if (routine_length > 0) {
    report.append(" in function ");
    report.append(std::string_view(routine, size_t(routine_length)));
  }

  for (int32_t line = 1; line <= 2; ++line) {
    int32_t request[4] = {line, 1, error, 1};
    char text[LOG_LINE_WIDTH];
    int32_t length = 0;
    DSErrText(request, text, 0, &length);
    if (request[0] != 0) continue;
    report.new_line();
    report.append(std::string_view(text, size_t(length)));
  }

  if ((flags & ERRREP_OS_STATUS) && value_count >= 1 && values[0] != -1) {
    if (report.last_length() < 60) {
      report.trim();
      report.append(", OS error message:");
    } else {
      report.new_line();
      report.append("OS error message:");
    }
    char text[LOG_LINE_WIDTH + 1];
    text[0] = '\'';
    int32_t rc = 0;
    int32_t length = 0;
    os_status_text(&rc, text, 1, &length, LOG_LINE_WIDTH - 1, values[0]);
    if (rc == -2 && length >= 3) std::memcpy(text + 1 + length - 3, "...", 3);
    text[1 + length] = '\'';
    report.new_line();
    report.append(std::string_view(text, size_t(length) + 2));
  }

  if ((flags & ERRREP_VALUES) && value_count >= 1) {
    const bool short_line = report.last_length() < 48;
    if (value_count == 1) {
      if (short_line) {
        report.trim();
        report.append(". Parameter value = ");
        report.append_int(values[0]);
        report.append(".");
      } else {
        report.new_line();
        report.append("Parameter value = ");
        report.append_int(values[0]);
      }
    } else {
      if (short_line) {
        report.trim();
        report.append(". Parameter values:");
      } else {
        report.new_line();
        report.append("Parameter values:");
      }
      bool values_line = false;
      for (int32_t i = 0; i < value_count; ++i) {
        if (!values_line || report.last_length() > 68) {
          if (report.lines() >= ReportArea::kMaxLines) break;
          report.new_line();
          values_line = true;
        }
        report.append_int_width(values[i], 12);
      }
    }
  }
  report.log(severity);
}

void DSErrRep(const char* routine, int32_t routine_length, int32_t error, int32_t severity) {
  DSErrReport(routine, routine_length, error, severity, nullptr, 0, 0);
}

void DSErrRep2(const char* routine, int32_t routine_length, int32_t error, int32_t severity,
               const int32_t* values, int32_t value_count) {
  DSErrReport(routine, routine_length, error, severity, values, value_count, ERRREP_VALUES);
}

void DSErrParm(int32_t mode, int32_t* base, int32_t usr, int32_t* vector) {
  int32_t* rvec = &sqlpool_word(base, int64_t{usr} + USR_RVEC_RCODE);
  if (mode == 0 && vector[0] == 0) std::memcpy(vector, rvec, RVEC_WORDS * 4);
  if (mode == 1 && vector[0] != 0) std::memcpy(rvec, vector, RVEC_WORDS * 4);
}
