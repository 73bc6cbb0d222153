// Delivery of a finished print job: printer (cairo PDF through CUPS), PDF file,
// network socket, print command, and the folder of jobs whose delivery failed.
#include "output/printfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "config/ini.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "output/port.h"
#include "platform/printlibs.h"

std::string gHeadingText;

// The session's job counter; weak so that delivery works in programs without a session.
void CountJob(bool delivered) __attribute__((weak));

namespace {

constexpr int kDpi = 300;
constexpr double kFontSize = 10.0;
constexpr const char* kFontFace = "DejaVu Sans Mono";
constexpr size_t kHeadingMax = 83;

void Debug(const char* text) {
    Trace("%s", text);
    if (gDebug) DebugPrint(text);
}

bool IsNul(const std::string& path) {
    if (path == "/dev/null") return true;
    if (path.size() != 3) return false;
    return (path[0] | 0x20) == 'n' && (path[1] | 0x20) == 'u' && (path[2] | 0x20) == 'l';
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Long names lose their directory part first, so the file's own name survives.
std::string HeadingFor(const std::string& text) {
    if (text.size() <= kHeadingMax) return text;
    std::string base = BaseName(text);
    if (base.size() + 3 >= kHeadingMax) return base.substr(base.size() - kHeadingMax);
    return "..." + text.substr(text.size() - (kHeadingMax - 3));
}

void Latin1ToUtf8(const char* in, std::string& out) {
    out.clear();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in); *p; ++p) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p));
        } else {
            out.push_back(static_cast<char>(0xC0 | (*p >> 6)));
            out.push_back(static_cast<char>(0x80 | (*p & 0x3F)));
        }
    }
}

struct FontMetrics {
    double height = 0, ascent = 0, advance = 0; // points
};

const FontMetrics& Metrics() {
    static FontMetrics m = [] {
        FontMetrics r;
        if (!platform::CairoReady()) return r;
        cairo_surface_t* s = platform::PL().cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
        cairo_t* cr = platform::PL().cairo_create(s);
        platform::PL().cairo_select_font_face(cr, kFontFace, CAIRO_FONT_SLANT_NORMAL,
                                              CAIRO_FONT_WEIGHT_NORMAL);
        platform::PL().cairo_set_font_size(cr, kFontSize);
        cairo_font_extents_t fe;
        platform::PL().cairo_font_extents(cr, &fe);
        cairo_text_extents_t te;
        platform::PL().cairo_text_extents(cr, "M", &te);
        r.height = fe.height;
        r.ascent = fe.ascent;
        r.advance = te.x_advance > 0 ? te.x_advance : fe.max_x_advance;
        platform::PL().cairo_destroy(cr);
        platform::PL().cairo_surface_destroy(s);
        return r;
    }();
    return m;
}

