// The output medium looked at without a job, for a check before any session.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config/messages.h"
#include "config/utilities.h"
#include "output/delivery.h"
#include "output/media.h"
#include "output/port_channel.h"
#include "platform/printlibs.h"

namespace output {

namespace {

bool Fail(std::string& found, const std::string& text) {
    found = text;
    return false;
}

} // namespace

bool CheckOutputMedium(const config::Settings& s, std::string& found) {
    switch (s.medium) {
    case config::Medium::File: {
        const std::string dir = DirName(s.fileName);
        if (::access(dir.c_str(), W_OK | X_OK) != 0)
            return Fail(found,
                        std::string("files: ") + config::FormatSystemError(dir.c_str(), errno));
        found = std::string("files: ") + (s.fileFormat == "pdf" ? "PDF" : "text") +
                " copies of the jobs in " + dir;
        return true;
    }
    case config::Medium::Socket: {
        const config::Result rc = SendToSocket(s.socketPort, s.socketTimeoutMs, "");
        if (!rc.ok()) return Fail(found, "network printer: " + rc.Text());
        found = "network printer " + s.socketPort + " accepts connections";
        return true;
    }
    case config::Medium::Command: {
        std::string command = s.printerCmds.empty() ? "lpr" : s.printerCmds;
        std::string word = command.substr(0, command.find(' '));
        std::string probe = "command -v '" + word + "' >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0)
            return Fail(found, "print command: " + word + " is not found on PATH");
        found = "print command " + command;
        return true;
    }
    case config::Medium::Port: {
        const std::string device = PortDevicePath(s.portName);
        int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return Fail(found,
                        std::string("port: ") + config::FormatSystemError(device.c_str(), errno));
        ::close(fd);
        found = "port " + device + " can be written";
        return true;
    }
    case config::Medium::Printer:
        break;
    }
    std::string why;
    const std::string name = PrinterDestination(s.printer, why);
    if (name.empty()) return Fail(found, "printer: " + why);
    if (!platform::CupsReady()) return Fail(found, "printer: " + platform::PrintLibsError());
    const platform::PrintLibs& pl = platform::PL();
    cups_dest_t* dest = pl.cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
    if (!dest)
        return Fail(found, "printer: CUPS at " + std::string(pl.cupsServer()) +
                               " has no destination " + name + " (" + pl.cupsLastErrorString() +
                               ")");
    pl.cupsFreeDests(1, dest);
    found = "printer: CUPS destination " + name + (name != s.printer ? " (the default)" : "");
    return true;
}

} // namespace output
