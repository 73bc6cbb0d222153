// The pool folder's lock and the check of its LU files.
#include "session/pool_files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config/utilities.h"

namespace session {

int LockPoolFolder(const std::string& dir, std::string& reason) {
    // A dot name: the folder scan takes it for no LU.
    const std::string path = dir + "/.twprinterd.lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = "its lock file " + path +
                 " cannot be made: " + config::FormatSystemError(nullptr, errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char pid[32] = {};
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        const long holder = n > 0 ? std::strtol(pid, nullptr, 10) : 0;
        reason =
            err == EWOULDBLOCK
                ? "another twprinterd runs on it" +
                      (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                      "; one pool folder takes one process"
                : "its lock file " + path +
                      " cannot be locked: " + config::FormatSystemError(nullptr, err);
        ::close(fd);
        return -1;
    }
    // The holder's number, for the message of the one refused.
    const std::string self = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, self.data(), self.size(), 0) < 0) {
        // The lock holds without the number.
    }
    return fd;
}

std::string PoolFileProblem(const std::string& content) {
    for (unsigned char c : content)
        if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x1A))
            return "is not a text file";
    // A section header line, in any case and with blanks around it.
    for (size_t at = 0; at < content.size();) {
        size_t end = content.find('\n', at);
        if (end == std::string::npos) end = content.size();
        size_t b = content.find_first_not_of(" \t", at);
        if (b < end && content[b] == '[' &&
            strncasecmp(content.c_str() + b, "[CONFIGURATION]", 15) == 0)
            return "";
        at = end + 1;
    }
    return "has no [CONFIGURATION] section";
}

} // namespace session
