// Default host services of a headless process and the switch that lets the
// server process (or a test) install its own.
#include "platform/host_services.h"

#include <sys/utsname.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/messages.h"
#include "platform/registry.h"

namespace {

HostServices default_services;
std::atomic<HostServices*> installed{nullptr};

// One lock serialises every line written by the default output, so entries of
// concurrent threads never interleave.
std::mutex output_mutex;
// Keeps the lines of one message together; taken before output_mutex.
std::mutex message_mutex;
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

constexpr int32_t kNameMax = 128;

}  // namespace

ServerException::ServerException(int reason)
    : reason_(reason), what_("server exception, reason " + std::to_string(reason)) {}

HostServices::~HostServices() = default;

void HostServices::write_output(StatusPair* status, int /*severity*/, const char* area, int count) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (status) set_success(status);
  if (!area) return;
  int64_t texts = count < 0 ? -static_cast<int64_t>(count) : count;
  const char* p = area;
  for (int64_t i = 0; i < texts; ++i) {
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
  std::vector<std::string> lines =
      message_lines(title_id, message_id, inserts, message_time_stamp());
  std::lock_guard<std::mutex> lock(message_mutex);
  for (const auto& line : lines) write_line(line.data(), static_cast<int>(line.size()));
}

bool HostServices::reg_get_version_dword(const char* subkey, const char* value_name,
                                         uint32_t* value) {
  if (!value_name || !value) return false;
  std::string key = REG_VERSION_KEY;
  if (subkey && *subkey) key += std::string("\\") + subkey;
  RegistryValue v = registry_read_value(key, value_name);
  if (v.type != RegistryValue::kDword) return false;
  *value = v.dword;
  return true;
}

void HostServices::db_definition_lookup(int32_t* status, char* text, int32_t* length,
                                        int32_t capacity) {
  *status = -1;
  if (!text || !length || *length < 1 || *length > kNameMax) return;
  std::string_view name(text, static_cast<size_t>(*length));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (!name.empty() && name.back() == '\\') name.remove_suffix(1);
  // The name is one subkey: nothing in it may reach another key.
  if (name.empty() || name.find_first_of("\\[]") != std::string_view::npos) return;
  std::string key = std::string(REG_SQLHOSTS_KEY) + "\\" + std::string(name);
  if (!registry_key_exists(key)) return;
  RegistryValue protocol = registry_read_value(key, "Protocol");
  if (protocol.type == RegistryValue::kString && !protocol.text.empty()) return;
  RegistryValue directory = registry_read_value(key, "Directory");
  if (directory.type != RegistryValue::kString || directory.text.empty()) return;
  if (capacity < 0 || directory.text.size() > static_cast<size_t>(capacity)) return;
  memcpy(text, directory.text.data(), directory.text.size());
  *length = static_cast<int32_t>(directory.text.size());
  *status = 0;
}

CommChannelInfo HostServices::comm_channel_info(int32_t) {
  return {};
}

bool HostServices::get_version_ex(OsVersionInfo* info) {
  if (!info || info->size != static_cast<int32_t>(sizeof(OsVersionInfo))) {
    errno = EINVAL;
    return false;
  }
  struct utsname u;
  if (uname(&u) != 0) return false;
  int major = 0, minor = 0, build = 0;
  sscanf(u.release, "%d.%d.%d", &major, &minor, &build);
  *info = OsVersionInfo{};
  info->major = major;
  info->minor = minor;
  info->build = build;
  // Not the NT family: the file I/O takes its synchronous, positioned road.
  info->platform_id = 1;
  return true;
}

int32_t HostServices::is_nt() {
  // Kept once known; a failed query answers 0 and is asked again next time.
  static std::atomic<int32_t> known{-1};
  int32_t nt = known.load();
  if (nt >= 0) return nt;
  OsVersionInfo v;
  if (!get_version_ex(&v)) return 0;
  nt = v.platform_id >= 2 ? 1 : 0;
  known.store(nt);
  return nt;
}

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

void RaiseServerException(int reason) {
  throw ServerException(reason);
}

std::string os_error_call_text(const char* call_name, int error) {
  std::string text = std::string(call_name ? call_name : "") + ": ";
  const char* message = strerrordesc_np(error);
  text += message ? message : "error code " + std::to_string(error);
  if (text.size() > MSG_TEXT_MAX) text.resize(MSG_TEXT_MAX);
  return text;
}

void msg_os_error(uint32_t title_id, uint32_t message_id, const char* call_name,
                  const char* insert2, const char* insert3) {
  int saved = errno;
  std::vector<std::string> inserts;
  if (insert2) inserts.emplace_back(insert2);
  if (insert3) inserts.emplace_back(insert3);
  inserts.push_back(os_error_call_text(call_name, saved));
  CurrentHostServices().write_message(title_id, message_id, inserts);
  errno = saved;
}

void msg_os_error_number(uint32_t title_id, uint32_t message_id, const char* call_name,
                         int32_t number) {
  int saved = errno;
  std::string text = std::to_string(number);
  errno = saved;
  msg_os_error(title_id, message_id, call_name, text.c_str(), nullptr);
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
  CurrentHostServices().db_definition_lookup(status, text, length, DB_HOME_ROOM);
}

void db_definition_lookup(int32_t* status, char* text, int32_t* length, int32_t capacity) {
  CurrentHostServices().db_definition_lookup(status, text, length, capacity);
}

CommChannelInfo comm_channel_info(int32_t channel) {
  return CurrentHostServices().comm_channel_info(channel);
}

int32_t mdr_is_nt() {
  return CurrentHostServices().is_nt();
}

bool mdr_get_version_ex(OsVersionInfo* info) {
  return CurrentHostServices().get_version_ex(info);
}
