// The host side of the telnet START-TLS exchange (option 46) on the plain
// socket, kept apart from the script engine: hostsim.cpp only calls these.
// Both read the socket one byte at a time, so nothing that follows the
// client's FOLLOWS (its TLS handshake) is taken from the socket.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

enum class StartTlsResult { Ready, Refused, Failed };

// Sends IAC DO 46 and waits for WILL or WONT 46. After WILL both sides send
// IAC SB 46 01 IAC SE: serverFirst sends ours as soon as WILL arrived, else
// ours waits for the client's (and the client must then stay silent until it
// got ours). Ready: both FOLLOWS went, the next bytes are TLS. Refused: the
// client answered WONT. Failed: err tells why. onByte sees every byte read.
StartTlsResult HostStartTls(int fd, bool serverFirst, int timeoutMs,
                            const std::function<void(uint8_t)>& onByte, std::string& err);

// After Ready: waits for the client's first TLS bytes and answers them with
// bytes that are no TLS record. False with err set when no hello came.
bool HostStartTlsGarbage(int fd, int timeoutMs, const std::function<void(uint8_t)>& onByte,
                         std::string& err);
