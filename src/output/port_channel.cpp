// The LPT/COM port medium on the device the port name stands for.
#include "output/port_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>

#include "config/messages.h"
#include "config/utilities.h"

namespace output {

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

// The device is named with the reason: a port name may stand for a path the user never typed.
config::Result PortChannel::Fail(int code, int err) {
    Close();
    const std::string path = PortDevicePath(name_);
    const std::string device = path.empty() ? std::string("(no device)") : path;
    return {code, device + ": " + config::FormatSystemError(nullptr, err), device};
}

void PortChannel::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

config::Result PortChannel::Write(std::span<const uint8_t> bytes) {
    if (fd_ < 0) {
        // A reader that goes away must give a write error, not end the process.
        std::signal(SIGPIPE, SIG_IGN);
        std::string path = PortDevicePath(name_);
        // Existing devices only: a mistyped name must not leave a stray file.
        int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            int err = path.empty() ? ENOENT : errno;
            config::Trace("Unable to open port %s (%s)\n", name_.c_str(), path.c_str());
            return Fail(config::MSG_PORT_OPEN, err);
        }
        fd_ = fd;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            return Fail(config::MSG_PORT_WRITE, n < 0 ? errno : EIO);
        }
        done += static_cast<size_t>(n);
    }
    return {};
}

} // namespace output
