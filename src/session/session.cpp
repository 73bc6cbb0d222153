// Client thread, session record lifecycle and the receive loop.
#include "session/session.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "config/ini.h"
#include "config/messages.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "output/printfile.h"
#include "platform/sysinfo.h"
#include "session/telnet.h"
#include "session/transport.h"

platform::Event* gStopEvent = nullptr;
Session* gSession = nullptr;

namespace {

// Guards gSession's descriptor against a Stop from another thread.
std::mutex gSocketMutex;
int gPublishedSocket = -1;

struct Stats {
    std::atomic<int> state{0}; // 0 offline, 1 connecting, 2 online
    std::atomic<uint64_t> delivered{0}, failed{0}, bytes{0};
    std::atomic<uint64_t> lastDataTick{0};
    std::mutex luMutex;
    std::string lu;
};
Stats gStats;

// The previous session ended because the server closed it: wait once before
// the next attempt, as after a failed connect.
bool gReconnectAfterClose = false;

std::unique_ptr<platform::Event> gOwnedStopEvent;
// A run still going when the process exits (a failed test, an exit from
// another thread) is stopped and joined rather than left to std::terminate.
struct ClientThread {
    std::thread thread;
    ~ClientThread() {
        if (!thread.joinable()) return;
        if (gStopEvent) gStopEvent->Set();
        thread.join();
    }
    bool joinable() const { return thread.joinable(); }
    void join() { thread.join(); }
    ClientThread& operator=(std::thread&& t) {
        thread = std::move(t);
        return *this;
    }
};
ClientThread gClientThread;
std::atomic<bool> gClientRunning{false};
std::atomic<int> gClientResult{0};

constexpr int kTermRows = 27, kTermCols = 132;
constexpr size_t kMaxLuName = 82;

long IniSeconds(const char* key, const char* def) {
    std::string v = IniGet(key, def);
    if (v.size() > 80) v.resize(80);
    return std::strtol(v.c_str(), nullptr, 10);
}

// The wait between connection attempts, in milliseconds.
long RetryDelayMs() {
    long s = IniSeconds("RETRYDELAY", "15");
    return (s < 0 ? 15 : s) * 1000;
}

bool NameTooLong(int& code) {
    const auto& c = gOptions.connectName;
    const auto& a = gOptions.associateName;
    if (c && c->size() > kMaxLuName) {
        SetErrorDetail("connect name of " + std::to_string(c->size()) + " characters; at most " +
                       std::to_string(kMaxLuName) + " fit");
        code = MSG_CFG_CONNECT_LU;
        return true;
    }
    if (!(c && !c->empty()) && a && a->size() > kMaxLuName) {
        SetErrorDetail(*a + " (" + std::to_string(a->size()) + " characters; at most " +
                       std::to_string(kMaxLuName) + " fit)");
        code = MSG_CFG_ASSOC_TOO_LONG;
        return true;
    }
    return false;
}

} // namespace

Session::Session() = default;
Session::~Session() = default;

void SetSessionSocket(Session* sp, int fd) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    sp->socket = fd;
    if (sp == gSession) gPublishedSocket = fd;
}

void CloseSessionSocket() {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    // shutdown rather than close: the client thread still owns the descriptor
    // and its poll returns at once.
    if (gPublishedSocket >= 0) ::shutdown(gPublishedSocket, SHUT_RDWR);
}

static void PublishSession(Session* sp) {
    std::lock_guard<std::mutex> lock(gSocketMutex);
    gSession = sp;
    gPublishedSocket = sp ? sp->socket : -1;
}

void CountJob(bool delivered) {
    (delivered ? gStats.delivered : gStats.failed)++;
}

void NoteBytesReceived(size_t count) {
    gStats.bytes += count;
    gStats.lastDataTick = platform::TickCount();
}

void SetSessionLuName(const std::string& name) {
    std::lock_guard<std::mutex> lock(gStats.luMutex);
    gStats.lu = name;
}

std::string SessionStatusSummary() {
    static const char* const kStates[] = {"offline", "connecting", "online"};
    std::string lu;
    {
        std::lock_guard<std::mutex> lock(gStats.luMutex);
        lu = gStats.lu.empty() ? "-" : gStats.lu;
    }
    return std::string("state ") + kStates[gStats.state.load() % 3] + ", LU " + lu +
           ", jobs delivered " + std::to_string(gStats.delivered.load()) + ", jobs failed " +
           std::to_string(gStats.failed.load()) + ", bytes received " +
           std::to_string(gStats.bytes.load());
}

std::unique_ptr<PrintBuffer> ScreenNew(Session* sp) {
    auto pb = std::make_unique<PrintBuffer>();
    pb->session = sp;
    pb->rows = sp->altRows;
    pb->cols = sp->altCols;
    pb->size = static_cast<int16_t>(sp->altRows * sp->altCols);
    if (pb->size >= 0 && pb->size < kMaxCells) pb->cells[pb->size].flags = 0xFF;
    return pb;
}

