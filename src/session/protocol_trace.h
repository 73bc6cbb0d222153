// kestelnet.log: every send and receive of a connection as a hex dump, in
// debug mode only. Opened (emptied) at the first trace of a connection.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace session {

class ProtocolTrace {
  public:
    // dir: where kestelnet.log goes; empty for the settings directory.
    ProtocolTrace(const std::array<uint8_t, 256>& ebcdicToAscii, std::string dir)
        : table_(ebcdicToAscii), dir_(std::move(dir)) {}
    ~ProtocolTrace() { Close(); }
    ProtocolTrace(const ProtocolTrace&) = delete;
    ProtocolTrace& operator=(const ProtocolTrace&) = delete;

    void Received(const uint8_t* bytes, size_t count) { Dump(true, count, count, bytes); }
    void Wrote(const uint8_t* bytes, size_t requested, size_t written) {
        Dump(false, requested, written, bytes);
    }
    void Close();

  private:
    void Dump(bool received, size_t requested, size_t actual, const uint8_t* bytes);
    const std::array<uint8_t, 256>& table_;
    const std::string dir_;
    FILE* log_ = nullptr;
};

} // namespace session
