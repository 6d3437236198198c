// Default host services of a headless process and the switch that lets the
// server process (or a test) install its own.
#include "platform/host_services.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

HostServices default_services;
std::atomic<HostServices*> installed{nullptr};

// One lock serialises every line written by the default output, so entries of
// concurrent threads never interleave.
std::mutex output_mutex;
FILE* log_file = nullptr;

void emit_line_locked(const char* text, size_t length) {
  fwrite(text, 1, length, stdout);
  fputc('\n', stdout);
  fflush(stdout);
  if (log_file) {
    fwrite(text, 1, length, log_file);
    fputc('\n', log_file);
    fflush(log_file);
  }
}

}  // namespace

ServerException::ServerException(int reason)
    : reason_(reason), what_("server exception, reason " + std::to_string(reason)) {}

HostServices::~HostServices() = default;

void HostServices::write_output(StatusPair* status, int /*severity*/, const char* area,
                                int count) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (status) set_success(status);
  if (!area) return;
  if (count < 0) {
    emit_line_locked(area, strlen(area));
    return;
  }
  const char* p = area;
  for (int i = 0; i < count; ++i) {
    size_t n = strlen(p);
    emit_line_locked(p, n);
    p += n + 1;
  }
  if (count > 0) emit_line_locked("", 0);
}

void HostServices::write_line(const char* text, int length) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (!text || length < 0) return;
  emit_line_locked(text, static_cast<size_t>(length));
}

void HostServices::write_message(uint32_t title_id, uint32_t message_id,
                                 const std::vector<std::string>& inserts) {
  std::string line = "message " + std::to_string(message_id) + " (" +
                     std::to_string(title_id) + ")";
  for (const auto& s : inserts) line += " " + s;
  write_line(line.c_str(), static_cast<int>(line.size()));
}

bool HostServices::reg_get_version_dword(const char*, const char*, uint32_t*) { return false; }

void HostServices::db_definition_lookup(int32_t* status, char*, int32_t*) { *status = -1; }

CommChannelInfo HostServices::comm_channel_info(int32_t) { return {}; }

HostServices* InstallHostServices(HostServices* services) {
  HostServices* previous = installed.exchange(services);
  return previous ? previous : &default_services;
}

HostServices& CurrentHostServices() {
  HostServices* s = installed.load();
  return s ? *s : default_services;
}

bool OpenServerLogFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (log_file) {
    fclose(log_file);
    log_file = nullptr;
  }
  if (path.empty()) return true;
  log_file = fopen(path.c_str(), "a");
  return log_file != nullptr;
}

void WriteServerOutput(StatusPair* status, int severity, const char* text_area, int line_count) {
  CurrentHostServices().write_output(status, severity, text_area, line_count);
}

void WriteServerLine(const char* text, int offset, int length) {
  if (!text || offset < 0 || length < 0) return;
  CurrentHostServices().write_line(text + offset, length);
}

void RaiseServerException(int reason) { throw ServerException(reason); }

void msg_os_error(uint32_t title_id, uint32_t message_id, const char* call_name,
                  const char* insert2, const char* insert3) {
  int saved = errno;
  std::string text = std::string(call_name ? call_name : "") + ": ";
  text += saved ? strerror(saved) : ("error code " + std::to_string(saved));
  std::vector<std::string> inserts;
  if (insert2) inserts.emplace_back(insert2);
  if (insert3) inserts.emplace_back(insert3);
  inserts.push_back(text);
  CurrentHostServices().write_message(title_id, message_id, inserts);
  errno = saved;
}

void msg_os_error_number(uint32_t title_id, uint32_t message_id, const char* call_name,
                         int32_t number) {
  msg_os_error(title_id, message_id, call_name, std::to_string(number).c_str(), nullptr);
}

void msg_number(uint32_t title_id, uint32_t message_id, int32_t number) {
  CurrentHostServices().write_message(title_id, message_id, {std::to_string(number)});
}

void msg_two_numbers(uint32_t title_id, uint32_t message_id, int32_t number1, int32_t number2) {
  CurrentHostServices().write_message(title_id, message_id,
                                      {std::to_string(number1), std::to_string(number2)});
}

bool reg_get_version_dword(int, const char* subkey, const char* value_name, uint32_t* value) {
  return CurrentHostServices().reg_get_version_dword(subkey, value_name, value);
}

void db_definition_lookup(int32_t* status, char* text, int32_t* length) {
  CurrentHostServices().db_definition_lookup(status, text, length);
}

CommChannelInfo comm_channel_info(int32_t channel) {
  return CurrentHostServices().comm_channel_info(channel);
}
