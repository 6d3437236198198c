// Databank file I/O: open, close, extend, set end, read, write and wait, on
// files addressed in units of 2048 bytes, plus the I/O area (file control
// blocks, request slots, default directory, buffering mode) and its dump.
// Every routine reports through the caller's five-word request block.
#pragma once

#include <cstdint>

#include "platform/status.h"

class FileSystem;

// Words of the I/O request block.
constexpr int IO_RC = 0;          // in: open mode or delete flag; out: result
constexpr int IO_OS_STATUS = 1;   // out: -1 or the composite OS status
constexpr int IO_FILE_ID = 2;     // out of mdrdmo, in for the others
constexpr int IO_BLOCK = 3;       // block of the transfer, or a size in blocks
constexpr int IO_BYTE_COUNT = 4;  // bytes to transfer; for mdrdmx the bytes wanted
constexpr int IO_REQUEST_WORDS = 5;

constexpr int kIoBlockBytes = 2048;
constexpr int kIoMinExtendBlocks = 128;
constexpr int kIoRequestSlots = 256;
constexpr int kIoMaxFiles = 10000;
constexpr int kIoPathMax = 260;
constexpr int kIoNameLength = 256;

// Open modes (request word 0 of mdrdmo).
constexpr int32_t IO_CREATE_NEW_UNSIZED = -4;
constexpr int32_t IO_CREATE_TEMPORARY = -3;
constexpr int32_t IO_CREATE_ALWAYS = -2;
constexpr int32_t IO_CREATE_NEW = -1;
constexpr int32_t IO_OPEN_READ_WRITE = 0;
constexpr int32_t IO_OPEN_READ_ONLY = 1;

// `name` is kIoNameLength characters, blank-padded (a NUL ends it early).
void mdrdmo(int32_t* request, const char* name);
void mdrdmc(int32_t* request);
void mdrdmx(int32_t* request);
void mdrdmt(int32_t* request);
// `buffer` must hold request[IO_BYTE_COUNT] bytes.
void mdrdmr(int32_t* request, void* buffer);
void mdrdmw(int32_t* request, const void* buffer);
void mdrdma(int32_t* request);

void mdr_set_default_path(StatusPair* status, const char* text, int32_t length);
int32_t mdr_system_limit(int32_t kind);
// Piecewise dump: `room` holds the buffer size in and the bytes written out;
// `piece` the first piece wanted in and the next one (0: complete) out.
void mdr_dump_io_area(char* buffer, int32_t* room, int32_t* piece);

// Called without arguments before every read and write when set.
void mdr_set_progress_routine(void (*routine)());
// Replaces the file system under the I/O area (nullptr: the POSIX one) and
// returns the previous one. Only while no databank file is open.
FileSystem* mdr_install_file_system(FileSystem* fs);
// Number of databank files open now.
int32_t mdr_open_file_count();
// The full path of an open file id, or nullptr.
const char* mdr_file_name(int32_t file_id);
