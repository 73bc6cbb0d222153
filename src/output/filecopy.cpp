// The print-to-file branch: a copy beside the print file, with the letter f.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include "config/report.h"
#include "output/printfile.h"

namespace {
std::string OutputName(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "f";
    return path.substr(0, dot) + "f" + path.substr(dot);
}

bool Copy(const std::string& from, const std::string& to, bool replace) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
    int out = ::open(to.c_str(), flags, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    char buf[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0 || ::write(out, buf, static_cast<size_t>(n)) != n) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    return ok;
}
} // namespace

int CopyToOutputFile(const std::string& path) {
    if (strcasecmp(path.c_str(), "NUL") == 0) return 1;
    const std::string out = OutputName(path);
    if (Copy(path, out, false)) return 1;
    char q[600];
    std::snprintf(q, sizeof q, "Output file %s already exists. Overwrite?", out.c_str());
    if (Ui().AskYesNo(q)) Copy(path, out, true);
    return 1;
}
