// The telnet and TN3270E client protocol of one connection, without I/O:
// bytes from the host go in, and what they cause comes out through the
// ProtocolPeer, in wire order (a record's response is sent after the record
// is handed over and stored, so after any reply its processing sends).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "config/result.h"
#include "session/record_buffer.h"

namespace datastream {
struct PrintState;
}
namespace config {
struct Settings;
}

namespace session {

namespace telnet {
inline constexpr uint8_t IAC = 0xFF, DONT = 0xFE, DO = 0xFD, WONT = 0xFC, WILL = 0xFB, SB = 0xFA,
                         SE = 0xF0, EOR = 0xEF;
inline constexpr uint8_t OPT_BINARY = 0x00, OPT_TTYPE = 0x18, OPT_EOR = 0x19, OPT_TN3270E = 0x28,
                         OPT_STARTTLS = 0x2E, OPT_EXT = 0x37;
} // namespace telnet

// Feed's result for a record longer than the record buffer: it was refused
// (COMMAND-REJECT when a response was asked for); the connection is to be reset.
inline constexpr int kRecordTooLong = -2;

// What the protocol drives: the wire, the data stream and the session's counters.
class ProtocolPeer {
  public:
    virtual ~ProtocolPeer() = default;
    // One chunk for the host, written as one send: 0 or a message number.
    virtual int Send(std::span<const uint8_t> chunk) = 0;
    // A whole data record: 0, a negative data-stream error offset, or a message number
    // (63: the record is refused; the fault messages: refused until they clear).
    // responseAsked: a response follows, so the record must be stored before this returns;
    // else it may wait for the end of the receive.
    virtual int Record(std::span<const uint8_t> record, bool responseAsked) = 0;
    virtual bool JobOpen() const = 0;
    // Called only while a job is open (BIND, UNBIND, PRINT-EOJ, the status unbind).
    virtual void EndJob() = 0;
    // The bracket control of the extension option.
    virtual void Bracket(uint8_t argument) = 0;
    virtual void ClearPrintBuffer() = 0;
    // The LU name the host granted with DEVICE-TYPE IS.
    virtual void LuGranted(const std::string& name) = 0;
    // The connection can take records from now on: TN3270E functions agreed, or BINARY and
    // END-OF-RECORD both ways. fellBack: TN3270E was wanted and the server went plain.
    virtual void Ready(bool fellBack) { (void)fellBack; }
    // A response went to the host, us after the record's end arrived.
    virtual void Responded(bool /*negative*/, uint64_t /*us*/) {}
};

// What the protocol takes from the settings, fixed for a run.
struct ProtocolConfig {
    bool tn3270e = false;
    // Answers to TERMINAL-TYPE SEND in turn; the last one repeats.
    std::vector<std::string> termTypes{"IBM-3287-1", "IBM-LU3"};
    // 0x01 CONNECT or 0x00 ASSOCIATE, and the name; none when name is empty.
    uint8_t nameKind = 0;
    std::string name;
    bool extAllowed = true;
    uint8_t sessionId = 0xFF; // 0..4, else none
    int16_t luAddress = -1;   // 0..255, else none
    // START-TLS: 0 refused, 1 accepted when offered, 2 required before anything else.
    int startTls = 0;

    static ProtocolConfig From(const config::Settings& settings);
};

class TelnetProtocol {
  public:
    TelnetProtocol(const ProtocolConfig& config, datastream::PrintState& state, ProtocolPeer& peer);

    // Fresh state for a new connection.
    void Reset();
    // TLS is up on the connection: negotiation starts again from nothing.
    void Secured() {
        Reset();
        secured_ = true;
    }
    // Both sides sent START-TLS FOLLOWS: Feed stopped there, and the bytes of
    // that receive from TlsOffset on are the server's first TLS bytes.
    bool TlsReady() const { return tlsReady_; }
    size_t TlsOffset() const { return tlsOffset_; }
    // TLS is required and not up yet: nothing but START-TLS may happen.
    bool TlsPending() const { return config_.startTls == 2 && !secured_; }
    // The connection is gone: its buffers are freed.
    void Release() { records_.Release(); }
    // The bytes of one receive: 0, kRecordTooLong, or the message number that ends the session.
    int Feed(std::span<const uint8_t> bytes);
    // The reason for the message number Feed gave, when the negotiation knows
    // one (a send's failure is the peer's); cleared by taking it.
    config::Result TakeFailure() { return std::exchange(failure_, {}); }
    // Whether the receive loop reads again before waiting (records in 3270 mode, or none pending).
    bool ReadsOn() const { return mode3270_ || records_.Length() == 0; }

