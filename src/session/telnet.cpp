// Telnet and TN3270E client protocol: connection, receive state machine,
// TN3270E messages and responses, send path and protocol trace.
#include "session/telnet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/messages.h"
#include "config/options.h"
#include "config/translate.h"
#include "config/utilities.h"
#include "datastream/datastream.h"
#include "datastream/printbuffer.h"
#include "datastream/screen.h"
#include "platform/sysinfo.h"
#include "session/session.h"
#include "session/transport.h"

namespace {

constexpr uint8_t IAC = 0xFF, DONT = 0xFE, DO = 0xFD, WONT = 0xFC, WILL = 0xFB, SB = 0xFA,
                  SE = 0xF0, EOR = 0xEF;
constexpr uint8_t OPT_BINARY = 0x00, OPT_TTYPE = 0x18, OPT_EOR = 0x19, OPT_TN3270E = 0x28,
                  OPT_EXT = 0x37;
constexpr size_t kRcvSize = 4096, kSendSize = 4096, kSbSize = 1024;
// Room for the name in the 100-byte DEVICE-TYPE REQUEST area.
constexpr size_t kMaxLuName = 82;

// TN3270E header state of the current connection.
uint8_t gHeader[8];
int gHeaderIndex = 0;
bool gInRecord = false;
bool gMustRespond = false;
// A lone IAC seen while a message is skipped or its header is read.
bool gSkipIac = false;
// The current subnegotiation outgrew sbbuf and is dropped at its IAC SE.
bool gSbOverflow = false;

FILE* gTraceLog = nullptr;

void ClearConnectionState() {
    gFunctionsAgreed = false;
    std::memset(gHeader, 0, sizeof gHeader);
    gHeaderIndex = 0;
    gInRecord = false;
    gMustRespond = false;
    gSkipIac = false;
    gSbOverflow = false;
}

void SetSystemDetail(int err) {
    SetErrorDetail(FormatSystemError(nullptr, err));
}

inline void StoreByte(Session* sp, uint8_t c) {
    // The block was made to fit before processing; this only guards a buffer
    // shrunk back in the middle of a block.
    if (sp->recPtr >= sp->recBuf.size()) sp->recBuf.resize(sp->recBuf.size() * 2 + 16);
    sp->recBuf[sp->recPtr++] = c;
}

int SendBytes(Session* sp, std::initializer_list<uint8_t> bytes) {
    return TelSend(sp, bytes.begin(), bytes.size());
}

// Sends an option 0x37 message; FF bytes of the body go out doubled.
int SendExtension(Session* sp, const uint8_t* body, size_t length) {
    uint8_t out[2 * 1100 + 8];
    size_t n = 0;
    out[n++] = IAC;
    out[n++] = SB;
    out[n++] = OPT_EXT;
    for (size_t i = 0; i < length && n < sizeof out - 4; ++i) {
        out[n++] = body[i];
        if (body[i] == IAC) out[n++] = IAC;
    }
    out[n++] = IAC;
    out[n++] = SE;
    return TelSend(sp, out, n);
}

// Ends the open job, if any, with its trace line.
void EndJob(Session* sp, const char* traceLine) {
    if (sp->fileStarted) {
        PrScreenRemote(sp);
        Trace("%s", traceLine);
    }
}

int OptionReply(Session* sp, uint8_t cmd, uint8_t option) {
    int rc = 0;
    switch (cmd) {
    case WILL:
        if (sp->hisOpts[option] != 3) {
            bool ok = TelOptionOk(sp, option);
            sp->hisOpts[option] = ok ? 3 : 2;
            rc = SendBytes(sp, {IAC, static_cast<uint8_t>(ok ? DO : DONT), option});
        }
        break;
    case WONT:
        if (sp->hisOpts[option] == 0 || sp->hisOpts[option] == 3)
            rc = SendBytes(sp, {IAC, DONT, option});
        sp->hisOpts[option] = 2;
        break;
    case DO:
        if (sp->myOpts[option] != 3) {
            bool ok = TelOptionOk(sp, option);
            sp->myOpts[option] = ok ? 3 : 2;
            rc = SendBytes(sp, {IAC, static_cast<uint8_t>(ok ? WILL : WONT), option});
        }
        break;
    case DONT:
        if (sp->myOpts[option] == 0 || sp->myOpts[option] == 3)
            rc = SendBytes(sp, {IAC, WONT, option});
        sp->myOpts[option] = 2;
        break;
    }
    sp->state = TNS_DATA;
    TelModeCheck(sp);
    return rc;
}

int SendDeviceTypeRequest(Session* sp) {
    uint8_t req[100];
    size_t n = 0;
    const uint8_t head[] = {IAC, SB, OPT_TN3270E, 0x02, 0x07};
    std::memcpy(req, head, sizeof head);
    n = sizeof head;
    std::memcpy(req + n, "IBM-3287-1", 10);
    n += 10;
    const std::string* name = nullptr;
    if (gOptions.connectName && !gOptions.connectName->empty()) {
        req[n++] = 0x01;
        name = &*gOptions.connectName;
    } else if (gOptions.associateName && !gOptions.associateName->empty()) {
        req[n++] = 0x00;
        name = &*gOptions.associateName;
    }
    if (name) {
        // Names that do not fit are refused before connecting; this keeps the area safe.
        size_t len = std::min(name->size(), kMaxLuName);
        std::memcpy(req + n, name->data(), len);
        n += len;
    }
    req[n++] = IAC;
    req[n++] = SE;
    return TelSend(sp, req, n);
}

int Tn3270eSub(Session* sp, size_t len) {
    const uint8_t* sb = sp->sbbuf.data();
    Trace("WE GOT TN3270E suboption negotiation)\n");
    uint8_t b1 = len > 1 ? sb[1] : 0, b2 = len > 2 ? sb[2] : 0;
    switch (b1) {
    case 0x08:
        Trace("We got a SEND\n");
        if (b2 == 0x02) {
            Trace("We got a DEVICE TYPE\n");
            return SendDeviceTypeRequest(sp);
        }
        Trace("UNKNOWN 3270E sbbuf2 command\n");
        return 0;
    case 0x02:
        Trace(" 3270E sbbuf1 command DEVICE_TYPE\n");
        if (b2 == 0x04) {
            Trace(" 3270E sbbuf1 command IS\n");
            if (len > 3 && sb[3] == 0x01) {
                Trace(" 3270E sbbuf1 command CONNECT\n");
                bool same = len >= 14 && std::memcmp(sb + 4, "SCSPRINTER", 10) == 0;
                Trace(same ? "COMPARED %02X\n" : "DID NOT COMPARE %02X\n", len > 4 ? sb[4] : 0);
            }
            // The LU name granted follows the CONNECT byte after the device type.
            for (size_t i = 3; i < len; ++i) {
                if (sb[i] == 0x01) {
                    SetSessionLuName(
                        std::string(reinterpret_cast<const char*>(sb + i + 1), len - i - 1));
                    break;
                }
            }
            static const uint8_t funcs[] = {IAC,  SB,   OPT_TN3270E, 0x03, 0x07,
                                            0x00, 0x01, 0x02,        0x03, 0x04};
            static const uint8_t end[] = {IAC, SE};
            int rc = TelSend(sp, funcs, sizeof funcs);
            if (rc == 0) rc = TelSend(sp, end, sizeof end);
            return rc;
        }
        Trace(" UNKNOWN sbbuf2 after TYPE IS\n");
        return 0;
    case 0x03:
        Trace("We got a FUNCTIONS \n");
        if (b2 == 0x04) {
            Trace("We got a FUNCTIONS IS\n");
            gFunctionsAgreed = true;
            sp->comstate = 0;
        } else if (b2 == 0x07) {
            Trace("We got a FUNCTIONS REQUEST\n");
        } else {
            Trace("We got a FUNCTIONS then UNKNOWN\n");
        }
        return 0;
    default:
        Trace("UNKNOWN 3270E sbbuf1 command\n");
        return 0;
    }
}

int Subnegotiation(Session* sp) {
    size_t len = sp->sbPtr;
    if (gSbOverflow) {
        gSbOverflow = false;
        Trace("Subnegotiation longer than %zu bytes dropped\n", kSbSize);
        return 0;
    }
    if (len == 0) return 0;
    const uint8_t* sb = sp->sbbuf.data();
    switch (sb[0]) {
    case OPT_TTYPE:
        if (len > 1 && sb[1] == 0x01) {
            static const uint8_t head[] = {IAC, SB, OPT_TTYPE, 0x00};
            static const uint8_t end[] = {IAC, SE};
            int rc = TelSend(sp, head, sizeof head);
            if (rc == 0)
                rc = TelSend(sp, reinterpret_cast<const uint8_t*>(sp->termType.data()),
                             sp->termType.size());
            if (rc == 0) rc = TelSend(sp, end, sizeof end);
            return rc;
        }
        return 0;
    case OPT_EXT:
        return TelExtension(sp);
    case OPT_TN3270E:
        return Tn3270eSub(sp, len);
    default:
        return 0;
    }
}

// End of a data record: response first, then the hand-over.
int EndOfRecord(Session* sp) {
    Trace("SEEN AN EOR\n");
    if (gInRecord) Trace("process 3270 type E\n");
    if (gFunctionsAgreed && !gInRecord) {
        // An IAC EOR outside any data message carries nothing for the printer.
        TelRecordReset(sp);
        return 0;
    }
    if (!sp->mode3270 && !gInRecord) return 0;
    gInRecord = false;
    Trace("process 3270\n");
    sp->recLength = static_cast<int32_t>(sp->recPtr);
    if (gMustRespond) {
        gMustRespond = false;
        gHeader[0] = 0x02;
        gHeader[2] = 0x00;
        uint8_t out[12];
        size_t n = 0;
        for (int i = 0; i < 5; ++i) {
            out[n++] = gHeader[i];
            if (gHeader[i] == IAC) out[n++] = IAC;
        }
        out[n++] = IAC;
        out[n++] = EOR;
        int rc = TelSend(sp, out, n);
        if (rc) return rc;
    }
    return TelRecordDone(sp);
}

// A DATA-TYPE byte at the start of a TN3270E message.
void HeaderStart(Session* sp, uint8_t c) {
    sp->comstate = 4;
    switch (c) {
    case 0x00:
    case 0x01:
        gHeader[0] = c;
        gHeaderIndex = 1;
        sp->state = c == 0x00 ? TNS_LU3 : TNS_LU1;
        break;
    case 0x02:
        sp->state = TNS_RESPONSE;
        break;
    case 0x03:
        sp->state = TNS_BIND;
        Trace("RECEIVED BIND %d\n", sp->fileStarted ? 1 : 0);
        EndJob(sp, "PrScreenRemote(sp) called from case 0x03\n");
        break;
    case 0x04:
        sp->comstate = 7;
        sp->state = TNS_UNBIND;
        EndJob(sp, "PrScreenRemote(sp) called from case 0x04\n");
        break;
    case 0x05:
        sp->state = TNS_NVT;
        break;
    case 0x08:
        sp->comstate = 6;
        sp->state = TNS_EOJ;
        Trace("RECEIVED EOJ %d\n", sp->fileStarted ? 1 : 0);
        EndJob(sp, "PrScreenRemote(sp) called from case 0x08\n");
        break;
    default:
        // REQUEST, SSCP-LU-DATA and unknown types are not for the printer.
        Trace("DATA-TYPE %02X dropped to its IAC EOR\n", c);
        sp->state = TNS_SKIP;
        break;
    }
    gSkipIac = false;
}

// IAC handling inside messages that are read by count or skipped. Returns
// 1 for a data byte, 2 at the message's IAC EOR, 0 for a byte to ignore.
inline int SkipIac(uint8_t c) {
    if (gSkipIac) {
        gSkipIac = false;
        if (c == IAC) return 1;
        if (c == EOR) return 2;
        return 0;
    }
    if (c == IAC) {
        gSkipIac = true;
        return 0;
    }
    return 1;
}

int HandleByte(Session* sp, uint8_t c) {
    switch (sp->state) {
    case TNS_DATA:
        if (gFunctionsAgreed && !gInRecord && c != SE && c != IAC) {
            Trace("NEG3270 complete comstate %d \n", sp->comstate);
            if (sp->comstate == 0) {
                HeaderStart(sp, c);
                if (sp->state != TNS_DATA) {
                    StoreByte(sp, c);
                    return 0;
                }
            }
        }
        if (c == IAC)
            sp->state = TNS_IAC;
        else
            StoreByte(sp, c);
        return 0;
    case TNS_IAC:
        sp->comstate = 0;
        if (c == EOR) {
            sp->state = TNS_DATA;
            return EndOfRecord(sp);
        }
        if (c == SB) {
            sp->sbPtr = 0;
            gSbOverflow = false;
            sp->state = TNS_SB;
        } else if (c == WILL)
            sp->state = TNS_WILL;
        else if (c == WONT)
            sp->state = TNS_WONT;
        else if (c == DO)
            sp->state = TNS_DO;
        else if (c == DONT)
            sp->state = TNS_DONT;
        else {
            if (c == IAC) StoreByte(sp, c);
            sp->state = TNS_DATA;
        }
        return 0;
    case TNS_WILL:
        return OptionReply(sp, WILL, c);
    case TNS_WONT:
        return OptionReply(sp, WONT, c);
    case TNS_DO:
        return OptionReply(sp, DO, c);
    case TNS_DONT:
        return OptionReply(sp, DONT, c);
    case TNS_SB:
        if (c == IAC)
            sp->state = TNS_SB_IAC;
        else if (sp->sbPtr < sp->sbbuf.size())
            sp->sbbuf[sp->sbPtr++] = c;
        else
            gSbOverflow = true;
        return 0;
    case TNS_SB_IAC:
        if (c == SE) {
            sp->state = TNS_DATA;
            return Subnegotiation(sp);
        }
        if (sp->sbPtr < sp->sbbuf.size())
            sp->sbbuf[sp->sbPtr++] = c;
        else
            gSbOverflow = true;
        sp->state = TNS_SB;
        return 0;
    case TNS_LU1:
    case TNS_LU3: {
        int k = SkipIac(c);
        if (k == 2) {
            // A message that ends inside its header carries no record.
            Trace("Header cut short by IAC EOR\n");
            sp->state = TNS_DATA;
            sp->comstate = 0;
            gHeaderIndex = 0;
            TelRecordReset(sp);
            return 0;
        }
        if (k == 0) return 0;
        bool lu3 = sp->state == TNS_LU3;
        if (gHeaderIndex < 5) gHeader[gHeaderIndex++] = c;
        if (lu3)
            Trace("LU3_DATA current %02X header %02X %02X %02X %02X %02X\n", c, gHeader[0],
                  gHeader[1], gHeader[2], gHeader[3], gHeader[4]);
        else
            Trace("LU1_DATA cur %02X  header %02X %02X %02X %02X %02X\n", c, gHeader[0], gHeader[1],
                  gHeader[2], gHeader[3], gHeader[4]);
        if (--sp->comstate <= 0) {
            sp->comstate = 0;
            gHeaderIndex = 0;
            Lutype = lu3 ? 3 : 1;
            sp->state = TNS_DATA;
            gInRecord = true;
            gMustRespond = gHeader[2] == 0x02;
            if (gMustRespond)
                Trace(lu3 ? "TNS_LU3 3270E_DATA must send response\n"
                          : "TNS_LU1 3270E_DATA must send response\n");
            if (lu3) Trace("TNS_LU3 3270E_DATA down to ZER0\n");
            TelRecordReset(sp);
        }
        return 0;
    }
    case TNS_BIND: {
        int k = SkipIac(c);
        if (k == 2) {
            sp->state = TNS_DATA;
            sp->comstate = 0;
            TelRecordReset(sp);
        }
        if (sp->fileStarted)
            EndJob(sp, "PrScreenRemote(sp) called from TNS_BIND\n");
        else
            Trace("PRINT NOT STARTED no file yet\n");
        sp->bracket = 0;
        return 0;
    }
    case TNS_UNBIND:
    case TNS_EOJ: {
        // Skipped to the IAC EOR, whatever the length of the message.
        if (SkipIac(c) != 2) return 0;
        bool unbind = sp->state == TNS_UNBIND;
        sp->state = TNS_DATA;
        sp->comstate = 0;
        EndJob(sp, unbind ? "PrScreenRemote(sp) called from TNS_UNBIND\n"
                          : "PrScreenRemote(sp) called fron TNS_EOJ\n");
        sp->bracket = 0;
        TelRecordReset(sp);
        return 0;
    }
    case TNS_RESPONSE: {
        int k = SkipIac(c);
        if (k == 2) {
            Trace("END of RESPONSE %02X\n", c);
            TelRecordReset(sp);
            sp->state = TNS_DATA;
            sp->comstate = 0;
        } else if (k == 1 && sp->comstate > 0 && --sp->comstate == 0) {
            Trace("RESPONSE 3270E_DATA down to ZER0\n");
        }
        return 0;
    }
    case TNS_NVT:
        Trace("NVT DATA\n");
        if (SkipIac(c) == 2) {
            TelRecordReset(sp);
            sp->state = TNS_DATA;
            sp->comstate = 0;
        }
        return 0;
    case TNS_SKIP:
        if (SkipIac(c) == 2) {
            TelRecordReset(sp);
            sp->state = TNS_DATA;
            sp->comstate = 0;
        }
        return 0;
    default:
        sp->state = TNS_DATA;
        return 0;
    }
}

// Connects fd to the resolved address while watching the stop event.
int ConnectWatched(int fd, const sockaddr_in& addr) {
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    for (;;) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {gStopEvent ? gStopEvent->fd() : -1, POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (p[1].revents & POLLIN) return -1;
        if (p[0].revents) break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return errno;
    return err;
}

bool Stopped(int ms) {
    return gStopEvent && gStopEvent->Wait(ms);
}

} // namespace

bool gFunctionsAgreed = false;

int TelAttach(Session* sp, int fd, std::unique_ptr<Transport> transport) {
    int32_t initial = sp->tblSize + 256;
    if (initial <= 256) initial = 27 * 132 + 256;
    sp->recInitial = sp->recCapacity = initial;
    sp->recBuf.assign(static_cast<size_t>(initial), 0);
    sp->recPtr = sp->recStart = 0;
    sp->recLength = 0;
    sp->smallRecords = 0;
    sp->buildSize = initial / 2;
    sp->buildBuf.assign(static_cast<size_t>(sp->buildSize), 0);
    sp->sbbuf.assign(kSbSize, 0);
    sp->sbPtr = 0;
    sp->hisOpts.assign(256, 0);
    sp->myOpts.assign(256, 0);
    sp->rcvBuf.assign(kRcvSize, 0);
    sp->sendBuf.assign(kSendSize, 0);
    sp->owner = 2;
    sp->mode3270 = false;
    sp->comstate = 0;
    sp->state = TNS_DATA;
    ClearConnectionState();
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        SetSystemDetail(errno);
        ::close(fd);
        return MSG_SOCKET_ERROR;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SetSessionSocket(sp, fd);
    sp->transport = transport ? std::move(transport) : MakeTransport();
    int rc = sp->transport->Start(fd, sp->host);
    if (rc) TelClose(sp);
    return rc;
}

int TelConnect(Session* sp) {
    ClearConnectionState();
    sp->owner = 2;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int gai = getaddrinfo(sp->host.c_str(), nullptr, &hints, &res);
    if (gai == 0 && res) {
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    } else {
        if (res) freeaddrinfo(res);
        Trace("gethostbyname() failed: %s\n", gai_strerror(gai));
        if (Stopped(0)) return MSG_EXIT_PARENT;
        if (inet_pton(AF_INET, sp->host.c_str(), &addr.sin_addr) != 1) return MSG_INVALID_HOST;
    }
    std::string service = sp->service.empty() ? "kesservd" : sp->service;
    long port = std::strtol(service.c_str(), nullptr, 10);
    if (port > 0 && port < 65536) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
    } else {
        servent* se = getservbyname(service.c_str(), "tcp");
        if (!se) return MSG_INVALID_PORT;
        addr.sin_port = static_cast<uint16_t>(se->s_port);
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetSystemDetail(errno);
        return MSG_SOCKET_ERROR;
    }
    SetSessionSocket(sp, fd);
    Trace("Trying to connect to %s\n", sp->host.c_str());
    int err = ConnectWatched(fd, addr);
    if (err != 0) {
        SetSessionSocket(sp, -1);
        ::close(fd);
        if (err < 0 || Stopped(0)) return MSG_EXIT_PARENT;
        SetSystemDetail(err);
        return MSG_UNABLE_CONNECT;
    }
    Trace("Connected to %s\n", sp->host.c_str());
    if (Stopped(0)) {
        SetSessionSocket(sp, -1);
        ::close(fd);
        return MSG_EXIT_PARENT;
    }
    return TelAttach(sp, fd, nullptr);
}

