// hostsim: plays the host side of a TN3270E (or plain TN3270) printer session
// over loopback TCP, driven by a plain text script. It has its own telnet and
// TN3270E encoder/decoder on purpose: it shares no code with the client.
//
// Prints "PORT <n>" once listening; `hostsim --help` (usage.cpp) lists every
// option and script command.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pcap.h"
#include "starttls.h"
#include "tls.h"
#include "usage.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240, kEor = 239;
constexpr uint8_t kBinary = 0, kTtype = 24, kEorOpt = 25, kTn3270e = 40, kExt = 55;

struct Config {
    int port = 0;
    std::string script;
    std::string transcript;
    std::string pcapDir; // --pcap: DIR/k.pcap per connection
    int clients = 1;
    bool concurrent = false;
    int listenAfter = 0;
    int timeoutMs = 10000;
    long load = 0;
    long size = 80;
    bool stream = false; // load records ask no response but the last
    std::string lu = "HOSTLU01";
    HostTlsOptions tls;
    bool starttls = false; // TLS only through the starttls command
};
Config gCfg;
std::mutex gOutMutex;
std::atomic<bool> gFailed{false};

void Out(const std::string& line) {
    std::lock_guard<std::mutex> lock(gOutMutex);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

std::string HexOf(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t c : b) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        if (!s.empty()) s += ' ';
        s += buf;
    }
    return s;
}

Bytes ParseHex(const std::string& text) {
    Bytes out;
    int nib = -1;
    for (char ch : text) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            continue;
        if (nib < 0)
            nib = v;
        else {
            out.push_back(static_cast<uint8_t>(nib * 16 + v));
            nib = -1;
        }
    }
    return out;
}

// ASCII to EBCDIC (code page 037) for letters, digits, blank and common specials.
uint8_t ToEbcdic(char c) {
    static const char* lower = "abcdefghijklmnopqrstuvwxyz";
    static const uint8_t lowerCodes[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
                                         0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
                                         0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9};
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(0xF0 + (c - '0'));
    if (c >= 'a' && c <= 'z') return lowerCodes[std::strchr(lower, c) - lower];
    if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(lowerCodes[c - 'A'] + 0x40);
    switch (c) {
    case ' ':
        return 0x40;
    case '.':
        return 0x4B;
    case ',':
        return 0x6B;
    case '-':
        return 0x60;
    case '/':
        return 0x61;
    case ':':
        return 0x7A;
    case '(':
        return 0x4D;
    case ')':
        return 0x5D;
    case '=':
        return 0x7E;
    case '!':
        return 0x5A;
    default:
        return 0x6F; // '?'
    }
}

std::string gScriptDir; // where a relative @file is looked up after the working directory

// A data file is hex text (the samples) when its name ends in .hex or it holds
// nothing but hex digits and white space; anything else is taken byte for byte.
bool ReadDataFile(const std::string& name, Bytes& out) {
    std::ifstream in(name, std::ios::binary);
    if (!in && name[0] != '/' && !gScriptDir.empty())
        in.open(gScriptDir + "/" + name, std::ios::binary);
    if (!in) return false;
    std::string text(std::istreambuf_iterator<char>(in), {});
    bool hexText = name.size() > 4 && name.compare(name.size() - 4, 4, ".hex") == 0;
    if (!hexText && !text.empty())
        hexText = std::all_of(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) ||
                   std::isspace(static_cast<unsigned char>(c));
        });
    if (hexText) {
        out = ParseHex(text);
        return true;
    }
    out.assign(text.begin(), text.end());
    return true;
}

// Data argument: hex digits, @file (hex text or raw bytes) or "text" (to EBCDIC; \n gives NL 15).
bool ParseData(const std::string& arg, Bytes& out) {
    out.clear();
    if (arg.empty()) return true;
    if (arg[0] == '@') return arg.size() > 1 && ReadDataFile(arg.substr(1), out);
    if (arg[0] == '"') {
        std::string t =
            arg.substr(1, arg.size() >= 2 && arg.back() == '"' ? arg.size() - 2 : arg.size() - 1);
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '\\' && i + 1 < t.size() && t[i + 1] == 'n') {
                out.push_back(0x15);
                ++i;
            } else {
                out.push_back(ToEbcdic(t[i]));
            }
        }
        return true;
    }
    out = ParseHex(arg);
    return true;
}

