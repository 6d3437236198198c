// The communication error table and its text filling.
#include "platform/comm_errors.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

struct CommError {
  int32_t code;
  int32_t flags;  // bits 1, 2, 4, 8: which of the four values the text takes
  char sqlstate[6];
  const char* text;
};

constexpr CommError kCommErrors[] = {
    {-21001, 8, "S1000", "Already listening on service %"},
    {-21002, 0, "08001", "Error trying to ASSIGN channel for TCP/IP communication"},
    {-21003, 0, "08001", "Error when creating socket"},
    {-21004, 8, "08001", "Error when binding socket address for service %"},
    {-21005, 8, "08001", "Error when getting port number for service %"},
    {-21006, 4, "08001", "Illegal protocol specified: %"},
    {-21007, 2, "08001", "Error when looking up host name: %"},
    {-21008, 15, "08001", "Error when connecting to database % on % using % to service %"},
    {-21009, 0, "08S01", "Illegal channel id specified"},
    {-21010, 0, "08S01", "Error when reading data from network channel"},
    {-21011, 0, "08S01", "Error when writing data to network channel"},
    {-21012, 0, "08S01", "Channel is not open"},
    {-21013, 0, "08S01", "Channel is not accessible from this process"},
    {-21014, 0, "08001", "Error when creating mailbox"},
    {-21015, 8, "S1000", "Error when declaring network object for service %"},
    {-21016, 0, "S1000", "Unimplemented feature"},
    {-21017, 0, "S1000", "Error when accepting new channel"},
    {-21018, 9, "S1000", "Error when doing local listen for database % on path %"},
    {-21019, 0, "S1000", "Too many channels used"},
    {-21020, 0, "08S01", "Multiple read requests on channel"},
    {-21021, 0, "08S01", "Multiple write requests on channel"},
    {-21022, 0, "08S01", "Local write when not owning buffer"},
    {-21023, 0, "08S01", "Cancel request illegal on channel"},
    {-21024, 0, "08001", "No available channel id number"},
    {-21025, 0, "08001", "Tried to open too many local servers"},
    {-21026, 1, "08004", "Database server for database % not running"},
    {-21027, 0, "08001", "Incompatible buffer versions"},
    {-21028, 1, "08001", "Failed to do a LOCAL connection to the server for database %"},
    {-21029, 0, "08S01", "Illegal reentrant request on channel"},
    {-21030, 0, "S1000", "Network request would block caller"},
    {-21031, 0, "08S01", "Too large network I/O requested"},
    {-21032, 0, "08001", "Could not find DSINI4 in single-user library"},
    {-21033, 0, "08001", "Could not find DSHND4 in single-user library"},
    {-21034, 0, "08001", "Could not find DSGMD4 in single-user library"},
    {-21035, 0, "08001", "Could not find DSUMP4 in single-user library"},
    {-21036, 0, "08S01", "The channel is closed"},
    {-21037, 0, "08001", "The specified network interface is not supported"},
    {-21038, 0, "S1000", "Could not lock communication buffers in memory"},
    {-21039, 0, "08001", "Error trying to ASSIGN channel for DECNET communication"},
    {-21040, 0, "08001", "Could not map library for single-user mode"},
    {-21041, 0, "08001", "Could not initialize CK package"},
    {-21042, 0, "08001", "Error when performing initial communication with database server"},
    {-21043, 15, "08004", "Server rejected connection to database % on % using % to service %"},
    {-21044, 1, "08004", "Server rejected named pipe connection to database %"},
    {-21045, 0, "08004", "The address family for network protocol was unknown"},
    {-21046, 0, "S1000", "Error when creating named pipe server objects"},
    {-21047, 0, "S1000", "Error when setting up TCP server objects"},
    {-21048, 0, "08S01", "Unexpected communication error"},
    {-21049, 0, "08S01", "Error when reading/writing data to/from network channel"},
    {-21050, 0, "S1000", "Error when closing communication with database server"},
    {-21051, 0, "08001", "All local communication slots are in use"},
    {-21052, 0, "S1000", "Database server request failed"},
    {-21053, 15, "08001",
     "Database or network service not started. Error when connecting to database % on % using % to "
     "service %"},
    {-21054, 1, "08001", "Database server for database % not started"},
    {-21055, 10, "08001",
     "The ZAVOR network service on % for % does not currently accept new connections. Try again "
     "later"},
    {-21056, 1, "08004", "Local communication has been disabled for database server %"},
    {-21057, 1, "08004", "Named pipe communication has not been enabled for database server %"},
    {-21058, 1, "08004", "TCP/IP communication has not been enabled for database server %"},
    {-21100, 0, "S1000", "Command timed out"},
    {-21101, 0, "S1000", "Error mapping ZCS (ZAVOR Control Storage)"},
    {-21102, 0, "S1000", "Error when doing system communication through the ZCS"},
    {-21103, 0, "S1000", "ZCS communication area is busy. Try again later."},
    {-21104, 1, "S1000", "Server for database % is already started"},
    {-21105, 0, "S1000", "Illegal directory specified for the SYSDB file"},
    {-21106, 0, "S1000", "Error in parameter file"},
    {-21107, 0, "S1000", "Error when starting database server process"},
    {-21108, 0, "S1000", "Error when looking up database name"},
    {-21109, 0, "S1000", "Error when creating memory pool in database server"},
    {-21110, 0, "S1000", "Could not allocate space from SQLPool"},
    {-21111, 0, "S1000", "Error when initiating the ENQ/DEQ package"},
    {-21112, 0, "S1000", "Error when attaching a thread to the ENQDEQ area"},
    {-21113, 0, "S1000", "Error when initiating server I/O package"},
    {-21114, 0, "S1000", "Error when setting default directory for database server I/O package"},
    {-21115, 0, "S1000", "Could not start database server thread"},
    {-21116, 0, "S1000", "Protocol error - received new request before completion of last request"},
    {-21117, 0, "S1000", "Could not create proper execution environment"},
    {-21118, 0, "S1000", "Database server not operational"},
    {-21119, 0, "S1000", "Notification thread failed. Server can no longer respond to zavcontrol."},
    {-21120, 0, "S1000", "Illegal directory path"},
    {-21121, 0, "S1000", "Could not create new directory"},
    {-21122, 0, "S1000", "Channel closed by administrator"},
    {-21123, 0, "S1000", "Invalid channel number specified"},
    {-21124, 0, "S1000", "Error when initiating request (rq) queue"},
    {-21125, 0, "S1000", "Could not lock the bufferpool in memory"},
    {-21126, 0, "S1000", "Database server halted. Failed to generate automatic database dumps."},
    {-21127, 8, "S1000",
     "Database server halted. Dump files from the failed database are placed under %"},
    {-21128, 0, "S1000", "Error when stopping database server process."},
    {-21129, 0, "S1000", "Error when deleting memory pool in database server"},
    {-21130, 0, "S1000", "Error getting database server parameters"},
    {-21131, 0, "S1000", "Must be superuser to perform this function"},
    {-21132, 0, "S1000",
     "The environment variable ZAVOR_HOME must point to the ZAVOR distribution"},
    {-21133, 0, "S1000", "An illegal combination of command switches was specified"},
    {-21134, 0, "S1000", "The database parameter must be specified"},
    {-21135, 0, "S1000", "Permission denied"},
    {-21136, 0, "S1000", "Bad network packet length. Channel was dropped."},
    {-21180, 0, "08001", "Error opening SQLHOSTS file"},
    {-21181, 0, "08001", "Error opening SQLHOSTS file - file name syntax error"},
    {-21182, 0, "08001", "Error opening SQLHOSTS file - file not found"},
    {-21183, 0, "08001", "Error opening SQLHOSTS file - file protection violation"},
    {-21184, 0, "08001", "Error opening SQLHOSTS file - file is locked"},
    {-21185, 0, "08001", "Error opening SQLHOSTS file - too many files are opened"},
    {-21186, 0, "08001", "Error opening SQLHOSTS file - file creation error (diskspace exhausted)"},
    {-21187, 0, "08001", "Error opening SQLHOSTS file - machine dependent code -7"},
    {-21188, 0, "08001", "Error opening SQLHOSTS file - machine dependent code -8"},
    {-21189, 0, "08001", "Error opening SQLHOSTS file - other error"},
    {-21190, 0, "08001", "Error opening SQLHOSTS file - illegal access option"},
    {-21191, 0, "08001", "Could not find a local definition for the specified database name"},
    {-21200, 0, "S1000", "Error when creating dumpfile"},
    {-21201, 0, "S1000", "Error when writing dumpfile"},
    {-21202, 0, "S1000", "Error when creating link to logfile"},
    {-21300, 0, "S1000", "Too large network buffer requested on client side"},
    {-21400, 0, "S1000", "Illegal file name"},
    {-21401, 0, "S1000", "File not found"},
    {-21402, 0, "S1000", "File protection violation"},
    {-21403, 0, "S1000", "File was locked"},
    {-21404, 0, "S1000", "The file could not be opened since a system resource was exhausted"},
    {-21405, 0, "S1000", "The disk space is exhausted"},
    {-21406, 0, "S1000", "The file is not open"},
    {-21407, 0, "S1000", "Read not allowed on file"},
    {-21408, 0, "S1000", "Write not allowed on file"},
    {-21410, 0, "S1000", "Illegal argument"},
    {-21411, 0, "S1000", "Illegal character"},
    {-21412, 0, "S1000", "Memory allocation error"},
    {-21499, 0, "S1000", "Unspecified error"},
};

