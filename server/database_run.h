// A database run in this process, as the server runs one: the databank
// kernel's control area with its background threads, the ENQ/DEQ area, the
// kernel word storage, every layer's services installed, and the kernel
// started on the database's home directory (the process's current directory
// while it runs). The creation tool's verification and the tests use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

struct ServerDatabase {
  int32_t* base = nullptr;  // the kernel word storage
  std::vector<int32_t> enqdeq_area;
  std::vector<std::thread> background;
  std::filesystem::path previous_directory;
  bool kernel_started = false;
};

// Starts the database `database` whose files lie in `home` with DSStartDb
// in `mode` (1 a normal start). The start's status (0 started); on any
// status but 0 what was set up is taken down again.
int32_t ServerStartDatabase(const std::string& home, const std::string& database, int32_t mode,
                            ServerDatabase* db);

// Stops the kernel (DSStopDb), the background threads and the databank
// kernel, which writes every page, and takes the services away. The first
// failing status, 0 when the stop was clean.
int32_t ServerStopDatabase(ServerDatabase* db);

// A channel for a client connection (DSNewCha); 0 when none could be had.
int32_t ServerNewChannel(ServerDatabase* db, int32_t number);

// Logs `ident` in on channel `cha` with its plain password (DSConnect mode
// 1): the connect's status, the session in *usr (0 when none was made).
int32_t ServerLogin(ServerDatabase* db, int32_t cha, const std::string& ident,
                    const std::string& password, int32_t* usr);

// Logs the session out (DSLogout); its status.
int32_t ServerLogout(ServerDatabase* db, int32_t usr);