void TelClose(Session* sp) {
    if (gTraceLog) {
        std::fclose(gTraceLog);
        gTraceLog = nullptr;
    }
    if (sp->transport) {
        // Cleared under the socket lock so that a Stop from the window never
        // shuts down a descriptor number that has been reused.
        SetSessionSocket(sp, -1);
        sp->transport->Close();
        sp->transport.reset();
    } else if (sp->socket >= 0) {
        int fd = sp->socket;
        SetSessionSocket(sp, -1);
        ::close(fd);
    }
    for (auto* v : {&sp->recBuf, &sp->buildBuf, &sp->sbbuf, &sp->hisOpts, &sp->myOpts, &sp->rcvBuf,
                    &sp->sendBuf}) {
        v->clear();
        v->shrink_to_fit();
    }
    sp->recPtr = sp->recStart = sp->sbPtr = 0;
    sp->recLength = sp->recCapacity = sp->buildSize = 0;
}

int TelProc(Session* sp) {
    if (!sp->transport || sp->rcvBuf.empty()) return 0;
    for (;;) {
        long n = sp->transport->Recv(sp->rcvBuf.data(), kRcvSize);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            if (errno == ECONNRESET || errno == ENOTCONN || errno == EPIPE) return kTelClosed;
            SetSystemDetail(errno);
            return MSG_SOCKET_ERROR;
        }
        if (n == 0) return kTelClosed;
        NoteBytesReceived(static_cast<size_t>(n));
        TelTrace(sp, 1, kRcvSize, static_cast<size_t>(n), sp->rcvBuf.data());
        int64_t wanted = static_cast<int64_t>(sp->recPtr) + n;
        if (wanted > sp->recCapacity) {
            if (wanted > kMaxRecordBuffer) {
                SetErrorDetail("record longer than " + std::to_string(kMaxRecordBuffer) +
                               " bytes from the server");
                return MSG_MEMORY;
            }
            TelRecordResize(sp, static_cast<int32_t>(wanted));
        }
        const uint8_t* p = sp->rcvBuf.data();
        for (long i = 0; i < n; ++i) {
            int rc = HandleByte(sp, p[i]);
            if (rc) return rc;
        }
        sp->recLength = static_cast<int32_t>(sp->recPtr);
        if (!sp->mode3270 && sp->recLength != 0) return 0;
    }
}

