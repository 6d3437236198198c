// The server's message table: 32-bit message identifiers and their texts, the
// insert rules that fill a text (%1..%99, %0 and the escapes), and the two
// lines, title and text, that every server message is written as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Title messages: the first argument of every message call.
constexpr uint32_t MSG_TITLE_INFORMATION = 0x400000C8;
constexpr uint32_t MSG_TITLE_WARNING = 0x800000C9;
constexpr uint32_t MSG_TITLE_FATAL = 0xC00000CA;
constexpr uint32_t MSG_TITLE_INTERNAL = 0xC00000CB;

// Longest text a formatted title or message line may reach.
constexpr size_t MSG_TEXT_MAX = 1000;

// The stored text of a message identifier, nullptr when the table has none.
const char* message_text(uint32_t id);

// Fills `text` by the insert rules: %1..%99 take the inserts in order (an
// insert that was not given stays as written), %0 ends the text, "%%", "%.",
// "%!" give the character, %n a line break, %r a carriage return, %t a tab,
// %b a blank. With `fold`, line breaks become single blanks. The result is cut
// to `max` characters.
std::string format_message(const char* text, const std::vector<std::string>& inserts, bool fold,
                           size_t max = MSG_TEXT_MAX);

// The lines of a server message: the title line (title text with the message
// number and `time_stamp`, folded to one line), then the message text after
// six blanks, one entry per line of it. An unknown title gives a fallback
// title; an unknown message leaves the six blanks alone.
std::vector<std::string> message_lines(uint32_t title_id, uint32_t message_id,
                                       const std::vector<std::string>& inserts,
                                       const std::string& time_stamp);

// The current local time as "YYYY-MM-DD hh:mm:ss.mmm".
std::string message_time_stamp();

// Writes a message through the host services with the inserts given.
void msg_write(uint32_t title_id, uint32_t message_id, const std::vector<std::string>& inserts);
// Writes a message whose only insert is `text`.
void msg_text(uint32_t title_id, uint32_t message_id, const char* text);
