// The home directory of a new database: made (mode 0700) before any file,
// and on a failed creation emptied through the file-system seam under the
// databank files and removed, so that a failed creation leaves nothing.
#pragma once

#include <string>

// Makes `dir` (a missing or empty directory; its parent must exist). False
// with *error set when it cannot.
bool MakeHomeDirectory(const std::string& dir, bool* made, std::string* error);

// Removes every entry the creation made in `dir` and, when `made`, the
// directory itself. False when something stays.
bool RemoveHomeDirectory(const std::string& dir, bool made);

// `dir` + "/" + `name`.
std::string HomePath(const std::string& dir, const std::string& name);
