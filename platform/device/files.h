// Files of the device folder.  The folder and everything the platform makes
// in it belong to the device's owner alone (folders 0700, files and sockets
// 0600), whatever the umask of the process that makes them: another user
// must not fake calls, rewrite the radio's state or lock the device's
// mutexes.
#pragma once

#include <filesystem>
#include <string_view>

namespace wince::device {

// Creates `dir` and its missing parents, each new folder the owner's alone;
// true when `dir` is a folder afterwards.
bool make_private_dirs(const std::filesystem::path& dir);

// open(2) of `file` with `flags` (O_CLOEXEC is added); a file it creates is
// the owner's alone.  -1 with errno on failure.
int open_private(const std::filesystem::path& file, int flags);

// Makes an existing file or socket the owner's alone.
void make_private(const std::filesystem::path& file);

// Replaces `file` whole with `bytes` (a temporary file renamed over it, so a
// reader sees the old or the new content, never a part).  False with errno
// set when it could not be written, e.g. ENOSPC on a full disk; `file` is
// then untouched.
bool replace_file(const std::filesystem::path& file, std::string_view bytes);

} // namespace wince::device