constexpr int32_t kEntries = static_cast<int32_t>(sizeof kCommErrors / sizeof kCommErrors[0]);
constexpr int32_t kValueMax = 160;

const CommError* find_entry(int32_t code) {
  for (const auto& e : kCommErrors) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

std::string_view trim_right(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::string_view value_of(const CommErrorValue* values, int i) {
  if (values == nullptr || values[i].text == nullptr || values[i].length < 1) return {};
  size_t n = static_cast<size_t>(std::min(values[i].length, kValueMax));
  return trim_right(std::string_view(values[i].text, n));
}

// The room of the caller's area at `offset`, cut to `limit`; 0 when the
// offset lies outside the area or the limit is below 1.
size_t room_of(std::span<char> area, int32_t offset, int32_t limit) {
  if (offset < 0 || limit < 1 || static_cast<size_t>(offset) >= area.size()) return 0;
  return std::min(static_cast<size_t>(limit), area.size() - static_cast<size_t>(offset));
}

int32_t put(std::span<char> area, int32_t offset, int32_t limit, std::string_view s) {
  const size_t n = std::min(s.size(), room_of(area, offset, limit));
  if (n > 0) memcpy(area.data() + offset, s.data(), n);
  return static_cast<int32_t>(n);
}

}  // namespace

void comm_error_lookup(std::span<char> area, int32_t offset, int32_t limit, int32_t* length,
                       char* sqlstate, int32_t* flags, int32_t code) {
  const CommError* e = find_entry(code);
  if (e == nullptr) {
    *length = -1;
    return;
  }
  if (sqlstate) memcpy(sqlstate, e->sqlstate, 5);
  if (flags) *flags = e->flags;
  *length = put(area, offset, limit, trim_right(e->text));
}

void comm_error_text(std::span<char> area, int32_t offset, int32_t limit, int32_t* length,
                     int32_t code, char* sqlstate, const CommErrorValue* values) {
  *length = 0;
  if (code < -21999 || code > -21000) return;
  const CommError* e = find_entry(code);
  if (e == nullptr) return;
  if (sqlstate) memcpy(sqlstate, e->sqlstate, 5);
  std::string out(trim_right(e->text));
  // The search for the next mark starts behind the value put in last, so that
  // a "%" inside a value is never taken for a mark.
  size_t from = 0;
  for (int bit = 0; bit < 4; ++bit) {
    if ((e->flags & (1 << bit)) == 0) continue;
    size_t mark = out.find('%', from);
    if (mark == std::string::npos) continue;
    std::string_view v = value_of(values, bit);
    if (v.empty()) {
      out.erase(mark, 2);
      from = mark;
    } else {
      out.replace(mark, 1, v);
      from = mark + v.size();
    }
  }
  *length = put(area, offset, limit, trim_right(out));
}

int32_t comm_error_next(int32_t* code, std::span<char> sqlstate, int32_t offset, int32_t* cursor) {
  if (*cursor < 0 || *cursor >= kEntries) return 1;
  const CommError& e = kCommErrors[*cursor];
  *code = e.code;
  if (offset >= 0 && static_cast<size_t>(offset) <= sqlstate.size() &&
      sqlstate.size() - static_cast<size_t>(offset) >= 5) {
    memcpy(sqlstate.data() + offset, e.sqlstate, 5);
  }
  ++*cursor;
  return 0;
}
