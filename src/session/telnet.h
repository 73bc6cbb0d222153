// Telnet and TN3270E client protocol.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

struct Session;
class Transport;

// TelProc result when the server closed or reset the connection.
inline constexpr int kTelClosed = -1;

// Sets up the per-connection buffers and state on a connected socket; the
// transport defaults to MakeTransport(). Also the entry point of tests.
int TelAttach(Session* sp, int fd, std::unique_ptr<Transport> transport);

int TelConnect(Session* sp);
void TelClose(Session* sp);
int TelProc(Session* sp);
bool TelOptionOk(Session* sp, int option);
void TelModeCheck(Session* sp);
void TelRecordReset(Session* sp);
void TelRecordResize(Session* sp, int32_t wanted);
int TelRecordDone(Session* sp);

int TelSend(Session* sp, const uint8_t* bytes, size_t length);
int TelSendEscaped(Session* sp, const uint8_t* bytes, size_t length, bool endOfRecord);
int TelSendRecord(Session* sp, const uint8_t* bytes, size_t length);
int TelWaitWritable(Session* sp);
void TelTrace(Session* sp, int direction, size_t requested, size_t actual, const uint8_t* bytes);

int TelExtension(Session* sp);

// Per-connection TN3270E state, cleared at each connect.
extern bool gFunctionsAgreed;
