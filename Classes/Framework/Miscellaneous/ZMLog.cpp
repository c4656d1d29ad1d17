#include "ZMLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace ZMLog {

std::string formatLine(const char* function, int line, std::string_view message) {
    return fmt::format("(*** Vostrelle 5 ***) {} [Line {}] {}", function, line, message);
}

void write(const char* function, int line, std::string_view message) {
    static std::mutex mutex;
    std::string text = formatLine(function, line, message);
    text.push_back('\n');
    std::lock_guard lock(mutex);
    // One write call per line keeps lines whole when several threads log.
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

bool trimFile(const std::string& path, size_t threshold, size_t keep) {
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return errno == ENOENT;
    // Writers of this process append through O_APPEND; an exclusive lock
    // keeps two trims apart, and re-reading under the lock keeps whatever
    // was appended up to the moment the file is replaced.
    flock(fd, LOCK_EX);
    std::string content;
    {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<size_t>(n));
    }
    size_t lines = 0;
    for (char c : content) lines += (c == '\n');
    if (!content.empty() && content.back() != '\n') ++lines;
    if (lines < threshold) {
        flock(fd, LOCK_UN);
        ::close(fd);
        return true;
    }
    // Find the start of the last `keep` lines.
    size_t pos = content.size();
    size_t seen = 0;
    if (pos > 0 && content[pos - 1] == '\n') --pos;
    while (pos > 0) {
        if (content[pos - 1] == '\n') {
            if (++seen == keep) break;
        }
        --pos;
    }
    std::string tail = content.substr(pos);
    // Pick up what was appended while we were reading, just before replacing.
    {
        char buffer[65536];
        ssize_t n;
        ::lseek(fd, static_cast<off_t>(content.size()), SEEK_SET);
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) tail.append(buffer, static_cast<size_t>(n));
    }
    // Rewrite in place so that descriptors opened with O_APPEND (our own
    // stdout/stderr) keep pointing at the same file. Our own writes append
    // too: a line another writer adds right after the truncation lands before
    // the kept tail instead of being overwritten by it.
    int flags = ::fcntl(fd, F_GETFL);
    bool ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_APPEND) == 0 && ::ftruncate(fd, 0) == 0;
    size_t written = 0;
    while (ok && written < tail.size()) {
        ssize_t n = ::write(fd, tail.data() + written, tail.size() - written);
        if (n <= 0) ok = false; else written += static_cast<size_t>(n);
    }
    flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}

}  // namespace ZMLog