bool TelOptionOk(Session* sp, int option) {
    switch (option) {
    case 0x00:
    case 0x01:
    case 0x03:
    case 0x18:
    case 0x19:
    case 0x38:
        return true;
    case 0x37:
        return sp->extOption;
    case 0x28:
        return gUse3270E != 0;
    default:
        return false;
    }
}

void TelModeCheck(Session* sp) {
    bool on = sp->myOpts[OPT_EOR] == 3 && sp->hisOpts[OPT_EOR] == 3 &&
              sp->myOpts[OPT_BINARY] == 3 && sp->hisOpts[OPT_BINARY] == 3;
    if (on != sp->mode3270) {
        sp->mode3270 = on;
        TelRecordReset(sp);
        if (sp->screen) ClearPrintBuffer(sp->screen.get());
    }
}

void TelRecordReset(Session* sp) {
    sp->recPtr = 0;
    sp->recStart = 0;
    sp->recLength = 0;
}

void TelRecordResize(Session* sp, int32_t wanted) {
    if (sp->recLength != 0) {
        sp->recBuf.resize(static_cast<size_t>(wanted));
        sp->recPtr = static_cast<size_t>(std::min(sp->recLength, wanted));
    } else {
        std::vector<uint8_t>(static_cast<size_t>(wanted), 0).swap(sp->recBuf);
        sp->recPtr = 0;
    }
    sp->recStart = 0;
    sp->recCapacity = wanted;
    sp->smallRecords = 0;
}