int Pixels(double points) {
    return static_cast<int>(points * kDpi / 72.0 + 0.5);
}
double Points(int pixels) {
    return pixels * 72.0 / kDpi;
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

struct Drawer {
    const PageLayout& layout;
    cairo_t* cr;
    std::string utf8;
    void Text(int xPixels, int yPixels, const char* latin1) {
        Latin1ToUtf8(latin1, utf8);
        platform::PL().cairo_move_to(cr, layout.left + Points(std::max(0, xPixels)),
                                     layout.top + Points(yPixels) + Points(layout.ascent));
        platform::PL().cairo_show_text(cr, utf8.c_str());
    }
};

void PrintHeadings(Drawer& dc, char* buffer, long page, long pages) {
    const PageLayout& m = dc.layout;
    int w = (m.hres / m.avgCharWidth) / 2;
    std::snprintf(buffer, 260, "%s", gHeadingText.c_str());
    dc.Text((w - static_cast<int>(std::strlen(buffer)) / 2) * m.avgCharWidth, 0, buffer);
    std::snprintf(buffer, 260, "Page %ld of %ld", page + 1, pages);
    dc.Text((w - static_cast<int>(std::strlen(buffer)) / 2) * m.avgCharWidth, m.lineHeight, buffer);
}

int LineLimit(int maxLength) {
    return std::clamp(maxLength, 2, 259);
}

bool ReadFileBytes(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    out.clear();
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.append(chunk, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// ---- socket medium -------------------------------------------------------

int SocketTimeoutMs() {
    long s = std::atol(IniGet("SOCKETTIMEOUT", "30").c_str());
    return static_cast<int>(std::clamp(s, 1L, 3600L) * 1000);
}

int SocketFail(int err, int fd) {
    if (fd >= 0) ::close(fd);
    SetErrorDetail(FormatSystemError(nullptr, err));
    return MSG_SOCKET_WRITE;
}

bool WaitFd(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int r;
    do
        r = ::poll(&p, 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    return r > 0;
}

int SendToSocket(const std::string& bytes) {
    std::string host = "127.0.0.1", port = gSocketPort;
    size_t colon = gSocketPort.rfind(':');
    if (colon != std::string::npos) {
        host = gSocketPort.substr(0, colon);
        port = gSocketPort.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty()) host = "127.0.0.1";
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = port.empty() ? EAI_SERVICE : ::getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
    if (rc != 0) {
        SetErrorDetail(std::string(gai_strerror(rc)) + " (" + gSocketPort + ")");
        return MSG_SOCKET_WRITE;
    }
    std::signal(SIGPIPE, SIG_IGN);
    int timeout = SocketTimeoutMs();
    int fd = -1, err = ECONNREFUSED;
    for (addrinfo* a = res; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
        err = errno;
        if (err == EINPROGRESS) {
            if (WaitFd(fd, POLLOUT, timeout)) {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0) break;
            } else {
                err = ETIMEDOUT;
            }
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(res);
    if (fd < 0) return SocketFail(err, -1);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFd(fd, POLLOUT, timeout)) return SocketFail(ETIMEDOUT, fd);
            continue;
        }
        return SocketFail(n < 0 ? errno : EPIPE, fd);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    return 0;
}

// ---- command medium ------------------------------------------------------

int RunCommand(const std::string& path, std::string& detail) {
    std::string cmd = gOptions.printerCmds.value_or("lpr");
    if (cmd.empty()) cmd = "lpr";
    std::string opts = gOptions.printerOptions.value_or("");
    if (!opts.empty()) cmd += " " + opts;
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        detail = FormatSystemError(path.c_str(), errno);
        return 0;
    }
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        detail = FormatSystemError(nullptr, errno);
        ::close(in);
        return 0;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(in, 0);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 1);
        ::dup2(errPipe[1], 2);
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(in);
    ::close(errPipe[1]);
    if (pid < 0) {
        detail = FormatSystemError(nullptr, errno);
        ::close(errPipe[0]);
        return 0;
    }
    std::string err;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    bool timedOut = false;
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0 || !WaitFd(errPipe[0], POLLIN, left)) {
            timedOut = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        char buf[512];
        ssize_t n = ::read(errPipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (err.size() < 4096) err.append(buf, static_cast<size_t>(n));
    }
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    while (!err.empty() && (err.back() == '\n' || err.back() == '\r'))
        err.pop_back();
    if (timedOut) {
        detail = "\"" + cmd + "\" did not finish";
        return 0;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
    char what[64];
    if (WIFEXITED(status))
        std::snprintf(what, sizeof what, "exit status %d", WEXITSTATUS(status));
    else
        std::snprintf(what, sizeof what, "signal %d", WTERMSIG(status));
    detail = "\"" + cmd + "\" failed (" + what + ")" + (err.empty() ? "" : ": " + err);
    return 0;
}

// ---- printer and PDF -----------------------------------------------------

bool PaperIsLetter() {
    const char* env = std::getenv("PAPERSIZE");
    std::string paper = env ? env : "";
    if (paper.empty()) {
        FILE* f = std::fopen("/etc/papersize", "r");
        if (f) {
            char line[64];
            while (std::fgets(line, sizeof line, f))
                if (line[0] != '#') {
                    paper = line;
                    break;
                }
            std::fclose(f);
        }
    }
    for (char& c : paper)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return paper.rfind("letter", 0) == 0;
}

// Checks the page against the header lines; false with a status line when it cannot hold them.
bool LayoutUsable(const PageLayout& m, int h, const std::string& where) {
    if (m.lines > h && m.chars >= 2) return true;
    char text[256];
    std::snprintf(text, sizeof text,
                  "The page of %s holds %d lines of %d characters: too small to print on.",
                  where.c_str(), m.lines, m.chars);
    Ui().StatusLine(text);
    return false;
}

int DrawAndCount(const std::string& path, const PageLayout& m, int h, const std::string& heading,
                 std::string& out) {
    if (!platform::CairoReady()) {
        Ui().StatusLine("Unable to draw the pages of " + path + ": " + platform::PrintLibsError());
        return 0;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        Debug("fopen() failed in PrintFile()\n");
        return 0;
    }
    long total = GetTotalLines(path, m.chars);
    if (total == 0) {
        Debug("GetTotalLines() returned 0\n");
        std::fclose(file);
        return 0;
    }
    long pages = (total - h + m.lines - 1) / (m.lines - h);
    std::vector<char> buffer(260);
    out.clear();
    cairo_surface_t* surface = platform::PL().cairo_pdf_surface_create_for_stream(
        AppendToString, &out, m.pageWidth, m.pageHeight);
    platform::PL().cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE,
                                                  heading.c_str());
    cairo_t* cr = platform::PL().cairo_create(surface);
    platform::PL().cairo_select_font_face(cr, kFontFace, CAIRO_FONT_SLANT_NORMAL,
                                          CAIRO_FONT_WEIGHT_NORMAL);
    platform::PL().cairo_set_font_size(cr, kFontSize);
    platform::PL().cairo_set_source_rgb(cr, 0, 0, 0);
    Drawer dc{m, cr, {}};
    std::string saved = gHeadingText;
    gHeadingText = heading;
    bool exhausted = false;
    for (long p = 0; p < pages; ++p) {
        if (h) PrintHeadings(dc, buffer.data(), p, pages);
        for (int n = h; n < m.lines; ++n) {
            if (exhausted || !GetLineToPrint(file, m.chars, buffer.data())) {
                if (!exhausted) Debug("GetLineToPrint() failed in PrintFile()\n");
                exhausted = true;
                continue;
            }
            dc.Text(0, n * m.lineHeight, buffer.data());
        }
        platform::PL().cairo_show_page(cr);
    }
    gHeadingText = saved;
    cairo_status_t status = platform::PL().cairo_status(cr);
    platform::PL().cairo_destroy(cr);
    platform::PL().cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = platform::PL().cairo_surface_status(surface);
    platform::PL().cairo_surface_destroy(surface);
    std::fclose(file);
    if (status != CAIRO_STATUS_SUCCESS) {
        Ui().StatusLine(std::string("Unable to draw the pages of ") + path + ": " +
                        platform::PL().cairo_status_to_string(status));
        return 0;
    }
    return 1;
}

int SubmitToCups(const std::string& printer, const std::string& title, const std::string& pdf,
                 std::string& detail) {
    int job =
        platform::PL().cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), title.c_str(), 0, nullptr);
    if (job <= 0) {
        detail = platform::PL().cupsLastErrorString();
        return 0;
    }
    bool ok =
        platform::PL().cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), job, title.c_str(),
                                         CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    for (size_t done = 0; ok && done < pdf.size(); done += 65536) {
        size_t n = std::min<size_t>(65536, pdf.size() - done);
        ok = platform::PL().cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data() + done, n) ==
             HTTP_STATUS_CONTINUE;
    }
    ipp_status_t finish = platform::PL().cupsFinishDocument(CUPS_HTTP_DEFAULT, printer.c_str());
    if (!ok || finish > IPP_STATUS_OK_CONFLICTING) {
        detail = platform::PL().cupsLastErrorString();
        platform::PL().cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job, 0);
        return 0;
    }
    return 1;
}