void ScreenFree(std::unique_ptr<PrintBuffer>& screen) {
    screen.reset();
}

int SessionNew(Session* sp) {
    gConnectTimeout = IniSeconds("CONNECTTIMEOUT", "15") * 1000;
    if (sp->host.empty()) {
        char name[64];
        if (gethostname(name, sizeof name) != 0) {
            SetErrorDetail(FormatSystemError(nullptr, errno));
            return MSG_NO_LOCAL_HOST;
        }
        name[sizeof name - 1] = 0;
        sp->host = name;
    }
    sp->termType = sp->termModel == 11 ? "IBM-LU1" : "IBM-LU3";
    sp->tblRows = kTermRows;
    sp->tblCols = kTermCols;
    sp->tblSize = kTermRows * kTermCols;
    sp->rows = 24;
    sp->cols = 80;
    sp->size = 1920;
    sp->altCols = sp->tblCols;
    sp->altRows = sp->tblRows;
    sp->altSize = sp->tblSize;
    sp->maxRecord = std::clamp(sp->maxRecordSetting, 2048, 24576);
    sp->prScreen = std::make_unique<ScreenNameRec>();
    sp->screen = ScreenNew(sp);
    sp->luAddress = -1;
    sp->session = 0xFF;
    sp->extOption = sp->extAllowed;
    if (gOptions.luNumber && !gOptions.luNumber->empty()) {
        char c = (*gOptions.luNumber)[0];
        if (c >= 'a' && c <= 'e')
            sp->session = static_cast<uint8_t>(c - 'a');
        else if (c >= 'A' && c <= 'E')
            sp->session = static_cast<uint8_t>(c - 'A');
        else if (c >= '0' && c <= '4')
            sp->session = static_cast<uint8_t>(c - '0');
        Trace("SessionNew Session = sp->session = %d\n", sp->session);
    }
    if (gOptions.luAddress && !gOptions.luAddress->empty()) {
        const char* text = gOptions.luAddress->c_str();
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(text, &end, 0);
        sp->luAddress = (errno == 0 && end != text && *end == 0 && v >= 0 && v <= 255)
                            ? static_cast<int16_t>(v)
                            : int16_t(-1);
        Trace("SessionNEw LU = %d\n", sp->luAddress);
    }
    int tooLong = 0;
    if (NameTooLong(tooLong)) return tooLong;

    gStats.state = 1;
    uint64_t start = platform::TickCount();
    int rc;
    if (gReconnectAfterClose) {
        gReconnectAfterClose = false;
        if (gStopEvent && gStopEvent->Wait(static_cast<int>(RetryDelayMs())))
            return MSG_EXIT_PARENT;
        ShowStatusMessage(MSG_ATTEMPTING_CONNECT);
    }
    rc = TelConnect(sp);
    while (rc != 0) {
        if (rc == MSG_EXIT_PARENT || rc == MSG_INVALID_HOST || rc == MSG_INVALID_PORT) return rc;
        ShowStatusMessage(rc);
        if (gConnectTimeout != 0 &&
            platform::TickCount() - start > static_cast<uint64_t>(gConnectTimeout)) {
            ShowOnlineState(false);
            return MSG_UNABLE_CONNECT_SERVER;
        }
        if (gStopEvent && gStopEvent->Wait(static_cast<int>(RetryDelayMs())))
            return MSG_EXIT_PARENT;
        ShowStatusMessage(MSG_ATTEMPTING_CONNECT);
        TelClose(sp);
        rc = TelConnect(sp);
    }
    gStats.state = 2;
    gStats.lastDataTick = platform::TickCount();
    ShowOnlineState(true);
    PrScreenInit(sp);
    return 0;
}

