// The telnet START-TLS option: the offer taken or refused, the FOLLOWS
// exchange in either order, and a server that never offers when TLS is required.
#include <string>

#include "config/messages.h"
#include "config/utilities.h"
#include "session/telnet_protocol.h"

namespace session {

using namespace telnet;

namespace {

constexpr uint8_t kFollows = 0x01;

std::string Command(uint8_t cmd, uint8_t option) {
    const char* name = cmd == DO ? "DO" : cmd == DONT ? "DONT" : cmd == WILL ? "WILL" : "WONT";
    static const char hex[] = "0123456789ABCDEF";
    std::string text = std::string(name) + " option ";
    switch (option) {
    case OPT_TTYPE:
        return text + "TERMINAL-TYPE";
    case OPT_TN3270E:
        return text + "TN3270E";
    case OPT_EOR:
        return text + "END-OF-RECORD";
    case OPT_BINARY:
        return text + "BINARY";
    case OPT_STARTTLS:
        return text + "START-TLS";
    default:
        return text + "0x" + hex[option >> 4] + hex[option & 15];
    }
}

} // namespace

int TelnetProtocol::TlsRequired(const std::string& what) {
    failure_ = {config::MSG_UNABLE_CONNECT,
                "TLS: " + what +
                    " before offering START-TLS, which STARTTLS=2 requires; the session "
                    "does not go on in plain text"};
    return failure_.code;
}

// -1 when the option takes the usual answer.
int TelnetProtocol::StartTlsOption(uint8_t cmd, uint8_t option) {
    if (option != OPT_STARTTLS && !TlsPending()) return -1;
    if (option != OPT_STARTTLS) return TlsRequired("the server sent " + Command(cmd, option));
    if (cmd == DO && config_.startTls >= 1 && !secured_) {
        if (followsSent_) return 0;
        followsSent_ = true;
        myOpts_[OPT_STARTTLS] = 3;
        config::Trace("START-TLS offered: WILL and FOLLOWS sent\n");
        if (followsReceived_) tlsReady_ = true;
        return SendBytes({IAC, WILL, OPT_STARTTLS, IAC, SB, OPT_STARTTLS, kFollows, IAC, SE});
    }
    if (TlsPending()) return TlsRequired("the server sent " + Command(cmd, option));
    return -1;
}

int TelnetProtocol::StartTlsSub(size_t len) {
    if (sub_[0] != OPT_STARTTLS) return TlsRequired("the server sent a subnegotiation");
    if (len < 2 || sub_[1] != kFollows || secured_ || config_.startTls == 0) return 0;
    config::Trace("START-TLS FOLLOWS received\n");
    followsReceived_ = true;
    if (followsSent_) tlsReady_ = true;
    return 0;
}

} // namespace session