int PrintOnPrinter(const std::string& path, const std::string& heading) {
    int h = gHeadings == 1 ? 3 : 0;
    char name[81];
    if (!GetDefaultPrinter(name, sizeof name)) {
        Debug("GetDefaultPrinter() failed\n");
        Ui().StatusLine("No printer is set for printing " + BaseName(path) + ".");
        return 0;
    }
    PageLayout m;
    if (!GetPrinterLayout(name, m)) {
        Debug("Unable to get printer DC\n");
        std::string why = platform::CupsReady() ? platform::PL().cupsLastErrorString()
                                                : platform::PrintLibsError();
        Ui().StatusLine(std::string("Unable to print ") + BaseName(path) + " on printer " + name +
                        ": " + why);
        return 0;
    }
    if (!LayoutUsable(m, h, std::string("printer ") + name)) return 0;
    std::string pdf;
    if (!DrawAndCount(path, m, h, heading, pdf)) return 0;
    std::string detail;
    if (!SubmitToCups(name, heading, pdf, detail)) {
        Ui().StatusLine(std::string("Unable to print ") + BaseName(path) + " on printer " + name +
                        ": " + detail);
        return 0;
    }
    return 1;
}

std::string PdfOutputName(const std::string& path) {
    std::string dir = path.find('/') == std::string::npos ? "" : DirName(path) + "/";
    std::string base = BaseName(path);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return dir + base + "f.pdf";
}