// What the client sent, decoded: option commands, subnegotiations, records.
struct Event {
    enum Kind { Cmd, Sub, Record } kind;
    uint8_t cmd = 0, opt = 0;
    Bytes data;
};

class Connection {
  public:
    Connection(int fd, int index) : fd_(fd), index_(index) {
        if (!gCfg.transcript.empty()) {
            std::string path = gCfg.transcript + "." + std::to_string(index);
            transcript_ = std::fopen(path.c_str(), "wb");
        }
        if (!gCfg.pcapDir.empty()) {
            sockaddr_in self{}, peer{};
            socklen_t a = sizeof self, b = sizeof peer;
            getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &a);
            getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &b);
            const std::string path = gCfg.pcapDir + "/" + std::to_string(index) + ".pcap";
            if (!pcap_.Open(path, ntohs(peer.sin_port), ntohs(self.sin_port)))
                Out("FAIL " + std::to_string(index) + ": cannot write " + path);
        }
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (HostTlsEnabled() && !gCfg.starttls) {
            std::string err, info;
            tls_ = HostTlsAccept(fd_, gCfg.timeoutMs, err, info);
            if (tls_) {
                Out("TLS " + std::to_string(index_) + " " + info);
            } else {
                Fail("TLS handshake: " + err);
                eof_ = true;
            }
        }
    }
    ~Connection() {
        if (transcript_) std::fclose(transcript_);
        HostTlsFree(tls_);
        if (fd_ >= 0) ::close(fd_);
    }

    void Run(const std::vector<std::string>& lines);
    void RunLoad();
    bool failed() const { return failed_; }

  private:
    // ---- transport (a TLS variant wraps these two) ----
    long ReadSome(uint8_t* buf, size_t len) {
        return tls_ ? HostTlsRead(tls_, buf, len) : ::recv(fd_, buf, len, 0);
    }
    bool WriteAll(const Bytes& b) {
        if (corked_) {
            corked_->insert(corked_->end(), b.begin(), b.end());
            return true;
        }
        size_t off = 0;
        while (off < b.size()) {
            long n = tls_ ? HostTlsWrite(tls_, b.data() + off, b.size() - off)
                          : ::send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                Fail("send failed: " + std::string(std::strerror(errno)));
                return false;
            }
            pcap_.Segment(false, b.data() + off, static_cast<size_t>(n));
            off += static_cast<size_t>(n);
        }
        return true;
    }

    void Fail(const std::string& why) {
        failed_ = true;
        gFailed = true;
        Out("FAIL " + std::to_string(index_) + ": " + why);
    }

    // Reads what is available within ms; false on EOF or error.
    bool Pump(int ms) {
        if (eof_) return false;
        pollfd p{fd_, POLLIN, 0};
        int r = tls_ && HostTlsPending(tls_) ? 1 : ::poll(&p, 1, ms);
        if (r <= 0) return true;
        uint8_t buf[65536];
        long n = ReadSome(buf, sizeof buf);
        if (n < 0 && !tls_ && (errno == EINTR || errno == EAGAIN)) return true;
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        Keep(buf, size_t(n));
        for (long i = 0; i < n; ++i)
            Decode(buf[i]);
        return true;
    }
    void Keep(const uint8_t* buf, size_t n) {
        if (transcript_) {
            std::fwrite(buf, 1, n, transcript_);
            std::fflush(transcript_);
        }
        pcap_.Segment(true, buf, n);
        received_.insert(received_.end(), buf, buf + n);
    }

    // The START-TLS exchange on the plain socket, then TLS (or garbage when bad).
    void StartTls(const std::string& order, bool bad) {
        const std::string k = std::to_string(index_);
        if (tls_) return Fail("starttls on a connection that is TLS already");
        if (!bad && !HostTlsEnabled()) return Fail("starttls without --tls-cert");
        std::string err, info;
        // The exchange is read a byte at a time so that no TLS byte is taken; it is
        // kept as one segment, or the capture would show the client's sequences cut.
        Bytes plain;
        auto keep = [&plain](uint8_t c) { plain.push_back(c); };
        StartTlsResult r = HostStartTls(fd_, order != "client-first", gCfg.timeoutMs, keep, err);
        if (!plain.empty()) Keep(plain.data(), plain.size());
        if (r == StartTlsResult::Refused) return Out("STARTTLS " + k + " REFUSED");
        if (r == StartTlsResult::Failed) return Fail(err);
        if (bad) {
            plain.clear();
            const bool ok = HostStartTlsGarbage(fd_, gCfg.timeoutMs, keep, err);
            if (!plain.empty()) Keep(plain.data(), plain.size());
            if (!ok) return Fail(err);
            return Out("STARTTLS " + k + " BAD");
        }
        tls_ = HostTlsAccept(fd_, gCfg.timeoutMs, err, info);
        if (!tls_) {
            eof_ = true;
            return Fail("TLS handshake: " + err);
        }
        Out("TLS " + k + " " + info);
        // Nothing agreed in plain text carries over; expect looks at TLS bytes only.
        events_.clear();
        record_.clear();
        sub_.clear();
        outstanding_.clear();
        dstate_ = 0;
        tn3270e_ = false;
        seq_ = 0;
        expectPos_ = received_.size();
    }

    void Decode(uint8_t c) {
        switch (dstate_) {
        case 0:
            if (c == kIac)
                dstate_ = 1;
            else
                record_.push_back(c);
            break;
        case 1:
            if (c == kIac) {
                record_.push_back(kIac);
                dstate_ = 0;
            } else if (c == kEor) {
                OnRecord(record_);
                record_.clear();
                dstate_ = 0;
            } else if (c == kSb) {
                sub_.clear();
                dstate_ = 3;
            } else if (c >= kWill && c <= kDont) {
                cmd_ = c;
                dstate_ = 2;
            } else {
                dstate_ = 0;
            }
            break;
        case 2:
            events_.push_back({Event::Cmd, cmd_, c, {}});
            dstate_ = 0;
            break;
        case 3:
            if (c == kIac)
                dstate_ = 4;
            else
                sub_.push_back(c);
            break;
        case 4:
            if (c == kSe) {
                events_.push_back({Event::Sub, 0, 0, sub_});
                dstate_ = 0;
            } else {
                sub_.push_back(c);
                dstate_ = 3;
            }
            break;
        }
    }

    void OnRecord(const Bytes& r) {
        if (tn3270e_ && !r.empty() && r[0] == 0x02) {
            if (r.size() < 5) {
                Fail("short response " + HexOf(r));
                return;
            }
            unsigned seq = unsigned(r[3]) << 8 | r[4];
            auto it = outstanding_.find(seq);
            if (it == outstanding_.end()) {
                Fail("unexpected response " + HexOf(r));
                return;
            }
            if (negativeOk_ && r[2] == 0x01 && r.size() == 6 && r[1] == 0x00)
                Out("NEGATIVE " + std::to_string(index_) + " SEQ " + std::to_string(seq) +
                    " REASON " + HexOf(Bytes{r[5]}));
            // A positive response carries one data byte, DEVICE-END.
            else if (r[2] != 0x00 || r.size() != 6 || r[1] != 0x00 || r[5] != 0x00)
                Fail("response for " + std::to_string(seq) + " is not positive: " + HexOf(r));
            auto us =
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - it->second)
                    .count();
            latencies_.push_back(us);
            outstanding_.erase(it);
            return;
        }
        events_.push_back({Event::Record, 0, 0, r});
    }

    // Waits for the first event matching pred, removes and returns it.
    template <class Pred> bool WaitEvent(Pred pred, Event& out, const char* what) {
        auto deadline = Clock::now() + std::chrono::milliseconds(gCfg.timeoutMs);
        for (;;) {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (pred(*it)) {
                    out = *it;
                    events_.erase(it);
                    return true;
                }
            }
            if (Clock::now() > deadline || !Pump(50)) {
                if (!Pump(0)) {
                    // Events may have arrived with the EOF.
                    for (auto it = events_.begin(); it != events_.end(); ++it)
                        if (pred(*it)) {
                            out = *it;
                            events_.erase(it);
                            return true;
                        }
                }
                Fail(std::string("no ") + what);
                return false;
            }
        }
    }
    bool WaitCmd(uint8_t opt, Event& out, const char* what) {
        return WaitEvent([&](const Event& e) { return e.kind == Event::Cmd && e.opt == opt; }, out,
                         what);
    }
    bool WaitSub(std::initializer_list<uint8_t> prefix, Event& out, const char* what) {
        Bytes pre(prefix);
        return WaitEvent(
            [&](const Event& e) {
                return e.kind == Event::Sub && e.data.size() >= pre.size() &&
                       std::equal(pre.begin(), pre.end(), e.data.begin());
            },
            out, what);
    }

    void Send(std::initializer_list<uint8_t> b) { WriteAll(Bytes(b)); }
    void SendSub(const Bytes& body) {
        Bytes b{kIac, kSb};
        for (uint8_t c : body) {
            b.push_back(c);
            if (c == kIac) b.push_back(kIac);
        }
        b.push_back(kIac);
        b.push_back(kSe);
        WriteAll(b);
    }

    // A TN3270E message (or a plain record) with IAC doubling and IAC EOR.
    void SendMessage(uint8_t type, uint8_t respFlag, const Bytes& data, bool track) {
        Bytes b;
        b.reserve(data.size() + 16);
        auto put = [&](uint8_t c) {
            b.push_back(c);
            if (c == kIac) b.push_back(kIac);
        };
        unsigned seq = seq_;
        if (tn3270e_) {
            put(type);
            put(0x00);
            put(respFlag);
            put(static_cast<uint8_t>(seq >> 8));
            put(static_cast<uint8_t>(seq & 0xFF));
            seq_ = (seq_ + 1) & 0xFFFF;
        }
        for (uint8_t c : data)
            put(c);
        b.push_back(kIac);
        b.push_back(kEor);
        if (track && tn3270e_) outstanding_[seq] = Clock::now();
        WriteAll(b);
    }

    bool WaitResponses() {
        auto deadline = Clock::now() + std::chrono::milliseconds(gCfg.timeoutMs);
        while (!outstanding_.empty()) {
            if (Clock::now() > deadline || !Pump(20)) {
                Pump(0);
                if (outstanding_.empty()) break;
                Fail("missing response for sequence " +
                     std::to_string(outstanding_.begin()->first));
                outstanding_.clear();
                return false;
            }
        }
        return true;
    }

    bool NegotiatePlain() {
        Event e;
        Send({kIac, kDo, kTtype});
        if (!WaitCmd(kTtype, e, "answer to DO TERMINAL-TYPE")) return false;
        if (e.cmd != kWill) {
            Fail("terminal type refused");
            return false;
        }
        SendSub({kTtype, 0x01});
        if (!WaitSub({kTtype, 0x00}, e, "TERMINAL-TYPE IS")) return false;
        Out("TERMINAL-TYPE " + std::string(e.data.begin() + 2, e.data.end()));
        return NegotiateBinary();
    }
    bool NegotiateBinary() {
        Event e;
        Send({kIac, kDo, kEorOpt, kIac, kWill, kEorOpt, kIac, kDo, kBinary, kIac, kWill, kBinary});
        int got = 0;
        for (uint8_t opt : {kEorOpt, kEorOpt, kBinary, kBinary}) {
            if (!WaitCmd(opt, e, "answer for BINARY/EOR")) return false;
            if (e.cmd == kWill || e.cmd == kDo) ++got;
        }
        if (got != 4) Fail("BINARY/EOR not agreed both ways");
        return got == 4;
    }
    bool NegotiateTn3270e(const std::string& lu, bool binary, int rejectReason) {
        Event e;
        Send({kIac, kDo, kTn3270e});
        if (!WaitCmd(kTn3270e, e, "answer to DO TN3270E")) return false;
        if (e.cmd != kWill) {
            Out("FALLBACK tn3270");
            return NegotiatePlain();
        }
        SendSub({kTn3270e, 0x08, 0x02});
        if (!WaitSub({kTn3270e, 0x02, 0x07}, e, "DEVICE-TYPE REQUEST")) return false;
        Bytes& d = e.data;
        size_t i = 3;
        std::string type, name, how;
        while (i < d.size() && d[i] != 0x01 && d[i] != 0x00)
            type += char(d[i++]);
        if (i < d.size()) {
            how = d[i] == 0x01 ? "CONNECT" : "ASSOCIATE";
            name.assign(d.begin() + long(i) + 1, d.end());
        }
        Out("DEVICE-TYPE REQUEST " + type + (how.empty() ? "" : " " + how + " " + name));
        if (rejectReason >= 0) {
            SendSub({kTn3270e, 0x02, 0x06, 0x05, static_cast<uint8_t>(rejectReason)});
            return true;
        }
        Bytes is{kTn3270e, 0x02, 0x04};
        is.insert(is.end(), type.begin(), type.end());
        is.push_back(0x01);
        std::string granted = how == "CONNECT" ? name : lu;
        is.insert(is.end(), granted.begin(), granted.end());
        SendSub(is);
        if (!WaitSub({kTn3270e, 0x03, 0x07}, e, "FUNCTIONS REQUEST")) return false;
        Out("FUNCTIONS REQUEST " + HexOf(Bytes(e.data.begin() + 3, e.data.end())));
        // Everything asked for but SYSREQ.
        Bytes fis{kTn3270e, 0x03, 0x04};
        for (size_t k = 3; k < e.data.size(); ++k)
            if (e.data[k] != 0x04) fis.push_back(e.data[k]);
        SendSub(fis);
        tn3270e_ = true;
        if (binary) return NegotiateBinary();
        return true;
    }

    bool Expect(const Bytes& want) {
        auto deadline = Clock::now() + std::chrono::milliseconds(gCfg.timeoutMs);
        for (;;) {
            auto it = std::search(received_.begin() + long(expectPos_), received_.end(),
                                  want.begin(), want.end());
            if (it != received_.end()) {
                expectPos_ = size_t(it - received_.begin()) + want.size();
                return true;
            }
            if (Clock::now() > deadline || !Pump(20)) {
                Pump(0);
                it = std::search(received_.begin() + long(expectPos_), received_.end(),
                                 want.begin(), want.end());
                if (it != received_.end()) {
                    expectPos_ = size_t(it - received_.begin()) + want.size();
                    return true;
                }
                Fail("expected bytes " + HexOf(want) + " not received");
                return false;
            }
        }
    }

    static uint8_t RespFlag(const std::string& s) {
        if (s == "always") return 0x02;
        if (s == "error") return 0x01;
        return 0x00;
    }

    int fd_;
    HostTls* tls_ = nullptr;
    int index_;
    FILE* transcript_ = nullptr;
    PcapWriter pcap_;
    bool failed_ = false;
    std::optional<Bytes> corked_; // what is sent from cork to uncork, held for one send
    bool eof_ = false;
    bool tn3270e_ = false;
    int dstate_ = 0;
    uint8_t cmd_ = 0;
    Bytes record_, sub_, received_;
    size_t expectPos_ = 0;
    std::deque<Event> events_;
    unsigned seq_ = 0;
    bool negativeOk_ = false; // negative responses are printed, not failures
    std::map<unsigned, Clock::time_point> outstanding_;
    std::vector<long> latencies_;
};

