// Services the server process gives to the layers below it: log output,
// the server exception, operating-system message boxes, registry lookups and
// channel facts. The layers below call the free functions; the server process
// installs its own implementation at start, tests install a capturing one.
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

// Facts about one communication channel, as connect needs them.
struct CommChannelInfo {
  int32_t type = 0;
  int32_t max_send = 0;
  int32_t max_receive = 0;
  char node[128] = {};
  int32_t node_length = 0;
  bool local = true;
};

// The seam. Every member has a default that serves a headless process:
// output to standard output and, when open, the log file.
class HostServices {
 public:
  virtual ~HostServices();

  // Writes `count` zero-ended texts from `area` as lines; a positive count
  // adds an empty line after them, -1 writes one line as it stands.
  virtual void write_output(StatusPair* status, int severity, const char* area, int count);
  // Writes one line (text and a line end).
  virtual void write_line(const char* text, int length);
  // Shows (here: logs) an operating-system message with its title id,
  // message id and the inserts in order.
  virtual void write_message(uint32_t title_id, uint32_t message_id,
                             const std::vector<std::string>& inserts);
  // A 32-bit value of the installation's version key; false when missing.
  virtual bool reg_get_version_dword(const char* subkey, const char* value_name,
                                     uint32_t* value);
  // Replaces a database name by its home directory; status 0, or -1 when the
  // name is too long or not defined.
  virtual void db_definition_lookup(int32_t* status, char* text, int32_t* length);
  virtual CommChannelInfo comm_channel_info(int32_t channel);
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
// thread's last error (errno) unchanged. Null inserts are "none".
void msg_os_error(uint32_t title_id, uint32_t message_id, const char* call_name,
                  const char* insert2, const char* insert3);
void msg_os_error_number(uint32_t title_id, uint32_t message_id, const char* call_name,
                         int32_t number);
void msg_number(uint32_t title_id, uint32_t message_id, int32_t number);
void msg_two_numbers(uint32_t title_id, uint32_t message_id, int32_t number1, int32_t number2);

bool reg_get_version_dword(int zero, const char* subkey, const char* value_name,
                           uint32_t* value);
void db_definition_lookup(int32_t* status, char* text, int32_t* length);
CommChannelInfo comm_channel_info(int32_t channel);