int WritePdfCopy(const std::string& path, const std::string& heading) {
    std::string outName = PdfOutputName(path);
    if (::access(outName.c_str(), F_OK) == 0) {
        char q[600];
        std::snprintf(q, sizeof q, "Output file %s already exists. Overwrite?", outName.c_str());
        if (!Ui().AskYesNo(q)) return 1;
    }
    int h = gHeadings == 1 ? 3 : 0;
    PageLayout m = DefaultLayout();
    if (!LayoutUsable(m, h, "the PDF file")) return 0;
    std::string pdf;
    if (!DrawAndCount(path, m, h, heading, pdf)) return 0;
    std::string temp = outName + ".part";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = fd < 0 ? errno : 0;
    for (size_t done = 0; fd >= 0 && done < pdf.size();) {
        ssize_t n = ::write(fd, pdf.data() + done, pdf.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(temp.c_str(), outName.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        Ui().StatusLine("Unable to write " + outName + ": " + FormatSystemError(nullptr, err));
        return 0;
    }
    return 1;
}

// One delivery attempt on the medium in force; 1 on success.
int DeliverJob(const std::string& path, const std::string& heading) {
    if (gPrintToPort == 1) {
        std::string bytes;
        if (!ReadFileBytes(path, bytes)) return 0;
        int rc = PortWrite(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (rc) Ui().StatusLine(TakeMessageText(rc));
        return rc == 0;
    }
    if (gUseSocket == 1) {
        if (IsNul(path)) return 1;
        std::string bytes;
        if (!ReadFileBytes(path, bytes)) {
            SetErrorDetail(FormatSystemError(path.c_str(), errno));
            Ui().StatusLine(TakeMessageText(MSG_SOCKET_WRITE));
            return 0;
        }
        int rc = SendToSocket(bytes);
        if (rc) Ui().StatusLine(TakeMessageText(rc));
        return rc == 0;
    }
    if (gUseCommand == 1) {
        if (IsNul(path)) return 1;
        std::string detail;
        if (!RunCommand(path, detail)) {
            Ui().StatusLine("Print command failed for " + BaseName(path) + ": " + detail);
            return 0;
        }
        return 1;
    }
    if (gPrintToFile == 1) {
        if (IsNul(path)) return 1;
        if (gFileFormat == "pdf") return WritePdfCopy(path, heading);
        return CopyToOutputFile(path);
    }
    return PrintOnPrinter(path, heading);
}

std::string gFailedDir; // folder of the last job delivered
bool gRedelivering = false;

bool MoveFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    std::string bytes;
    if (!ReadFileBytes(from, bytes)) return false;
    FILE* f = std::fopen(to.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        ::unlink(to.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

void KeepFailedJob(const std::string& path) {
    struct stat st {};
    if (IsNul(path) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return;
    std::string dir = FailedFolder(path);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        Ui().StatusLine("Unable to keep the failed job " + path + ": " +
                        FormatSystemError(dir.c_str(), errno));
        return;
    }
    // The time stamp makes the names sort oldest first and keeps reused job names apart.
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    ::gmtime_r(&ts.tv_sec, &t);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d.%09ld-", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec);
    std::string target = dir + "/" + stamp + BaseName(path);
    if (!MoveFile(path, target)) {
        Ui().StatusLine("Unable to keep the failed job " + path + ": " +
                        FormatSystemError(target.c_str(), errno));
        return;
    }
    Ui().StatusLine("The job was not delivered and is kept as " + target + ".");
}

void NoteJob(bool delivered) {
    void (*count)(bool) = &CountJob;
    asm("" : "+r"(count)); // the compiler may not assume a weak symbol is present
    if (count) count(delivered);
}

} // namespace

// ---- the interface -------------------------------------------------------

PageLayout ComputeLayout(int width, int length, int left, int top, int right, int bottom) {
    auto pt = [](int hmm) { return hmm * 72.0 / 2540.0; };
    PageLayout m;
    m.pageWidth = pt(width);
    m.pageHeight = pt(length);
    m.left = pt(left);
    m.top = pt(top);
    m.hres = std::max(0, Pixels(pt(width - left - right)));
    m.vres = std::max(0, Pixels(pt(length - top - bottom)));
    const FontMetrics& f = Metrics();
    m.lineHeight = std::max(1, Pixels(f.height));
    m.avgCharWidth = std::max(1, Pixels(f.advance));
    m.ascent = Pixels(f.ascent);
    m.chars = m.hres / m.avgCharWidth;
    m.lines = m.vres / m.lineHeight;
    return m;
}

PageLayout DefaultLayout() {
    // Quarter-inch margins, as a typical printer cannot print to the edge.
    if (PaperIsLetter()) return ComputeLayout(21590, 27940, 635, 635, 635, 635);
    return ComputeLayout(21000, 29700, 635, 635, 635, 635);
}

bool GetPrinterLayout(const std::string& printer, PageLayout& layout) {
    if (!platform::CupsReady()) return false;
    cups_dest_t* dest =
        platform::PL().cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.c_str(), nullptr);
    if (!dest) return false;
    layout = DefaultLayout();
    cups_dinfo_t* info = platform::PL().cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    cups_size_t size{};
    if (info && platform::PL().cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size) &&
        size.width > 0 && size.length > 0)
        layout =
            ComputeLayout(size.width, size.length, size.left, size.top, size.right, size.bottom);
    if (info) platform::PL().cupsFreeDestInfo(info);
    platform::PL().cupsFreeDests(1, dest);
    return true;
}

int RenderPdf(const std::string& path, const PageLayout& layout, int headerLines,
              const std::string& heading, std::string& out) {
    if (layout.lines <= headerLines || layout.chars < 2) return 0;
    return DrawAndCount(path, layout, headerLines, HeadingFor(heading), out);
}

std::string FailedFolder(const std::string& printFilePath) {
    return DirName(printFilePath) + "/failed";
}

int GetDefaultPrinter(char* buffer, size_t size) {
    std::string name = IniGet("PRINTER", "NO DEAFULT PRINTER");
    if (name.empty() || size == 0) return 0;
    std::snprintf(buffer, size, "%s", name.c_str());
    return 1;
}

long GetTotalLines(const std::string& path, int maxLength) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    char buffer[260];
    long count = 0;
    while (std::fgets(buffer, LineLimit(maxLength), f))
        ++count;
    std::fclose(f);
    return count;
}

int GetLineToPrint(FILE* file, int maxLength, char* buffer) {
    if (!std::fgets(buffer, LineLimit(maxLength), file)) return 0;
    for (char* p = buffer; *p; ++p) {
        switch (*p) {
        case 0x08:
        case 0x09:
        case 0x0B:
        case 0x0C:
        case 0x0D:
            *p = ' ';
            break;
        case 0x0A:
            *p = '\0';
            return 1;
        default:
            break;
        }
    }
    return 1;
}

int PrintFile(const std::string& path) {
    if (gPrintToPort == 1) return 1;
    gFailedDir = FailedFolder(path);
    int result = DeliverJob(path, HeadingFor(gHeadingText.empty() ? path : gHeadingText));
    NoteJob(result == 1);
    if (result != 1 && gKeepFailed == 1) KeepFailedJob(path);
    if (result == 1 && gKeepFailed == 1) RedeliverFailedJobs();
    return result;
}

void RedeliverFailedJobs() {
    if (gRedelivering) return;
    std::string dir = gFailedDir;
    if (dir.empty()) {
        std::string prefix = gOptions.fileName.value_or("");
        dir = FailedFolder(prefix.find('/') == std::string::npos ? "./x" : prefix);
    }
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    gRedelivering = true;
    for (const std::string& name : names) {
        std::string full = dir + "/" + name;
        struct stat st {};
        if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        size_t dash = name.find('-', name.find('-') + 1);
        std::string original = dash == std::string::npos ? name : name.substr(dash + 1);
        if (!DeliverJob(full, HeadingFor(original))) break; // keep order: stop at the first failure
        ::unlink(full.c_str());
        NoteJob(true);
        Ui().StatusLine("The kept job " + full + " was delivered.");
    }
    gRedelivering = false;
}
