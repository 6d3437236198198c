// Services the server process gives to the layers below it: log output,
// the server exception, operating-system messages, registry lookups, the
// operating-system version and channel facts. The layers below call the free
// functions; the server process installs its own implementation at start,
// tests install a capturing one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/status.h"

// The server's software exception: raised by RaiseServerException, caught at
// a server thread's entry, which logs, asks for a dump and ends the server.
class ServerException : public std::exception {
 public:
  explicit ServerException(int reason);
  int reason() const { return reason_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int reason_;
  std::string what_;
};

// Facts about one communication channel, as connect needs them. A channel the
// services do not know gives zeros.
struct CommChannelInfo {
  int32_t type = 0;
  int32_t max_send = 0;
  int32_t max_receive = 0;
  char node[128] = {};
  int32_t node_length = 0;
  bool local = false;
};

// The operating-system version record; callers set `size` to 148 first.
struct OsVersionInfo {
  int32_t size = 148;
  int32_t major = 0;
  int32_t minor = 0;
  int32_t build = 0;
  int32_t platform_id = 0;  // 2 and up: the NT family
  char service_pack[128] = {};
};
static_assert(sizeof(OsVersionInfo) == 148);

// Room that db_definition_lookup needs for any home directory it gives back.
constexpr int32_t DB_HOME_ROOM = 260;

// The seam. Every member has a default that serves a headless process:
// output to standard output and, when open, the log file; the registry file
// for lookups.
class HostServices {
 public:
  virtual ~HostServices();

  // Writes `count` zero-ended texts from `area` as lines and an empty line
  // after them; a negative count writes -count texts without the empty line.
  virtual void write_output(StatusPair* status, int severity, const char* area, int count);
  // Writes one line (text and a line end).
  virtual void write_line(const char* text, int length);
  // Writes a message of the message table: its title line and its text with
  // the inserts in order.
  virtual void write_message(uint32_t title_id, uint32_t message_id,
                             const std::vector<std::string>& inserts);
  // A 32-bit value of the installation's version key (or of `subkey` below
  // it); false when the key or value is missing or not a 32-bit value.
  virtual bool reg_get_version_dword(const char* subkey, const char* value_name, uint32_t* value);
  // Replaces a database name (text[0..length), at most 128 characters) by the
  // home directory of its local definition; status 0, or -1 when the name is
  // too long, not defined, defined as remote, without a home directory, or
  // when the directory does not fit `capacity` bytes.
  virtual void db_definition_lookup(int32_t* status, char* text, int32_t* length, int32_t capacity);
  virtual CommChannelInfo comm_channel_info(int32_t channel);
  // Fills the version record; false (errno EINVAL) unless its size is 148.
  virtual bool get_version_ex(OsVersionInfo* info);
  // 1 on the NT family, else 0; the file I/O chooses its road by it.
  virtual int32_t is_nt();
};

// Installs `services` (not owned) and returns the one it replaces; nullptr
// restores the default.
HostServices* InstallHostServices(HostServices* services);
HostServices& CurrentHostServices();

// Opens (appending) or, with an empty path, closes the server log file that
// the default output writes to besides standard output.
bool OpenServerLogFile(const std::string& path);

void WriteServerOutput(StatusPair* status, int severity, const char* text_area, int line_count);
void WriteServerLine(const char* text, int offset, int length);
[[noreturn]] void RaiseServerException(int reason);

// Operating-system failure messages. `msg_os_error` builds "<call>: <system
// text of the thread's last error>" and writes the message with the inserts
// insert 2, insert 3 (when given) and that text, in this order; it leaves the
// thread's last error (errno) unchanged. Null inserts are left out.
void msg_os_error(uint32_t title_id, uint32_t message_id, const char* call_name,
                  const char* insert2, const char* insert3);
void msg_os_error_number(uint32_t title_id, uint32_t message_id, const char* call_name,
                         int32_t number);
void msg_number(uint32_t title_id, uint32_t message_id, int32_t number);
void msg_two_numbers(uint32_t title_id, uint32_t message_id, int32_t number1, int32_t number2);
// "<call>: " and the system's text for `error` ("error code n" when it has
// none), at most 1000 characters: the last insert of the calls above.
std::string os_error_call_text(const char* call_name, int error);

bool reg_get_version_dword(int zero, const char* subkey, const char* value_name, uint32_t* value);
// The text area must hold DB_HOME_ROOM bytes.
void db_definition_lookup(int32_t* status, char* text, int32_t* length);
void db_definition_lookup(int32_t* status, char* text, int32_t* length, int32_t capacity);
CommChannelInfo comm_channel_info(int32_t channel);
int32_t mdr_is_nt();
bool mdr_get_version_ex(OsVersionInfo* info);