void Connection::Run(const std::vector<std::string>& lines) {
    for (const std::string& raw : lines) {
        if (failed_) break;
        std::istringstream in(raw);
        std::string cmd;
        in >> cmd;
        std::vector<std::string> args;
        std::string a;
        while (in >> a) {
            if (a[0] == '"' && (a.size() == 1 || a.back() != '"')) {
                std::string rest;
                std::getline(in, rest, '"');
                a += rest + '"';
            }
            args.push_back(a);
        }
        auto arg = [&](size_t i, const std::string& def = "") {
            return i < args.size() ? args[i] : def;
        };
        if (cmd == "negotiate") {
            if (arg(0) == "tn3270")
                NegotiatePlain();
            else {
                std::string lu = gCfg.lu;
                bool binary = false;
                for (size_t i = 1; i < args.size(); ++i) {
                    if (args[i] == "binary")
                        binary = true;
                    else
                        lu = args[i];
                }
                NegotiateTn3270e(lu, binary, -1);
            }
        } else if (cmd == "reject") {
            Bytes r = ParseHex(arg(0, "04"));
            NegotiateTn3270e(gCfg.lu, false, r.empty() ? 4 : r[0]);
        } else if (cmd == "bind") {
            Bytes d = ParseHex(arg(0, "31010303B1903080000000000000000000"));
            SendMessage(0x03, 0x00, d, false);
        } else if (cmd == "unbind") {
            SendMessage(0x04, 0x00, ParseHex(arg(0, "01")), false);
        } else if (cmd == "eoj") {
            SendMessage(0x08, 0x00, {}, false);
        } else if (cmd == "scs" || cmd == "data3270") {
            Bytes d;
            if (!ParseData(arg(0), d)) {
                Fail("cannot read " + arg(0));
                break;
            }
            uint8_t flag = RespFlag(arg(1, "none"));
            SendMessage(cmd == "scs" ? 0x01 : 0x00, flag, d, flag == 0x02);
        } else if (cmd == "msg") {
            Bytes t = ParseHex(arg(0));
            Bytes d;
            ParseData(arg(1), d);
            SendMessage(t.empty() ? 0 : t[0], 0x00, d, false);
        } else if (cmd == "ext-on") {
            Event e;
            Send({kIac, kWill, kExt});
            if (WaitCmd(kExt, e, "answer to WILL 0x37") && e.cmd != kDo)
                Fail("option 0x37 refused");
        } else if (cmd == "ext") {
            Bytes body{kExt};
            Bytes h = ParseHex(raw.substr(raw.find("ext") + 3));
            body.insert(body.end(), h.begin(), h.end());
            SendSub(body);
        } else if (cmd == "starttls" || cmd == "starttls-bad") {
            std::string order = arg(0, "server-first");
            if (order != "server-first" && order != "client-first")
                Fail("unknown starttls order: " + raw);
            else
                StartTls(order, cmd == "starttls-bad");
        } else if (cmd == "cork") {
            corked_.emplace();
        } else if (cmd == "uncork") {
            if (corked_) WriteAll(*std::exchange(corked_, std::nullopt));
        } else if (cmd == "raw") {
            WriteAll(ParseHex(raw.substr(raw.find("raw") + 3)));
        } else if (cmd == "seq") {
            seq_ = unsigned(std::strtoul(arg(0, "0").c_str(), nullptr, 0)) & 0xFFFF;
        } else if (cmd == "negative-ok") {
            negativeOk_ = true;
        } else if (cmd == "expect-response") {
            WaitResponses();
        } else if (cmd == "expect") {
            Expect(ParseHex(raw.substr(raw.find("expect") + 6)));
        } else if (cmd == "quiet") {
            size_t before = received_.size();
            auto end = Clock::now() + std::chrono::milliseconds(std::atoi(arg(0, "500").c_str()));
            while (Clock::now() < end && Pump(20)) {
            }
            if (received_.size() != before)
                Fail("client sent " +
                     HexOf(Bytes(received_.begin() + long(before), received_.end())));
        } else if (cmd == "wait-bytes") {
            size_t want = std::strtoul(arg(0, "1").c_str(), nullptr, 10);
            auto deadline = Clock::now() + std::chrono::milliseconds(gCfg.timeoutMs);
            while (received_.size() < want && Clock::now() < deadline && Pump(20)) {
            }
            if (received_.size() < want) Fail("fewer than " + arg(0) + " bytes received");
        } else if (cmd == "sleep") {
            auto end = Clock::now() + std::chrono::milliseconds(std::atoi(arg(0, "0").c_str()));
            while (Clock::now() < end) {
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
                if (!Pump(int(std::max<long>(1, left.count())))) {
                    std::this_thread::sleep_until(end);
                    break;
                }
            }
        } else if (cmd == "print") {
            Out(raw.substr(raw.find("print") + 5 + (raw.size() > raw.find("print") + 5 ? 1 : 0)));
        } else if (cmd == "close") {
            WaitResponses();
            ::shutdown(fd_, SHUT_WR);
            while (Pump(100)) {
                if (eof_) break;
            }
            return;
        } else if (cmd == "reset") {
            linger l{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            HostTlsFree(tls_);
            tls_ = nullptr;
            ::close(fd_);
            fd_ = -1;
            return;
        } else if (cmd == "hold") {
            while (Pump(200)) {
            }
            return;
        } else {
            Fail("unknown script command: " + raw);
        }
    }
    WaitResponses();
}

void Connection::RunLoad() {
    if (!NegotiateTn3270e(gCfg.lu, false, -1)) return;
    SendMessage(0x03, 0x00, ParseHex("31010303B1903080000000000000000000"), false);
    Bytes rec(static_cast<size_t>(gCfg.size), 0xC1);
    if (!rec.empty()) rec.back() = 0x15; // NL ends each line
    latencies_.reserve(static_cast<size_t>(gCfg.load));
    auto start = Clock::now();
    for (long i = 0; i < gCfg.load && !failed_; ++i) {
        // Streamed: only the last record is answered, which says all arrived.
        const bool answered = !gCfg.stream || i + 1 == gCfg.load;
        SendMessage(0x01, answered ? 0x02 : 0x00, rec, answered);
        if (!answered) continue;
        while (!outstanding_.empty()) {
            if (!Pump(gCfg.timeoutMs)) {
                Fail("connection lost after " + std::to_string(i) + " records");
                break;
            }
            if (!outstanding_.empty() && Clock::now() - start > std::chrono::hours(1)) break;
        }
    }
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    SendMessage(0x08, 0x00, {}, false);
    std::vector<long> l = latencies_;
    const size_t sent = gCfg.stream && !failed_ ? size_t(gCfg.load) : l.size();
    std::sort(l.begin(), l.end());
    auto pct = [&](double p) {
        return l.empty() ? 0.0
                         : double(l[std::min(l.size() - 1, size_t(p * double(l.size())))]) / 1000.0;
    };
    char line[256];
    std::snprintf(line, sizeof line,
                  "LOAD %d records=%zu size=%ld seconds=%.3f rate=%.0f p50_us=%.1f p99_us=%.1f "
                  "max_us=%.1f",
                  index_, sent, gCfg.size, secs, secs > 0 ? double(sent) / secs : 0.0, pct(0.50),
                  pct(0.99), l.empty() ? 0.0 : double(l.back()) / 1000.0);
    Out(line);
    ::shutdown(fd_, SHUT_WR);
    while (Pump(200)) {
    }
}

std::vector<std::vector<std::string>> ReadScript(const std::string& path) {
    std::vector<std::vector<std::string>> sections(1);
    if (path.empty()) return sections;
    std::ifstream in(path);
    if (!in) {
        Out("FAIL 0: cannot read script " + path);
        gFailed = true;
        return sections;
    }
    size_t slash = path.rfind('/');
    gScriptDir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos || line[b] == '#') continue;
        line = line.substr(b);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line == "next")
            sections.emplace_back();
        else
            sections.back().push_back(line);
    }
    return sections;
}