int PtMainLoop(Session* sp) {
    long eojTimeoutMs = IniSeconds("EOJTIMEOUT", "0") * 1000;
    for (;;) {
        int rc;
        if (sp->transport && sp->transport->Pending()) {
            rc = TelProc(sp);
        } else {
            Trace("Calling select() in PtMainLoop()\n");
            int timeout = -1;
            if (eojTimeoutMs > 0 && sp->fileStarted) {
                uint64_t idle = platform::TickCount() - gStats.lastDataTick.load();
                timeout = idle >= static_cast<uint64_t>(eojTimeoutMs)
                              ? 0
                              : static_cast<int>(eojTimeoutMs - static_cast<long>(idle));
            }
            pollfd p[2] = {{sp->socket, POLLIN, 0},
                           {gStopEvent ? gStopEvent->fd() : -1, POLLIN, 0}};
            int r = ::poll(p, 2, timeout);
            if (p[1].revents & POLLIN) return MSG_EXIT_PARENT;
            if (r < 0) {
                if (errno == EINTR) continue;
                SetErrorDetail(FormatSystemError(nullptr, errno));
                return MSG_SOCKET_ERROR;
            }
            if (r == 0) {
                // A job that has been silent for too long is ended as by PRINT-EOJ.
                if (sp->fileStarted && platform::TickCount() - gStats.lastDataTick.load() >=
                                           static_cast<uint64_t>(eojTimeoutMs)) {
                    Trace("No data for %ld s: job ended\n", eojTimeoutMs / 1000);
                    PrScreenRemote(sp);
                    sp->bracket = 0;
                }
                continue;
            }
            if (!p[0].revents) continue;
            Trace("FD_ISSET() TRUE, calling TelProc()\n");
            rc = TelProc(sp);
        }
        if (rc == kTelClosed) {
            if (gStopEvent && gStopEvent->IsSet()) return MSG_EXIT_PARENT;
            // The job received so far is delivered, never lost.
            if (sp->fileStarted) PrScreenRemote(sp);
            sp->bracket = 0;
            gStats.state = 1;
            Ui().StatusLine(std::string(StatusMessage(2)) + "\n" + LoadMessage(96));
            gReconnectAfterClose = true;
            return 0;
        }
        if (rc) return rc;
        Trace("TelProc() returned 0\n");
    }
}

void SessionFree(Session* sp) {
    TelClose(sp);
    ScreenFree(sp->screen);
    sp->prScreen.reset();
}

int PtClientThread(void*) {
    int rc = 0;
    bool first = true;
    gReconnectAfterClose = false;
    for (;;) {
        if (!gSessionFileInForce) gHostName.clear();
        std::string cfg = IniGet("CONFIGFILE", "KESLUPRT.CFG");
        if (cfg.size() > 255) cfg.resize(255);
        size_t cut = cfg.find_last_of("/\\");
        gLuConfigPath =
            (cut == std::string::npos ? std::string() : cfg.substr(0, cut + 1)) + "kesluprt.cfg";
        for (char& c : gLuConfigPath)
            if (c == '\\') c = '/';
        rc = Configure();
        if (rc) break;
        if (first) {
            first = false;
            RedeliverFailedJobs();
        }
        if (!gHostName.empty()) {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            addrinfo* res = nullptr;
            int gai = getaddrinfo(gHostName.c_str(), nullptr, &hints, &res);
            if (res) freeaddrinfo(res);
            if (gai != 0) {
                SetErrorDetail(gHostName + ": " + gai_strerror(gai));
                rc = MSG_NO_LOCAL_HOST;
                break;
            }
        }
        auto sp = std::make_unique<Session>();
        sp->bracket = 0;
        sp->fileStarted = false;
        sp->extendedTypes = false;
        sp->socket = -1;
        sp->host = gHostName;
        sp->service = gOptions.serverName.value_or("");
        sp->termModel = Lutype + 10;
        sp->maxRecordSetting = 0;
        sp->extAllowed = true;
        PublishSession(sp.get());
        rc = SessionNew(sp.get());
        if (rc == 0) {
            rc = PtMainLoop(sp.get());
            SessionFree(sp.get());
        } else {
            SessionFree(sp.get());
        }
        PublishSession(nullptr);
        sp.reset();
        if (rc != 0) break;
    }
    gStats.state = 0;
    std::string text = LoadMessage(rc);
    if (rc == MSG_LU_MISMATCH) text += Lutype == 3 ? " 1" : " 3";
    if (!gErrorDetail.empty()) {
        text += " " + gErrorDetail;
        gErrorDetail.clear();
    }
    if (rc != MSG_EXIT_PARENT) Ui().ShowMessageBox(text);
    if (gDebug) DebugPrint(text + "\n");
    Trace("%s\n", text.c_str());
    ShowOnlineState(false);
    ReleaseOptions();
    gClientResult = rc;
    return rc == 0 || rc == MSG_EXIT_PARENT ? 1 : 0;
}

bool ClientStart() {
    if (gClientRunning) return false;
    if (gClientThread.joinable()) gClientThread.join();
    gOwnedStopEvent = std::make_unique<platform::Event>();
    if (gOwnedStopEvent->fd() < 0) return false;
    gStopEvent = gOwnedStopEvent.get();
    gClientRunning = true;
    gClientThread = std::thread([] {
        PtClientThread(gStopEvent);
        gClientRunning = false;
    });
    return true;
}

void ClientStop() {
    if (gStopEvent) gStopEvent->Set();
    CloseSessionSocket();
    if (gClientThread.joinable()) gClientThread.join();
}

bool ClientRunning() {
    return gClientRunning;
}

int ClientWait() {
    if (gClientThread.joinable()) gClientThread.join();
    return gClientResult;
}
