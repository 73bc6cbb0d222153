// The LPT/COM port channel.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

extern int gPortHandle; // fd + 1 style: 0 while no port is open

// Device path for a port name: LPT1 -> /dev/lp0, COM1 -> /dev/ttyS0, NUL -> /dev/null.
std::string PortDevicePath(const std::string& name);
// 0, 72 or 73 (gErrorDetail set).
int PortWrite(const uint8_t* bytes, size_t length);
void PortClose();