int TelRecordDone(Session* sp) {
    int32_t length = sp->recLength;
    const uint8_t* data = sp->recBuf.data() + sp->recStart;
    int result;
    if (length <= INT16_MAX) {
        result = TelDeliverRecord(sp, data, static_cast<int16_t>(length));
    } else {
        // Longer than the hand-over's count: same path, wide length.
        if (gDeliverObserver) gDeliverObserver(data, length);
        result = dsoutproc(sp, data, length);
        int32_t f = FinishRecord(sp);
        if (!result) result = f;
    }
    if (result > 0) return result;
    TelRecordReset(sp);
    sp->state = TNS_DATA;
    if (sp->recCapacity > sp->recInitial && ++sp->smallRecords > 8)
        TelRecordResize(sp, sp->recInitial);
    if (result < 0) {
        if (sp->extOption && !sp->hisOpts.empty() && sp->hisOpts[OPT_EXT] == 3) {
            unsigned v = static_cast<unsigned>(-result);
            const uint8_t body[] = {0x21, static_cast<uint8_t>(v >> 8),
                                    static_cast<uint8_t>(v & 0xFF), 0x00};
            return SendExtension(sp, body, sizeof body);
        }
        return MSG_LU_MISMATCH;
    }
    return 0;
}

int TelSend(Session* sp, const uint8_t* bytes, size_t length) {
    if (!sp->transport) {
        SetErrorDetail(FormatSystemError(nullptr, ENOTCONN));
        return MSG_SOCKET_ERROR;
    }
    while (length > 0) {
        long n = sp->transport->Send(bytes, length);
        if (n > 0) TelTrace(sp, 0, length, static_cast<size_t>(n), bytes);
        if (n >= 0 && static_cast<size_t>(n) == length) return 0;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                n = 0;
            } else {
                SetSystemDetail(errno);
                return MSG_SOCKET_ERROR;
            }
        }
        bytes += n;
        length -= static_cast<size_t>(n);
        int rc = TelWaitWritable(sp);
        if (rc) return rc;
    }
    return 0;
}

