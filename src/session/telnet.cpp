// Telnet and TN3270E client protocol.
#include "session/telnet.h"

#include "session/session.h"

bool gFunctionsAgreed = false;

int TelConnect(Session*) { return 93; }
void TelClose(Session*) {}
int TelProc(Session*) { return 0; }
bool TelOptionOk(Session*, int) { return false; }
void TelModeCheck(Session*) {}
void TelRecordReset(Session*) {}
void TelRecordResize(Session*, int32_t) {}
int TelRecordDone(Session*) { return 0; }
int TelSend(Session*, const uint8_t*, size_t) { return 0; }
int TelSendEscaped(Session*, const uint8_t*, size_t, bool) { return 0; }
int TelSendRecord(Session*, const uint8_t*, size_t) { return 0; }
int TelWaitWritable(Session*) { return 0; }
void TelTrace(Session*, int, size_t, size_t, const uint8_t*) {}
int TelExtension(Session*) { return 0; }
