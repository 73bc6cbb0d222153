// The session record and the client thread that runs one printer session.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"

struct PrintBuffer;
class Transport;

struct ScreenNameRec {
    std::string name; // "screen.<pid>"
    int32_t count = 0;
};

enum TnState : int32_t {
    TNS_DATA,
    TNS_IAC,
    TNS_WILL,
    TNS_WONT,
    TNS_DO,
    TNS_DONT,
    TNS_SB,
    TNS_SB_IAC,
    TNS_LU1,
    TNS_LU3,
    TNS_BIND,
    TNS_UNBIND,
    TNS_EOJ,
    TNS_RESPONSE,
    TNS_NVT,
    TNS_SKIP, // dropping a message to its IAC EOR
};

inline constexpr int32_t OWNER_SYSOP = 1;

struct Session {
    std::string host;
    std::string service;
    std::string termType;
    bool extOption = false;
    bool extendedTypes = false;
    int16_t luAddress = -1;
    int32_t maxRecord = 2048;
    int32_t recInitial = 0;
    int32_t recCapacity = 0;
    int32_t recLength = 0;
    int32_t smallRecords = 0;
    int32_t buildSize = 0;
    int32_t comstate = 0;
    int socket = -1;
    int32_t state = TNS_DATA;
    int32_t termModel = 0;
    int32_t maxRecordSetting = 0;
    bool extAllowed = false;
    std::vector<uint8_t> hisOpts;  // 256
    std::vector<uint8_t> myOpts;   // 256
    std::vector<uint8_t> rcvBuf;   // 4096
    std::vector<uint8_t> sendBuf;  // 4096
    std::vector<uint8_t> recBuf;   // recCapacity
    std::vector<uint8_t> buildBuf; // buildSize
    std::vector<uint8_t> sbbuf;    // 1024
    size_t recPtr = 0;             // offset of the next free byte of recBuf
    size_t sbPtr = 0;              // offset of the next free byte of sbbuf
    size_t recStart = 0;           // offset of the record handed to the data stream
    std::unique_ptr<PrintBuffer> screen;
    std::unique_ptr<ScreenNameRec> prScreen;
    int32_t owner = 0;
    int16_t altCols = 0, altRows = 0, altSize = 0;
    int16_t cols = 0, rows = 0, size = 0;
    int16_t tblCols = 0, tblRows = 0, tblSize = 0;
    uint8_t session = 0xFF;
    int32_t bracket = 0;
    bool fileStarted = false;
    bool sfMode = false;
    bool mode3270 = false;
    // Byte transport of the connection (plain TCP or TLS); socket mirrors its fd.
    std::unique_ptr<Transport> transport;

    Session();
    ~Session();
};

extern platform::Event* gStopEvent;
extern Session* gSession;

// Upper bound of the record buffer; a longer record ends the session.
inline constexpr int32_t kMaxRecordBuffer = 4 * 1024 * 1024;

int PtClientThread(void* unused);
int SessionNew(Session* sp);
int PtMainLoop(Session* sp);
void SessionFree(Session* sp);
std::unique_ptr<PrintBuffer> ScreenNew(Session* sp);
void ScreenFree(std::unique_ptr<PrintBuffer>& screen);

// Closes the current session's connection from another thread (Stop).
void CloseSessionSocket();

// Running the client thread, for both programs. ClientStart creates the stop
// event and launches PtClientThread; ClientStop signals it, wakes any wait and
// joins. ClientWait blocks until the thread ends and returns its result.
bool ClientStart();
void ClientStop();
bool ClientRunning();
// The final result code of the run: 69 after a stop, else the message number.
int ClientWait();

// Counters of the session module, readable from any thread.
void CountJob(bool delivered); // called by delivery for each finished job
void NoteBytesReceived(size_t count);
void SetSessionLuName(const std::string& name);
// One line: state, LU, jobs delivered, jobs failed, bytes received.
std::string SessionStatusSummary();
// Publishes the session's descriptor so that a Stop from another thread can
// shut it down; -1 when there is none.
void SetSessionSocket(Session* sp, int fd);