void Serve(int fd, int index, const std::vector<std::vector<std::string>>& sections) {
    Out("CONNECTED " + std::to_string(index));
    bool failed;
    {
        Connection c(fd, index);
        if (gCfg.load > 0)
            c.RunLoad();
        else
            c.Run(sections[std::min(sections.size(), size_t(index)) - 1]);
        failed = c.failed();
    }
    Out("DONE " + std::to_string(index) + (failed ? " fail" : " ok"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        // Serving no script would only hold a connection open: say how instead.
        PrintUsageLine(stderr);
        std::fprintf(stderr, "Try 'hostsim --help' for the options and the script commands.\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool missing = false;
        auto next = [&]() -> std::string {
            if (i + 1 < argc) return argv[++i];
            missing = true;
            return "";
        };
        if (a == "-h" || a == "--help") {
            PrintUsage(stdout);
            return 0;
        } else if (a == "--port")
            gCfg.port = std::atoi(next().c_str());
        else if (a == "--script")
            gCfg.script = next();
        else if (a == "--transcript")
            gCfg.transcript = next();
        else if (a == "--pcap")
            gCfg.pcapDir = next();
        else if (a == "--clients")
            gCfg.clients = std::atoi(next().c_str());
        else if (a == "--concurrent")
            gCfg.concurrent = true;
        else if (a == "--listen-after")
            gCfg.listenAfter = std::atoi(next().c_str());
        else if (a == "--timeout")
            gCfg.timeoutMs = std::atoi(next().c_str());
        else if (a == "--stream")
            gCfg.stream = true;
        else if (a == "--load")
            gCfg.load = std::atol(next().c_str());
        else if (a == "--size")
            gCfg.size = std::atol(next().c_str());
        else if (a == "--lu")
            gCfg.lu = next();
        else if (a == "--tls-cert")
            gCfg.tls.cert = next();
        else if (a == "--tls-key")
            gCfg.tls.key = next();
        else if (a == "--tls-client-ca")
            gCfg.tls.clientCa = next();
        else if (a == "--tls-max")
            gCfg.tls.maxVersion = next();
        else if (a == "--starttls")
            gCfg.starttls = true;
        else {
            std::fprintf(stderr, "hostsim: unknown option %s\n", a.c_str());
            PrintUsageLine(stderr);
            return 2;
        }
        if (missing) {
            std::fprintf(stderr, "hostsim: %s needs a value\n", a.c_str());
            PrintUsageLine(stderr);
            return 2;
        }
    }
    if (gCfg.script.empty() && gCfg.load <= 0) {
        std::fprintf(stderr, "hostsim: serving nothing until a script is given (--script FILE)\n");
        PrintUsageLine(stderr);
        return 2;
    }
    std::string tlsError;
    if (!HostTlsSetup(gCfg.tls, tlsError)) {
        std::fprintf(stderr, "hostsim: %s\n", tlsError.c_str());
        return 2;
    }
    auto sections = ReadScript(gCfg.script);

    int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(gCfg.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("hostsim: bind");
        return 2;
    }
    socklen_t len = sizeof addr;
    getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len);
    // Bound but not yet listening: connections are refused until then.
    Out("PORT " + std::to_string(ntohs(addr.sin_port)));
    if (gCfg.listenAfter > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(gCfg.listenAfter));
    // A pool connects hundreds of LUs at once.
    if (::listen(ls, 1024) != 0) {
        std::perror("hostsim: listen");
        return 2;
    }
    Out("LISTENING");
    std::vector<std::thread> threads;
    for (int k = 1; gCfg.clients <= 0 || k <= gCfg.clients; ++k) {
        int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) {
                --k;
                continue;
            }
            break;
        }
        if (gCfg.concurrent)
            threads.emplace_back(Serve, fd, k, std::cref(sections));
        else
            Serve(fd, k, sections);
    }
    for (auto& t : threads)
        t.join();
    ::close(ls);
    return gFailed ? 1 : 0;
}
