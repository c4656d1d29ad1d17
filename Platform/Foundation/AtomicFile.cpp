#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace AtomicFile {
namespace {
constexpr const char* kTemporaryInfix = ".tmp-";

std::string directoryOf(const std::string& path) {
    auto parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

void setError(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
}
}  // namespace

bool write(const std::string& path, std::string_view content, mode_t mode, std::string* error) {
    std::string temporary = path + kTemporaryInfix + "XXXXXX";
    // mkstemp creates the file with mode 0600 whatever the umask, so secrets
    // are never readable by others, not even for a moment.
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        setError(error, "cannot create " + temporary);
        return false;
    }
    auto fail = [&](const std::string& what) {
        setError(error, what);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    };
    if (::fchmod(fd, mode) != 0) return fail("cannot set the mode of " + temporary);
    size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write " + temporary);
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("cannot flush " + temporary);
    if (::close(fd) != 0) {
        setError(error, "cannot close " + temporary);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        setError(error, "cannot rename " + temporary + " to " + path);
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool read(const std::string& path, std::string& content, std::string* error) {
    content.clear();
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        setError(error, "cannot open " + path);
        return false;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(error, "cannot read " + path);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

void removeStaleTemporaries(const std::string& path) {
    std::string prefix = fs::path(path).filename().string() + kTemporaryInfix;
    std::error_code ec;
    for (fs::directory_iterator it(directoryOf(path), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        // mkstemp appends exactly six characters.
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

std::string moveAside(const std::string& path) {
    std::string aside = path + ".corrupt";
    if (::rename(path.c_str(), aside.c_str()) != 0) return {};
    return aside;
}

}  // namespace AtomicFile
