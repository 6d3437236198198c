// The message table and the formatting of server messages by their insert
// rules.
#include "platform/messages.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/host_services.h"

namespace {

struct MessageEntry {
  uint32_t id;
  const char* text;
};

// Texts as stored: "\r\n" ends a line inside a text; the last insert of an
// operating-system failure is the failed call and the system's text for it.
constexpr MessageEntry kMessages[] = {
    {0x400000C8, "Zavor Server Information Message %1, %2%0"},
    {0x800000C9, "Zavor Server Warning %1, %2%0"},
    {0xC00000CA, "Zavor Server Fatal Error %1, %2%0"},
    {0xC00000CB, "Zavor Server Internal Error %1, %2%0"},
    {0x40000445, "ZAVOR TCP/IP network server started."},
    {0x40000446,
     "ZAVOR TCP/IP network server stopped.\r\nA total of %1 TCP/IP clients has been served."},
    {0x40000447, "ZAVOR TCP/IP network server paused, no further requests are now accepted."},
    {0x40000448, "ZAVOR TCP/IP network server resumed, new network connections are now accepted."},
    {0x8000042D, "Failed to open multiuser log file, file logging disabled.\r\n'%1'"},
    {0x80000440,
     "Error retrieving network server parameters for %1 server. Value name \"%2\".\r\n'%3'"},
    {0x80000452, "Error when creating event %1 for multiuser semaphores\r\n'%2'"},
    {0x80000459, "Unable to start ZAVOR TCP/IP Server\r\n'%1'"},
    {0x8000045A, "Error occurred while setting up a new connection\r\n'%1'"},
    {0x8000045B, "Invalid handshake sequence. Connection terminated."},
    {0xC00003E8, "Database %1 is remote. Must specify a local database to start."},
    {0xC00003FC, "Could not create database monitor thread.\r\n'%1'"},
    {0xC000042F, "Error creating event which control continue-operations.\r\n'%1'"},
    {0xC0000430, "Error creating event which control pause-operations.\r\n'%1'"},
    {0xC0000431, "Error creating event which control stop-operations.\r\n'%1'"},
    {0xC0000433,
     "Error when waiting for the next net-server creation event. No further network\r\nrequests "
     "will be handled. Service must be restarted.\r\n'%1'"},
    {0xC0000441, "Could not create TCP/IP monitor thread.\r\n'%1'"},
    {0xC0000450,
     "Database %1 startup has been disabled. \r\nStartup option may be changed with the Zavor "
     "Administrator."},
    {0xC0000454, "Unexpected error when waiting for semaphore (in %1)\r\n'%2'"},
    {0xC0000455,
     "Unexpected error when releasing threads waiting for semaphore (in %1, index %2)\r\n'%3'"},
    {0xC0000456, "Corrupt semaphore linkage in wakelist (head = %1)"},
    {0xC0000460, "Unexpected error when initiating thread local storage (in %1)\r\n'%2'"},
    {0xC0000461, "Corrupt semaphore linkage in wakelist (head = %1, it = %2)"},
};

constexpr const char* kIndent = "      ";

void append_line_break(std::string* out, bool fold) {
  if (fold) {
    if (out->empty() || out->back() != ' ') out->push_back(' ');
  } else {
    out->append("\r\n");
  }
}

}  // namespace

const char* message_text(uint32_t id) {
  for (const auto& m : kMessages) {
    if (m.id == id) return m.text;
  }
  return nullptr;
}

std::string format_message(const char* text, const std::vector<std::string>& inserts, bool fold,
                           size_t max) {
  std::string out;
  if (text == nullptr) return out;
  for (const char* p = text; *p != '\0' && out.size() < max; ++p) {
    char c = *p;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && p[1] == '\n') ++p;
      append_line_break(&out, fold);
      continue;
    }
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    char e = p[1];
    if (e == '\0') {
      out.push_back('%');
      break;
    }
    if (e == '0') break;
    if (e >= '1' && e <= '9') {
      size_t n = static_cast<size_t>(e - '0');
      const char* end = p + 2;
      if (*end >= '0' && *end <= '9') n = n * 10 + static_cast<size_t>(*end++ - '0');
      if (n <= inserts.size()) {
        for (char ic : inserts[n - 1]) {
          if (ic == '\r' || ic == '\n') {
            // An insert's own line ends follow the same folding rule.
            if (fold)
              append_line_break(&out, true);
            else
              out.push_back(ic);
          } else {
            out.push_back(ic);
          }
        }
      } else {
        out.append(p, end);
      }
      p = end - 1;
      continue;
    }
    switch (e) {
      case 'n':
        append_line_break(&out, fold);
        break;
      case 'r':
        out.push_back(fold ? ' ' : '\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'b':
        out.push_back(' ');
        break;
      default:  // "%%", "%.", "%!" and anything else: the character itself
        out.push_back(e);
        break;
    }
    ++p;
  }
  if (out.size() > max) out.resize(max);
  return out;
}

std::vector<std::string> message_lines(uint32_t title_id, uint32_t message_id,
                                       const std::vector<std::string>& inserts,
                                       const std::string& time_stamp) {
  std::vector<std::string> lines;
  const char* title = message_text(title_id);
  if (title) {
    lines.push_back(format_message(title, {std::to_string(message_id & 0xFFFF), time_stamp}, true));
  } else {
    char buf[160];
    snprintf(buf, sizeof buf, "ZAVOR Multiuser Message %d (severity level %d), ",
             static_cast<int32_t>(message_id), static_cast<int32_t>(title_id));
    lines.push_back(std::string(buf) + time_stamp);
  }
  std::string text =
      kIndent + format_message(message_text(message_id), inserts, false, MSG_TEXT_MAX - 6);
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string message_time_stamp() {
  auto now = std::chrono::system_clock::now();
  time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  struct tm local;
  localtime_r(&seconds, &local);
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(ms));
  return buf;
}

void msg_write(uint32_t title_id, uint32_t message_id, const std::vector<std::string>& inserts) {
  CurrentHostServices().write_message(title_id, message_id, inserts);
}

void msg_text(uint32_t title_id, uint32_t message_id, const char* text) {
  msg_write(title_id, message_id, {text ? text : ""});
}
