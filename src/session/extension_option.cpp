// The session-server extension option 0x37: owner, screen sizes, identity,
// brackets, LU type and structured-field mode, and our error report.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/messages.h"
#include "config/utilities.h"
#include "datastream/data_stream.h"
#include "session/telnet_protocol.h"

namespace session {

using namespace telnet;

// FF bytes of the body go out doubled.
int TelnetProtocol::SendExtension(const uint8_t* body, size_t length) {
    uint8_t out[2 * 1100 + 8];
    size_t n = 0;
    out[n++] = IAC;
    out[n++] = SB;
    out[n++] = OPT_EXT;
    for (size_t i = 0; i < length && n < sizeof out - 4; ++i) {
        out[n++] = body[i];
        if (body[i] == IAC) out[n++] = IAC;
    }
    out[n++] = IAC;
    out[n++] = SE;
    return SendChunk(out, n);
}

int TelnetProtocol::Extension() {
    const uint8_t* sb = sub_.data();
    size_t len = subLength_;
    if (len < 2) return 0;
    auto arg = [&](size_t i) -> uint8_t { return i < len ? sb[i] : 0; };
    switch (sb[1]) {
    case 0x03:
        if (arg(2) != ps_.owner) peer_.ClearPrintBuffer();
        ps_.owner = arg(2);
        return 0;
    case 0x04: {
        auto valid = [](int rows, int cols) {
            return cols >= 40 && cols <= 132 && rows >= 12 && rows <= 43 && rows * cols <= 3564;
        };
        int r1 = arg(2), c1 = arg(3), r2 = arg(4), c2 = arg(5);
        if (valid(r1, c1)) {
            ps_.rows = static_cast<int16_t>(r1);
            ps_.cols = static_cast<int16_t>(c1);
        }
        if (valid(r2, c2)) {
            ps_.tblRows = static_cast<int16_t>(r2);
            ps_.tblCols = static_cast<int16_t>(c2);
        } else if (r2 != 0xFF && c2 != 0xFF) {
            ps_.tblRows = ps_.rows;
            ps_.tblCols = ps_.cols;
        }
        return 0;
    }
    case 0x23: {
        if (config_.sessionId <= 4) {
            const uint8_t body[] = {0x25, config_.sessionId};
            return SendExtension(body, sizeof body);
        }
        if (config_.luAddress >= 0 && config_.luAddress <= 255) {
            const uint8_t body[] = {0x24, static_cast<uint8_t>(config_.luAddress)};
            return SendExtension(body, sizeof body);
        }
        const uint8_t body[] = {0x26};
        return SendExtension(body, sizeof body);
    }
    case 0x27: {
        char name[1024];
        if (gethostname(name, sizeof name - 1) != 0) {
            failure_ = config::SystemFailure(config::MSG_NO_LOCAL_HOST, errno);
            return failure_.code;
        }
        name[sizeof name - 1] = 0;
        // One send, the name's FF bytes (never seen in host names) doubled by SendExtension.
        std::string body = "\x27";
        body += name;
        return SendExtension(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    case 0x2A:
        peer_.Bracket(arg(2));
        return 0;
    case 0x2F:
        config::Trace("THIS IS LU # %02X\n", arg(2));
        if (arg(2) == 1 || arg(2) == 3) {
            ps_.luType = arg(2);
            return 0;
        }
        return config::MSG_NOT_PRINTER;
    case 0x30:
        EndJob("PrScreenRemote(sp) called from STATUS_UNBIND\n");
        ps_.bracket = 0;
        return 0;
    case 0x31:
        ps_.sfMode = true;
        return 0;
    default:
        return 0;
    }
}

} // namespace session