    // An inbound record: IAC doubled, IAC EOR added, sent in chunks of the send buffer.
    int SendRecord(std::span<const uint8_t> bytes);
    // Option 0x37 is allowed but the host never answered it.
    bool ExtensionUnnegotiated() const;

    bool Mode3270() const { return mode3270_; }
    // Records can be taken (see ProtocolPeer::Ready).
    bool Ready() const { return ready_; }
    // The last negotiation sequence sent on this connection ("TERMINAL-TYPE IS IBM-3287-1"),
    // "" before any.
    const std::string& LastTold() const { return lastTold_; }
    const RecordBuffer& Records() const { return records_; }

  private:
    enum State : uint8_t {
        DATA,
        IAC_SEEN,
        WILL_SEEN,
        WONT_SEEN,
        DO_SEEN,
        DONT_SEEN,
        SUB,
        SUB_IAC,
        LU1_HEADER,
        LU3_HEADER,
        BIND,
        UNBIND,
        EOJ,
        RESPONSE,
        NVT,
        SKIP,
    };

    int HandleByte(uint8_t c);
    // The plain record bytes at the front of bytes, stored; how many.
    size_t DataRun(std::span<const uint8_t> bytes);
    // A record that lies whole at the front of bytes, no IAC inside it, handed
    // over from there; the bytes taken with its IAC EOR, 0 when it must be copied.
    size_t WholeRecord(std::span<const uint8_t> bytes, int& rc);
    int OptionReply(uint8_t cmd, uint8_t option);
    bool OptionOk(uint8_t option) const;
    void ModeCheck();
    void MarkReady();
    int SendTerminalType();
    int Subnegotiation();
    // The record stored, or inPlace when it was never copied.
    int EndOfRecord(const std::span<const uint8_t>* inPlace = nullptr);
    int RecordDone(int result);
    // A response to the record just stored: positive for reason -1, else negative.
    int SendResponse(int reason);
    int SendBytes(std::initializer_list<uint8_t> bytes);
    int SendChunk(const uint8_t* bytes, size_t length);
    int SkipIac(uint8_t c);
    // start_tls.cpp
    int StartTlsOption(uint8_t cmd, uint8_t option);
    int StartTlsSub(size_t len);
    int TlsRequired(const std::string& what);
    void StoreSub(uint8_t c);
    void ToData();

    // tn3270e.cpp
    int Tn3270eSub(size_t len);
    int SendDeviceTypeRequest();
    void HeaderStart(uint8_t c);
    int HeaderByte(uint8_t c);
    void EndJob(const char* traceLine);
    // extension_option.cpp
    int Extension();
    int SendExtension(const uint8_t* body, size_t length);

    ProtocolConfig config_;
    datastream::PrintState& ps_;
    ProtocolPeer& peer_;
    RecordBuffer records_;
    std::array<uint8_t, 256> hisOpts_{}, myOpts_{};
    std::vector<uint8_t> sub_;
    size_t subLength_ = 0;
    bool subOverflow_ = false; // dropped at its IAC SE
    State state_ = DATA;
    int32_t comstate_ = 0;
    bool mode3270_ = false;
    bool functionsAgreed_ = false;
    uint8_t header_[8]{};
    int headerIndex_ = 0;
    bool inRecord_ = false;
    uint8_t respond_ = 0;  // the record's RESPONSE-FLAG: 1 on error only, 2 always
    bool skipIac_ = false; // a lone IAC inside a message read by count or skipped
    bool secured_ = false, followsSent_ = false, followsReceived_ = false, tlsReady_ = false;
    size_t tlsOffset_ = 0;
    bool ready_ = false;
    size_t termTypeIndex_ = 0;
    std::string lastTold_;
    config::Result failure_;
};

} // namespace session
