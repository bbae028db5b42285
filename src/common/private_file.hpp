#pragma once
// Files that hold secrets: readable by their owner only from the moment they exist.

#include <string>

namespace pavo::common {

// Creates `path` and any missing parent directories with permissions 0700. Existing directories are
// left as they are. Throws std::system_error naming the directory that could not be made.
void createPrivateDirectories(const std::string& path);

// Replaces `path` with `content` in one step: a temporary file in the same directory, created 0600,
// written, flushed to disk, then renamed over the old file. Readers see the old content or the new,
// never a partial file and never one with wider permissions. Throws std::system_error.
void writePrivateFileAtomically(const std::string& path, const std::string& content);

}  // namespace pavo::common
