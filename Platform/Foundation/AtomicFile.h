#pragma once
// Whole-file writes that never leave a half-written file behind: the bytes go
// to a temporary file in the same directory, are flushed to disk, and the
// temporary file is renamed over the target. A crash at any moment leaves
// either the previous file or the new one.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace AtomicFile {

// Replaces `path` with `content`. The file has `mode` from the moment it is
// created (independent of the umask). On failure the previous file is left
// untouched, `error` (when given) describes the cause, and false is returned.
bool write(const std::string& path, std::string_view content, mode_t mode, std::string* error = nullptr);

// Reads the whole file; false when it cannot be opened or read.
bool read(const std::string& path, std::string& content, std::string* error = nullptr);

// Removes temporary files that an interrupted write of `path` left behind.
void removeStaleTemporaries(const std::string& path);

// Moves an unusable file aside as "<path>.corrupt" (replacing an older one).
// Returns the new path, or an empty string when the move failed.
std::string moveAside(const std::string& path);

}  // namespace AtomicFile
