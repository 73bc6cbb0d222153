#include "pcap.h"

#include <sys/time.h>

#include <algorithm>
#include <vector>

namespace {
constexpr uint8_t kSyn = 0x02, kAck = 0x10, kPsh = 0x08;
// Room for the headers within IPv4's 16-bit total length.
constexpr size_t kMaxPayload = 65000;

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
void PutLe32(FILE* f, uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f);
}
uint16_t Checksum(const uint8_t* p, size_t n, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (n & 1) sum += uint32_t(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}
} // namespace

bool PcapWriter::Open(const std::string& path, uint16_t clientPort, uint16_t serverPort) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    clientPort_ = clientPort;
    serverPort_ = serverPort;
    // Little-endian classic header: version 2.4, snap length, link type Ethernet.
    for (uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 262144u, 1u})
        PutLe32(file_, v);
    Frame(true, kSyn, nullptr, 0);
    ++clientSeq_;
    Frame(false, kSyn | kAck, nullptr, 0);
    ++serverSeq_;
    Frame(true, kAck, nullptr, 0);
    return true;
}

PcapWriter::~PcapWriter() {
    if (file_) std::fclose(file_);
}

void PcapWriter::Segment(bool fromClient, const uint8_t* data, size_t length) {
    if (!file_) return;
    // Only what IPv4 cannot hold in one packet is split.
    for (size_t at = 0; at < length; at += kMaxPayload) {
        const size_t n = std::min(kMaxPayload, length - at);
        Frame(fromClient, kPsh | kAck, data + at, n);
        (fromClient ? clientSeq_ : serverSeq_) += static_cast<uint32_t>(n);
    }
    std::fflush(file_);
}

void PcapWriter::Frame(bool fromClient, uint8_t flags, const uint8_t* data, size_t length) {
    std::vector<uint8_t> f;
    f.reserve(54 + length);
    // Ethernet: made-up addresses, IPv4.
    const uint8_t client[6] = {2, 0, 0, 0, 0, 1}, server[6] = {2, 0, 0, 0, 0, 2};
    f.insert(f.end(), fromClient ? server : client, (fromClient ? server : client) + 6);
    f.insert(f.end(), fromClient ? client : server, (fromClient ? client : server) + 6);
    Put16(f, 0x0800);
    const size_t ip = f.size();
    Put16(f, 0x4500);
    Put16(f, static_cast<uint32_t>(20 + 20 + length));
    Put16(f, ipId_++);
    Put16(f, 0x4000); // don't fragment
    f.push_back(64);
    f.push_back(6); // TCP
    Put16(f, 0);
    Put32(f, fromClient ? 0x7F000001 : 0x7F000002); // 127.0.0.1 client, 127.0.0.2 host
    Put32(f, fromClient ? 0x7F000002 : 0x7F000001);
    const uint16_t ipSum = Checksum(f.data() + ip, 20);
    f[ip + 10] = static_cast<uint8_t>(ipSum >> 8);
    f[ip + 11] = static_cast<uint8_t>(ipSum);
    const size_t tcp = f.size();
    Put16(f, fromClient ? clientPort_ : serverPort_);
    Put16(f, fromClient ? serverPort_ : clientPort_);
    Put32(f, fromClient ? clientSeq_ : serverSeq_);
    Put32(f, (flags & kAck) ? (fromClient ? serverSeq_ : clientSeq_) : 0);
    f.push_back(0x50); // 20-byte header
    f.push_back(flags);
    Put16(f, 65535);
    Put16(f, 0);
    Put16(f, 0);
    if (length) f.insert(f.end(), data, data + length);
    // TCP checksum over the pseudo header and the segment.
    uint32_t pseudo = 0x7F00 + 0x0001 + 0x7F00 + 0x0002 + 6 + uint32_t(20 + length);
    const uint16_t tcpSum = Checksum(f.data() + tcp, f.size() - tcp, pseudo);
    f[tcp + 16] = static_cast<uint8_t>(tcpSum >> 8);
    f[tcp + 17] = static_cast<uint8_t>(tcpSum);
    timeval now{};
    gettimeofday(&now, nullptr);
    PutLe32(file_, static_cast<uint32_t>(now.tv_sec));
    PutLe32(file_, static_cast<uint32_t>(now.tv_usec));
    PutLe32(file_, static_cast<uint32_t>(f.size()));
    PutLe32(file_, static_cast<uint32_t>(f.size()));
    std::fwrite(f.data(), 1, f.size(), file_);
}
