// TN3270E: the device-type and functions negotiation, and the header that
// starts every message once the functions are agreed.
#include <algorithm>
#include <cstring>

#include "config/utilities.h"
#include "datastream/data_stream.h"
#include "session/telnet_protocol.h"

namespace session {

using namespace telnet;

namespace {
// Room for the name in the 100-byte DEVICE-TYPE REQUEST area.
constexpr size_t kMaxLuName = 82;
} // namespace

void TelnetProtocol::EndJob(const char* traceLine) {
    if (peer_.JobOpen()) {
        peer_.EndJob();
        config::Trace("%s", traceLine);
    }
}

int TelnetProtocol::SendDeviceTypeRequest() {
    uint8_t req[100];
    const uint8_t head[] = {IAC, SB, OPT_TN3270E, 0x02, 0x07};
    std::memcpy(req, head, sizeof head);
    size_t n = sizeof head;
    std::memcpy(req + n, "IBM-3287-1", 10);
    n += 10;
    if (!config_.name.empty()) {
        req[n++] = config_.nameKind;
        // Names that do not fit are refused before connecting; this keeps the area safe.
        size_t len = std::min(config_.name.size(), kMaxLuName);
        std::memcpy(req + n, config_.name.data(), len);
        n += len;
    }
    req[n++] = IAC;
    req[n++] = SE;
    lastTold_ = "DEVICE-TYPE REQUEST IBM-3287-1";
    if (!config_.name.empty())
        lastTold_ += (config_.nameKind == 0x01 ? " CONNECT " : " ASSOCIATE ") + config_.name;
    return SendChunk(req, n);
}

int TelnetProtocol::Tn3270eSub(size_t len) {
    const uint8_t* sb = sub_.data();
    config::Trace("WE GOT TN3270E suboption negotiation)\n");
    uint8_t b1 = len > 1 ? sb[1] : 0, b2 = len > 2 ? sb[2] : 0;
    switch (b1) {
    case 0x08:
        config::Trace("We got a SEND\n");
        if (b2 == 0x02) {
            config::Trace("We got a DEVICE TYPE\n");
            return SendDeviceTypeRequest();
        }
        config::Trace("UNKNOWN 3270E sbbuf2 command\n");
        return 0;
    case 0x02:
        config::Trace(" 3270E sbbuf1 command DEVICE_TYPE\n");
        if (b2 == 0x04) {
            config::Trace(" 3270E sbbuf1 command IS\n");
            if (len > 3 && sb[3] == 0x01) {
                config::Trace(" 3270E sbbuf1 command CONNECT\n");
                bool same = len >= 14 && std::memcmp(sb + 4, "SCSPRINTER", 10) == 0;
                config::Trace(same ? "COMPARED %02X\n" : "DID NOT COMPARE %02X\n",
                              len > 4 ? sb[4] : 0);
            }
            // The LU name granted follows the CONNECT byte after the device type.
            for (size_t i = 3; i < len; ++i) {
                if (sb[i] == 0x01) {
                    peer_.LuGranted(
                        std::string(reinterpret_cast<const char*>(sb + i + 1), len - i - 1));
                    break;
                }
            }
            static const uint8_t funcs[] = {IAC,  SB,   OPT_TN3270E, 0x03, 0x07, 0x00,
                                            0x01, 0x02, 0x03,        0x04, IAC,  SE};
            lastTold_ = "FUNCTIONS REQUEST";
            return SendChunk(funcs, sizeof funcs);
        }
        config::Trace(" UNKNOWN sbbuf2 after TYPE IS\n");
        return 0;
    case 0x03:
        config::Trace("We got a FUNCTIONS \n");
        if (b2 == 0x04) {
            config::Trace("We got a FUNCTIONS IS\n");
            functionsAgreed_ = true;
            comstate_ = 0;
            MarkReady();
        } else if (b2 == 0x07) {
            config::Trace("We got a FUNCTIONS REQUEST\n");
        } else {
            config::Trace("We got a FUNCTIONS then UNKNOWN\n");
        }
        return 0;
    default:
        config::Trace("UNKNOWN 3270E sbbuf1 command\n");
        return 0;
    }
}

// A DATA-TYPE byte at the start of a TN3270E message.
void TelnetProtocol::HeaderStart(uint8_t c) {
    comstate_ = 4;
    switch (c) {
    case 0x00:
    case 0x01:
        header_[0] = c;
        headerIndex_ = 1;
        state_ = c == 0x00 ? LU3_HEADER : LU1_HEADER;
        break;
    case 0x02:
        state_ = RESPONSE;
        break;
    case 0x03:
        state_ = BIND;
        config::Trace("RECEIVED BIND %d\n", peer_.JobOpen() ? 1 : 0);
        EndJob("PrScreenRemote(sp) called from case 0x03\n");
        break;
    case 0x04:
        comstate_ = 7;
        state_ = UNBIND;
        EndJob("PrScreenRemote(sp) called from case 0x04\n");
        break;
    case 0x05:
        state_ = NVT;
        break;
    case 0x08:
        comstate_ = 6;
        state_ = EOJ;
        config::Trace("RECEIVED EOJ %d\n", peer_.JobOpen() ? 1 : 0);
        EndJob("PrScreenRemote(sp) called from case 0x08\n");
        break;
    default:
        // REQUEST, SSCP-LU-DATA and unknown types are not for the printer.
        config::Trace("DATA-TYPE %02X dropped to its IAC EOR\n", c);
        state_ = SKIP;
        break;
    }
    skipIac_ = false;
}

// The four header bytes after the DATA-TYPE of a 3270-DATA or SCS-DATA message.
int TelnetProtocol::HeaderByte(uint8_t c) {
    int k = SkipIac(c);
    if (k == 2) {
        // A message that ends inside its header carries no record.
        config::Trace("Header cut short by IAC EOR\n");
        state_ = DATA;
        comstate_ = 0;
        headerIndex_ = 0;
        records_.Reset();
        return 0;
    }
    if (k == 0) return 0;
    bool lu3 = state_ == LU3_HEADER;
    if (headerIndex_ < 5) header_[headerIndex_++] = c;
    if (lu3)
        config::Trace("LU3_DATA current %02X header %02X %02X %02X %02X %02X\n", c, header_[0],
                      header_[1], header_[2], header_[3], header_[4]);
    else
        config::Trace("LU1_DATA cur %02X  header %02X %02X %02X %02X %02X\n", c, header_[0],
                      header_[1], header_[2], header_[3], header_[4]);
    if (--comstate_ <= 0) {
        comstate_ = 0;
        headerIndex_ = 0;
        ps_.luType = lu3 ? 3 : 1;
        state_ = DATA;
        inRecord_ = true;
        respond_ = header_[2] == 0x01 || header_[2] == 0x02 ? header_[2] : 0;
        if (respond_ == 0x02)
            config::Trace(lu3 ? "TNS_LU3 3270E_DATA must send response\n"
                              : "TNS_LU1 3270E_DATA must send response\n");
        if (lu3) config::Trace("TNS_LU3 3270E_DATA down to ZER0\n");
        records_.Reset();
    }
    return 0;
}

} // namespace session
