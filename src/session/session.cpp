// Client thread, session record lifecycle and the receive loop.
#include "session/session.h"

#include "datastream/printbuffer.h"
#include "session/transport.h"

platform::Event* gStopEvent = nullptr;
Session* gSession = nullptr;

Session::Session() = default;
Session::~Session() = default;

int PtClientThread(void*) { return 0; }
int SessionNew(Session*) { return 0; }
int PtMainLoop(Session*) { return 69; }
void SessionFree(Session*) {}
std::unique_ptr<PrintBuffer> ScreenNew(Session*) { return std::make_unique<PrintBuffer>(); }
void ScreenFree(std::unique_ptr<PrintBuffer>& screen) { screen.reset(); }
void CloseSessionSocket() {}
bool ClientStart() { return false; }
void ClientStop() {}
bool ClientRunning() { return false; }
int ClientWait() { return 0; }
