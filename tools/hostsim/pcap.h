// A connection's bytes as a classic pcap file, for a dissector to read: synthetic
// Ethernet, IPv4 and TCP headers, one segment per read or write, sequence numbers
// that follow the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class PcapWriter {
  public:
    // Opens path and writes the file header and a three-way handshake; false when
    // the file cannot be written (the connection then goes on without a capture).
    bool Open(const std::string& path, uint16_t clientPort, uint16_t serverPort);
    ~PcapWriter();
    // Bytes of one read (fromClient) or write.
    void Segment(bool fromClient, const uint8_t* data, size_t length);

  private:
    void Frame(bool fromClient, uint8_t flags, const uint8_t* data, size_t length);
    FILE* file_ = nullptr;
    uint16_t clientPort_ = 0, serverPort_ = 0;
    uint32_t clientSeq_ = 1000, serverSeq_ = 50000;
    uint16_t ipId_ = 1;
};
