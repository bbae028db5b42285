#pragma once

#include <optional>
#include <string>

namespace pavo::common {

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> readFile(const std::string& path);

// The current user's home directory without a trailing slash: $HOME, else the password database.
std::string homeDirectory();

// The absolute path of the running program, when the system tells it.
std::optional<std::string> runningExecutablePath();

}  // namespace pavo::common
