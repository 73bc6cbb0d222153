// The LPT/COM port channel: a device opened lazily and kept open across jobs.
#include "output/port.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "config/messages.h"
#include "config/options.h"
#include "config/utilities.h"

int gPortHandle = 0;

namespace {

bool NameIs(const std::string& name, const char* prefix, int& number) {
    size_t n = std::char_traits<char>::length(prefix);
    if (name.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    int value = 0;
    for (size_t i = n; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || value > 999) return false;
        value = value * 10 + (name[i] - '0');
    }
    if (value < 1) return false;
    number = value;
    return true;
}

void Fail(int err) {
    if (gPortHandle != 0) ::close(gPortHandle - 1);
    gPortHandle = 0;
    SetErrorDetail(FormatSystemError(nullptr, err));
}

} // namespace

std::string PortDevicePath(const std::string& name) {
    int n = 0;
    if (NameIs(name, "LPT", n)) return "/dev/lp" + std::to_string(n - 1);
    if (NameIs(name, "COM", n)) return "/dev/ttyS" + std::to_string(n - 1);
    if (name.size() == 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'N' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'U' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'L')
        return "/dev/null";
    return name;
}

int PortWrite(const uint8_t* bytes, size_t length) {
    if (gPortHandle == 0) {
        // A reader that goes away must give a write error, not end the process.
        std::signal(SIGPIPE, SIG_IGN);
        std::string path = PortDevicePath(gPortName);
        // Existing devices only: a mistyped name must not leave a stray file.
        int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            int err = path.empty() ? ENOENT : errno;
            Trace("Unable to open port %s (%s)\n", gPortName.c_str(), path.c_str());
            Fail(err);
            return MSG_PORT_OPEN;
        }
        gPortHandle = fd + 1;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(gPortHandle - 1, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            Fail(err);
            return MSG_PORT_WRITE;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

void PortClose() {
    if (gPortHandle != 0) ::close(gPortHandle - 1);
    gPortHandle = 0;
}
