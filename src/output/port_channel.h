// The LPT/COM port medium: a device opened at the first write and kept open
// across jobs until it fails or is closed.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "config/result.h"

namespace output {

// Device path for a port name: LPT1 -> /dev/lp0, COM1 -> /dev/ttyS0, NUL -> /dev/null.
std::string PortDevicePath(const std::string& name);

class PortChannel {
  public:
    explicit PortChannel(std::string name) : name_(std::move(name)) {}
    ~PortChannel() { Close(); }
    PortChannel(const PortChannel&) = delete;
    PortChannel& operator=(const PortChannel&) = delete;

    // Ok, or MSG_PORT_OPEN or MSG_PORT_WRITE naming the device and the system's
    // reason; a failed device is closed, and the next write opens it again.
    config::Result Write(std::span<const uint8_t> bytes);
    void Close();

  private:
    config::Result Fail(int code, int err);
    std::string name_;
    int fd_ = -1;
};

} // namespace output