int TelSendEscaped(Session* sp, const uint8_t* bytes, size_t length, bool endOfRecord) {
    if (sp->sendBuf.size() < kSendSize) sp->sendBuf.assign(kSendSize, 0);
    uint8_t* buf = sp->sendBuf.data();
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        buf[n++] = bytes[i];
        if (bytes[i] == IAC) buf[n++] = IAC;
        if (n >= kSendSize - 3) {
            int rc = TelSend(sp, buf, n);
            if (rc) return rc;
            n = 0;
        }
    }
    if (endOfRecord) {
        buf[n++] = IAC;
        buf[n++] = EOR;
    }
    return TelSend(sp, buf, n);
}

int TelSendRecord(Session* sp, const uint8_t* bytes, size_t length) {
    return TelSendEscaped(sp, bytes, length, true);
}

int TelWaitWritable(Session* sp) {
    time_t deadline = std::time(nullptr) + 5;
    for (;;) {
        pollfd p[2] = {{sp->socket, POLLOUT, 0}, {gStopEvent ? gStopEvent->fd() : -1, POLLIN, 0}};
        int r = ::poll(p, 2, 5000);
        if (p[1].revents & POLLIN) return MSG_EXIT_PARENT;
        if (r < 0) {
            if (errno == EINTR) continue;
            SetSystemDetail(errno);
            return MSG_SOCKET_ERROR;
        }
        if (r > 0 && p[0].revents) return 0;
        if (std::time(nullptr) > deadline) return MSG_WRITE_TIMEOUT;
    }
}

