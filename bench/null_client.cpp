// A TN3270E printer that prints nothing: it negotiates as twprinterd does,
// then reads and discards records, answering at once each one that asks for a
// response. Against it the host simulator measures what the wire carries.
// Usage: null_client PORT [LU]   (127.0.0.1); prints "NULL bytes=.. records=.."
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240, kEor = 239, kTn3270e = 40;

int gFd = -1;

void SendAll(const std::vector<uint8_t>& b) {
    size_t at = 0;
    while (at < b.size()) {
        ssize_t n = ::send(gFd, b.data() + at, b.size() - at, MSG_NOSIGNAL);
        if (n <= 0) std::exit(1);
        at += static_cast<size_t>(n);
    }
}

void SendSub(std::vector<uint8_t> body) {
    std::vector<uint8_t> b{kIac, kSb};
    for (uint8_t c : body) {
        b.push_back(c);
        if (c == kIac) b.push_back(kIac);
    }
    b.insert(b.end(), {kIac, kSe});
    SendAll(b);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: null_client PORT [LU]\n");
        return 2;
    }
    const std::string lu = argc > 2 ? argv[2] : "";
    gFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(gFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("null_client: connect");
        return 1;
    }
    int one = 1;
    ::setsockopt(gFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    enum { Data, Iac, Cmd, Sub, SubIac } state = Data;
    uint8_t cmd = 0;
    std::vector<uint8_t> sub, buf(256 * 1024);
    uint8_t header[5];
    size_t inRecord = 0; // bytes of the record so far (IAC undoubled)
    long long bytes = 0, records = 0;
    for (;;) {
        const ssize_t got = ::recv(gFd, buf.data(), buf.size(), 0);
        if (got <= 0) break;
        bytes += got;
        const uint8_t* p = buf.data();
        const uint8_t* end = p + got;
        while (p < end) {
            switch (state) {
            case Data: {
                // The record's body is skipped whole; only its header is kept.
                const void* f = std::memchr(p, kIac, static_cast<size_t>(end - p));
                const uint8_t* stop = f ? static_cast<const uint8_t*>(f) : end;
                for (; inRecord < sizeof header && p < stop; ++p)
                    header[inRecord++] = *p;
                inRecord += static_cast<size_t>(stop - p);
                p = stop;
                if (f) {
                    state = Iac;
                    ++p;
                }
                break;
            }
            case Iac: {
                const uint8_t c = *p++;
                state = Data;
                if (c == kIac) {
                    if (inRecord < sizeof header) header[inRecord] = kIac;
                    ++inRecord;
                } else if (c == kEor) {
                    ++records;
                    // SCS or 3270 data asking ALWAYS-RESPONSE: positive (DEVICE-END), at once.
                    if (inRecord >= sizeof header && header[0] <= 0x01 && header[2] == 0x02) {
                        std::vector<uint8_t> r;
                        for (uint8_t b :
                             {uint8_t{0x02}, header[1], uint8_t{0x00}, header[3], header[4]}) {
                            r.push_back(b);
                            if (b == kIac) r.push_back(kIac);
                        }
                        r.insert(r.end(), {uint8_t{0x00}, kIac, kEor});
                        SendAll(r);
                    }
                    inRecord = 0;
                } else if (c == kSb) {
                    sub.clear();
                    state = Sub;
                } else if (c >= kWill && c <= kDont) {
                    cmd = c;
                    state = Cmd;
                }
                break;
            }
            case Cmd: {
                const uint8_t opt = *p++;
                state = Data;
                if (cmd == kDo)
                    SendAll({kIac, opt == kTn3270e ? kWill : kWont, opt});
                else if (cmd == kWill)
                    SendAll({kIac, kDont, opt});
                break;
            }
            case Sub: {
                const uint8_t c = *p++;
                if (c == kIac)
                    state = SubIac;
                else
                    sub.push_back(c);
                break;
            }
            case SubIac: {
                const uint8_t c = *p++;
                state = Sub;
                if (c == kIac) {
                    sub.push_back(kIac);
                } else if (c == kSe) {
                    state = Data;
                    if (sub.size() >= 3 && sub[0] == kTn3270e && sub[1] == 0x08 && sub[2] == 0x02) {
                        // SEND DEVICE-TYPE: a printer, connected to the LU asked for.
                        std::vector<uint8_t> r{kTn3270e, 0x02, 0x07};
                        for (char ch : std::string("IBM-3287-1"))
                            r.push_back(uint8_t(ch));
                        if (!lu.empty()) {
                            r.push_back(0x01);
                            for (char ch : lu)
                                r.push_back(uint8_t(ch));
                        }
                        SendSub(r);
                    } else if (sub.size() >= 3 && sub[0] == kTn3270e && sub[1] == 0x02 &&
                               sub[2] == 0x04) {
                        // DEVICE-TYPE IS: the functions a printer asks for.
                        SendSub({kTn3270e, 0x03, 0x07, 0x00, 0x01, 0x02, 0x03});
                    }
                }
                break;
            }
            }
        }
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const long long cpuUs = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL +
                            u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    std::printf("NULL bytes=%lld records=%lld cpu_us=%lld\n", bytes, records, cpuUs);
    return 0;
}
