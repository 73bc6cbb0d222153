// The receive state machine: telnet commands, options and subnegotiations.
#include "session/telnet_protocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "config/messages.h"
#include "config/settings.h"
#include "config/utilities.h"
#include "datastream/data_stream.h"

namespace session {

using namespace telnet;

namespace {
constexpr size_t kSubSize = 1024;

std::string OptionName(uint8_t option) {
    switch (option) {
    case OPT_BINARY:
        return "BINARY";
    case 0x01:
        return "ECHO";
    case 0x03:
        return "SUPPRESS-GO-AHEAD";
    case OPT_TTYPE:
        return "TERMINAL-TYPE";
    case OPT_EOR:
        return "END-OF-RECORD";
    case OPT_TN3270E:
        return "TN3270E";
    case OPT_STARTTLS:
        return "START-TLS";
    case OPT_EXT:
        return "option 0x37";
    default:
        return "option " + std::to_string(option);
    }
}

const char* CommandName(uint8_t cmd) {
    switch (cmd) {
    case DO:
        return "DO";
    case DONT:
        return "DONT";
    case WILL:
        return "WILL";
    default:
        return "WONT";
    }
}
} // namespace

ProtocolConfig ProtocolConfig::From(const config::Settings& s) {
    ProtocolConfig c;
    c.tn3270e = s.use3270E;
    // Inside a direct TLS connection an offer of START-TLS is refused.
    c.startTls = s.tls.enabled ? 0 : s.tls.startTls;
    // A printer says so first; the LU type is the second choice of servers that ask again.
    if (!s.terminalType.empty())
        c.termTypes = {s.terminalType};
    else
        c.termTypes = {"IBM-3287-1", s.luType == 1 ? "IBM-LU1" : "IBM-LU3"};
    if (s.connectName && !s.connectName->empty()) {
        c.nameKind = 0x01;
        c.name = *s.connectName;
    } else if (s.associateName && !s.associateName->empty()) {
        c.nameKind = 0x00;
        c.name = *s.associateName;
    }
    if (s.sessionId && !s.sessionId->empty()) {
        char ch = (*s.sessionId)[0];
        if (ch >= 'a' && ch <= 'e')
            c.sessionId = static_cast<uint8_t>(ch - 'a');
        else if (ch >= 'A' && ch <= 'E')
            c.sessionId = static_cast<uint8_t>(ch - 'A');
        else if (ch >= '0' && ch <= '4')
            c.sessionId = static_cast<uint8_t>(ch - '0');
    }
    if (s.luAddress && !s.luAddress->empty()) {
        const char* text = s.luAddress->c_str();
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(text, &end, 0);
        c.luAddress = (errno == 0 && end != text && *end == 0 && v >= 0 && v <= 255)
                          ? static_cast<int16_t>(v)
                          : int16_t(-1);
    }
    return c;
}

TelnetProtocol::TelnetProtocol(const ProtocolConfig& config, datastream::PrintState& state,
                               ProtocolPeer& peer)
    : config_(config), ps_(state), peer_(peer) {
    Reset();
}

void TelnetProtocol::Reset() {
    int32_t initial = ps_.tblRows * ps_.tblCols + 256;
    if (initial <= 256) initial = 27 * 132 + 256;
    records_.Attach(initial);
    sub_.assign(kSubSize, 0);
    subLength_ = 0;
    subOverflow_ = false;
    hisOpts_.fill(0);
    myOpts_.fill(0);
    ps_.owner = 2;
    mode3270_ = false;
    comstate_ = 0;
    state_ = DATA;
    functionsAgreed_ = false;
    std::fill(std::begin(header_), std::end(header_), 0);
    headerIndex_ = 0;
    inRecord_ = false;
    respond_ = 0;
    skipIac_ = false;
    secured_ = followsSent_ = followsReceived_ = tlsReady_ = false;
    tlsOffset_ = 0;
    ready_ = false;
    termTypeIndex_ = 0;
    lastTold_.clear();
}

int TelnetProtocol::Feed(std::span<const uint8_t> bytes) {
    if (!records_.Fit(bytes.size())) {
        // Refused, and the connection goes: the rest of the record cannot be told apart
        // from what follows it.
        if (inRecord_ && respond_ != 0) {
            respond_ = 0;
            if (int rc = SendResponse(0x00)) return rc;
        }
        return kRecordTooLong;
    }
    for (size_t i = 0; i < bytes.size();) {
        int rc = 0;
        if (const size_t whole = WholeRecord(bytes.subspan(i), rc)) {
            if (rc) return rc;
            i += whole;
            continue;
        }
        i += DataRun(bytes.subspan(i));
        if (i == bytes.size()) break;
        rc = HandleByte(bytes[i++]);
        if (rc) return rc;
        if (tlsReady_) {
            // What follows belongs to TLS, not to telnet.
            tlsOffset_ = i;
            break;
        }
    }
    records_.MarkLength();
    return 0;
}

size_t TelnetProtocol::WholeRecord(std::span<const uint8_t> bytes, int& rc) {
    // Only where EndOfRecord would hand the record over, and with nothing of it stored yet.
    if (state_ != DATA || !records_.Empty() || TlsPending() ||
        !(inRecord_ || (mode3270_ && !functionsAgreed_)))
        return 0;
    const void* iac = std::memchr(bytes.data(), IAC, bytes.size());
    if (!iac) return 0;
    const size_t n = static_cast<size_t>(static_cast<const uint8_t*>(iac) - bytes.data());
    if (n == 0 || n + 1 >= bytes.size() || bytes[n + 1] != EOR) return 0;
    comstate_ = 0;
    const std::span<const uint8_t> record = bytes.first(n);
    rc = EndOfRecord(&record);
    return n + 2;
}

// Record bytes up to the next IAC, stored in one go: what HandleByte would do
// with each of them while a record (or plain 3270 data) is being received.
size_t TelnetProtocol::DataRun(std::span<const uint8_t> bytes) {
    if (state_ != DATA || (functionsAgreed_ && !inRecord_) || TlsPending()) return 0;
    const void* iac = std::memchr(bytes.data(), IAC, bytes.size());
    const size_t n =
        iac ? static_cast<size_t>(static_cast<const uint8_t*>(iac) - bytes.data()) : bytes.size();
    records_.Append(bytes.data(), n);
    return n;
}

bool TelnetProtocol::ExtensionUnnegotiated() const {
    return config_.extAllowed && hisOpts_[OPT_EXT] == 0;
}

int TelnetProtocol::SendChunk(const uint8_t* bytes, size_t length) {
    return peer_.Send({bytes, length});
}

int TelnetProtocol::SendBytes(std::initializer_list<uint8_t> bytes) {
    // An option command: what the server was last told, should it close on it.
    if (bytes.size() == 3 && bytes.begin()[0] == IAC)
        lastTold_ = std::string(CommandName(bytes.begin()[1])) + " " + OptionName(bytes.begin()[2]);
    return SendChunk(bytes.begin(), bytes.size());
}

bool TelnetProtocol::OptionOk(uint8_t option) const {
    switch (option) {
    case 0x00:
    case 0x01:
    case 0x03:
    case OPT_TTYPE:
    case OPT_EOR:
    case 0x38:
        return true;
    case OPT_EXT:
        return config_.extAllowed;
    case OPT_TN3270E:
        return config_.tn3270e;
    default:
        return false;
    }
}

int TelnetProtocol::OptionReply(uint8_t cmd, uint8_t option) {
    int rc = StartTlsOption(cmd, option);
    if (rc >= 0) {
        state_ = DATA;
        return rc;
    }
    rc = 0;
    switch (cmd) {
    case WILL:
        if (hisOpts_[option] != 3) {
            bool ok = OptionOk(option);
            hisOpts_[option] = ok ? 3 : 2;
            rc = SendBytes({IAC, static_cast<uint8_t>(ok ? DO : DONT), option});
        }
        break;
    case WONT:
        if (hisOpts_[option] == 0 || hisOpts_[option] == 3) rc = SendBytes({IAC, DONT, option});
        hisOpts_[option] = 2;
        break;
    case DO:
        if (myOpts_[option] != 3) {
            bool ok = OptionOk(option);
            myOpts_[option] = ok ? 3 : 2;
            rc = SendBytes({IAC, static_cast<uint8_t>(ok ? WILL : WONT), option});
        }
        break;
    case DONT:
        if (myOpts_[option] == 0 || myOpts_[option] == 3) rc = SendBytes({IAC, WONT, option});
        myOpts_[option] = 2;
        break;
    }
    state_ = DATA;
    ModeCheck();
    return rc;
}

void TelnetProtocol::ModeCheck() {
    bool on = myOpts_[OPT_EOR] == 3 && hisOpts_[OPT_EOR] == 3 && myOpts_[OPT_BINARY] == 3 &&
              hisOpts_[OPT_BINARY] == 3;
    if (on != mode3270_) {
        mode3270_ = on;
        records_.Reset();
        peer_.ClearPrintBuffer();
    }
    if (on && !functionsAgreed_) MarkReady();
}

void TelnetProtocol::MarkReady() {
    if (ready_) return;
    ready_ = true;
    peer_.Ready(config_.tn3270e && !functionsAgreed_);
}

// TERMINAL-TYPE IS with the next name of the list, in one send.
int TelnetProtocol::SendTerminalType() {
    const auto& types = config_.termTypes;
    const std::string name =
        types.empty() ? "IBM-3287-1" : types[std::min(termTypeIndex_, types.size() - 1)];
    if (termTypeIndex_ < types.size()) ++termTypeIndex_;
    std::vector<uint8_t> out{IAC, SB, OPT_TTYPE, 0x00};
    for (char ch : name) {
        out.push_back(static_cast<uint8_t>(ch));
        if (static_cast<uint8_t>(ch) == IAC) out.push_back(IAC);
    }
    out.push_back(IAC);
    out.push_back(SE);
    lastTold_ = "TERMINAL-TYPE IS " + name;
    return SendChunk(out.data(), out.size());
}

int TelnetProtocol::Subnegotiation() {
    size_t len = subLength_;
    if (subOverflow_) {
        subOverflow_ = false;
        config::Trace("Subnegotiation longer than %zu bytes dropped\n", kSubSize);
        return 0;
    }
    if (len == 0) return 0;
    if (sub_[0] == OPT_STARTTLS || TlsPending()) return StartTlsSub(len);
    switch (sub_[0]) {
    case OPT_TTYPE:
        if (len > 1 && sub_[1] == 0x01) return SendTerminalType();
        return 0;
    case OPT_EXT:
        return Extension();
    case OPT_TN3270E:
        return Tn3270eSub(len);
    default:
        return 0;
    }
}

// IAC handling inside messages that are read by count or skipped: 1 for a
// data byte, 2 at the message's IAC EOR, 0 for a byte to ignore.
int TelnetProtocol::SkipIac(uint8_t c) {
    if (skipIac_) {
        skipIac_ = false;
        if (c == IAC) return 1;
        if (c == EOR) return 2;
        return 0;
    }
    if (c == IAC) {
        skipIac_ = true;
        return 0;
    }
    return 1;
}

void TelnetProtocol::StoreSub(uint8_t c) {
    if (subLength_ < sub_.size())
        sub_[subLength_++] = c;
    else
        subOverflow_ = true;
}

void TelnetProtocol::ToData() {
    records_.Reset();
    state_ = DATA;
    comstate_ = 0;
}

int TelnetProtocol::HandleByte(uint8_t c) {
    switch (state_) {
    case DATA:
        if (c != IAC && TlsPending()) return TlsRequired("the server sent data");
        if (functionsAgreed_ && !inRecord_ && c != SE && c != IAC) {
            config::Trace("NEG3270 complete comstate %d \n", comstate_);
            if (comstate_ == 0) {
                HeaderStart(c);
                if (state_ != DATA) {
                    records_.Store(c);
                    return 0;
                }
            }
        }
        if (c == IAC)
            state_ = IAC_SEEN;
        else
            records_.Store(c);
        return 0;
    case IAC_SEEN:
        comstate_ = 0;
        switch (c) {
        case EOR:
            state_ = DATA;
            return EndOfRecord();
        case SB:
            subLength_ = 0;
            subOverflow_ = false;
            state_ = SUB;
            return 0;
        case WILL:
            state_ = WILL_SEEN;
            return 0;
        case WONT:
            state_ = WONT_SEEN;
            return 0;
        case DO:
            state_ = DO_SEEN;
            return 0;
        case DONT:
            state_ = DONT_SEEN;
            return 0;
        default:
            if (c == IAC) records_.Store(c);
            state_ = DATA;
            return 0;
        }
    case WILL_SEEN:
        return OptionReply(WILL, c);
    case WONT_SEEN:
        return OptionReply(WONT, c);
    case DO_SEEN:
        return OptionReply(DO, c);
    case DONT_SEEN:
        return OptionReply(DONT, c);
    case SUB:
        if (c == IAC)
            state_ = SUB_IAC;
        else
            StoreSub(c);
        return 0;
    case SUB_IAC:
        if (c == SE) {
            state_ = DATA;
            return Subnegotiation();
        }
        StoreSub(c);
        state_ = SUB;
        return 0;
    case LU1_HEADER:
    case LU3_HEADER:
        return HeaderByte(c);
    case BIND: {
        if (SkipIac(c) == 2) ToData();
        if (peer_.JobOpen())
            EndJob("PrScreenRemote(sp) called from TNS_BIND\n");
        else
            config::Trace("PRINT NOT STARTED no file yet\n");
        ps_.bracket = 0;
        return 0;
    }
    case UNBIND:
    case EOJ: {
        // Skipped to the IAC EOR, whatever the length of the message.
        if (SkipIac(c) != 2) return 0;
        bool unbind = state_ == UNBIND;
        state_ = DATA;
        comstate_ = 0;
        EndJob(unbind ? "PrScreenRemote(sp) called from TNS_UNBIND\n"
                      : "PrScreenRemote(sp) called fron TNS_EOJ\n");
        ps_.bracket = 0;
        records_.Reset();
        return 0;
    }
    case RESPONSE: {
        int k = SkipIac(c);
        if (k == 2) {
            config::Trace("END of RESPONSE %02X\n", c);
            ToData();
        } else if (k == 1 && comstate_ > 0 && --comstate_ == 0) {
            config::Trace("RESPONSE 3270E_DATA down to ZER0\n");
        }
        return 0;
    }
    case NVT:
        config::Trace("NVT DATA\n");
        if (SkipIac(c) == 2) ToData();
        return 0;
    case SKIP:
        if (SkipIac(c) == 2) ToData();
        return 0;
    }
    state_ = DATA;
    return 0;
}

} // namespace session