void TelTrace(Session*, int direction, size_t requested, size_t actual, const uint8_t* bytes) {
    if (!gDebug) return;
    if (!gTraceLog) {
        std::string path = platform::JoinPath(platform::WindowsDirectory(), "kestelnet.log");
        gTraceLog = std::fopen(path.c_str(), "w");
        if (!gTraceLog) {
            std::perror("Unable to create log file");
            return;
        }
    }
    if (direction == 1)
        std::fprintf(gTraceLog, "\nRead %d bytes from server\n", int(actual));
    else
        std::fprintf(gTraceLog, "\nWrote %d (%d) bytes to server\n", int(requested), int(actual));
    std::fflush(gTraceLog);
    static const char hexd[] = "0123456789ABCDEF";
    for (size_t off = 0; off < actual; off += 16) {
        char hex[40], ebc[20], asc[20];
        size_t h = 0, e = 0, a = 0;
        ebc[e++] = '|';
        asc[a++] = '|';
        for (size_t i = off; i < actual && i < off + 16; ++i) {
            size_t k = i - off;
            if (k == 4 || k == 8 || k == 12) hex[h++] = ' ';
            hex[h++] = hexd[bytes[i] >> 4];
            hex[h++] = hexd[bytes[i] & 15];
            uint8_t t = gEbcdicToAscii[bytes[i]];
            ebc[e++] = t < 0x20 || t == 0x7F ? '?' : static_cast<char>(t);
            asc[a++] = bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '-';
        }
        hex[h] = 0;
        ebc[e++] = '|';
        ebc[e] = 0;
        asc[a++] = '|';
        asc[a] = 0;
        std::fprintf(gTraceLog, "%04X  %-35.35s  %-18s %s\n", unsigned(off), hex, ebc, asc);
        std::fflush(gTraceLog);
    }
}

int TelExtension(Session* sp) {
    const uint8_t* sb = sp->sbbuf.data();
    size_t len = sp->sbPtr;
    if (len < 2) return 0;
    auto arg = [&](size_t i) -> uint8_t { return i < len ? sb[i] : 0; };
    switch (sb[1]) {
    case 0x03:
        if (arg(2) != sp->owner && sp->screen) ClearPrintBuffer(sp->screen.get());
        sp->owner = arg(2);
        return 0;
    case 0x04: {
        auto valid = [](int rows, int cols) {
            return cols >= 40 && cols <= 132 && rows >= 12 && rows <= 43 && rows * cols <= 3564;
        };
        int r1 = arg(2), c1 = arg(3), r2 = arg(4), c2 = arg(5);
        if (valid(r1, c1)) {
            sp->rows = static_cast<int16_t>(r1);
            sp->cols = static_cast<int16_t>(c1);
        }
        if (valid(r2, c2)) {
            sp->tblRows = static_cast<int16_t>(r2);
            sp->tblCols = static_cast<int16_t>(c2);
        } else if (r2 != 0xFF && c2 != 0xFF) {
            sp->tblRows = sp->rows;
            sp->tblCols = sp->cols;
        }
        return 0;
    }
    case 0x23: {
        if (sp->session <= 4) {
            const uint8_t body[] = {0x25, sp->session};
            return SendExtension(sp, body, sizeof body);
        }
        if (sp->luAddress >= 0 && sp->luAddress <= 255) {
            const uint8_t body[] = {0x24, static_cast<uint8_t>(sp->luAddress)};
            return SendExtension(sp, body, sizeof body);
        }
        const uint8_t body[] = {0x26};
        return SendExtension(sp, body, sizeof body);
    }
    case 0x27: {
        char name[1024];
        if (gethostname(name, sizeof name - 1) != 0) {
            SetSystemDetail(errno);
            return MSG_NO_LOCAL_HOST;
        }
        name[sizeof name - 1] = 0;
        static const uint8_t head[] = {IAC, SB, OPT_EXT, 0x27};
        static const uint8_t end[] = {IAC, SE};
        int rc = TelSend(sp, head, sizeof head);
        if (rc == 0) {
            // Host names never hold FF, but the rule for our 0x37 messages stands.
            std::string esc;
            for (const char* q = name; *q; ++q) {
                esc += *q;
                if (static_cast<uint8_t>(*q) == IAC) esc += static_cast<char>(IAC);
            }
            rc = TelSend(sp, reinterpret_cast<const uint8_t*>(esc.data()), esc.size());
        }
        if (rc == 0) rc = TelSend(sp, end, sizeof end);
        return rc;
    }
    case 0x2A: {
        uint8_t a = arg(2);
        Trace("++BRACKET with sp->sbbuf[2] = %x state = %d\n", a, sp->bracket);
        if (sp->bracket >= 0 && sp->bracket <= 2)
            Trace("case %d with sp->fileStarted %d\n", sp->bracket, sp->fileStarted ? 1 : 0);
        auto endJob = [&](const char* where, bool trouble) {
            if (inProgress) {
                Trace(trouble ? "NO print in progress, trouble\n" : "NO print in progress\n");
                return false;
            }
            if (sp->fileStarted) {
                PrScreenRemote(sp);
                sp->bracket = 0;
                Trace("PrScreenRemote(sp) called from %s\n", where);
                return true;
            }
            return false;
        };
        switch (sp->bracket) {
        case 0:
            if (a == 0x01)
                sp->bracket = 1;
            else {
                endJob("case:0", false);
                sp->bracket = 2;
            }
            break;
        case 1:
            if (a == 0x01)
                endJob("case:1", false);
            else {
                sp->bracket = 2;
                endJob("case:1 with bracket = 2", false);
            }
            break;
        case 2:
            if (a == 0x01) {
                endJob("case:2", true);
                sp->bracket = 1;
            }
            break;
        default:
            Trace("--BRACKET with case incorrect sp->sbbuf[2] = %x state = %d\n", a, sp->bracket);
            break;
        }
        return 0;
    }
    case 0x2F:
        Trace("THIS IS LU # %02X\n", arg(2));
        if (arg(2) == 1 || arg(2) == 3) {
            Lutype = arg(2);
            return 0;
        }
        return MSG_NOT_PRINTER;
    case 0x30:
        if (sp->fileStarted) {
            PrScreenRemote(sp);
            Trace("PrScreenRemote(sp) called from STATUS_UNBIND\n");
        }
        sp->bracket = 0;
        return 0;
    case 0x31:
        sp->sfMode = true;
        return 0;
    default:
        return 0;
    }
}
