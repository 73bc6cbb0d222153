// Records handed to the printer and the responses that answer them: a
// positive response only once the record is stored.
#include <chrono>

#include "config/messages.h"
#include "config/utilities.h"
#include "session/telnet_protocol.h"

namespace session {

using namespace telnet;

namespace {
// What one send of a record holds, IAC doubled.
constexpr size_t kSendSize = 4096;
} // namespace

int TelnetProtocol::SendRecord(std::span<const uint8_t> bytes) {
    uint8_t buf[kSendSize];
    size_t n = 0;
    if (functionsAgreed_) {
        // A reply is a 3270-DATA message with the sequence number of the request it answers.
        for (uint8_t h : {uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x00}, header_[3], header_[4]}) {
            buf[n++] = h;
            if (h == IAC) buf[n++] = IAC;
        }
    }
    for (uint8_t b : bytes) {
        buf[n++] = b;
        if (b == IAC) buf[n++] = IAC;
        if (n >= kSendSize - 3) {
            int rc = SendChunk(buf, n);
            if (rc) return rc;
            n = 0;
        }
    }
    buf[n++] = IAC;
    buf[n++] = EOR;
    return SendChunk(buf, n);
}

namespace {
// The reason byte of a negative response for what storing a record returned;
// -1 when the record is stored.
int NegativeReason(int result) {
    // COMMAND-REJECT: a record the printer cannot carry out, be it a bad order or an
    // unknown command.
    if (result < 0) return 0x00;
    switch (result) {
    case config::MSG_FPUTC:
    case config::MSG_NO_OUTPUT_MEDIUM:
    case config::MSG_PORT_OPEN:
    case config::MSG_PORT_WRITE:
        return 0x01; // INTERVENTION-REQUIRED: the spool or the device needs attention
    case config::MSG_LU_MISMATCH:
        return 0x00; // COMMAND-REJECT
    default:
        return -1;
    }
}
} // namespace

// End of a data record: the hand-over, then the response, so that a positive
// response means the record is stored.
int TelnetProtocol::EndOfRecord(const std::span<const uint8_t>* inPlace) {
    config::Trace("SEEN AN EOR\n");
    if (inRecord_) config::Trace("process 3270 type E\n");
    if (functionsAgreed_ && !inRecord_) {
        // An IAC EOR outside any data message carries nothing for the printer.
        records_.Reset();
        return 0;
    }
    if (!mode3270_ && !inRecord_) return 0;
    inRecord_ = false;
    config::Trace("process 3270\n");
    records_.MarkLength();
    const uint8_t asked = respond_;
    respond_ = 0;
    const auto ended = std::chrono::steady_clock::now();
    int result = peer_.Record(inPlace ? *inPlace : records_.Record(), asked != 0);
    const int reason = NegativeReason(result);
    if (asked == 0x02 || (asked == 0x01 && reason >= 0)) {
        if (int rc = SendResponse(reason)) return rc;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - ended);
        peer_.Responded(reason >= 0, static_cast<uint64_t>(us.count()));
    }
    // A spool or device that fails is retried with the next record; the host holds what was
    // refused. A record the printer cannot carry out is refused alone: the session goes on.
    if (result > 0 && reason >= 0) result = 0;
    return RecordDone(result);
}

int TelnetProtocol::SendResponse(int reason) {
    uint8_t head[5] = {0x02, header_[1], 0x00, header_[3], header_[4]};
    if (reason >= 0) head[1] = 0x00, head[2] = 0x01;
    uint8_t out[14];
    size_t n = 0;
    for (uint8_t b : head) {
        out[n++] = b;
        if (b == IAC) out[n++] = IAC;
    }
    // The data byte: the reason of a negative response, DEVICE-END (0x00) of a positive one.
    out[n++] = reason >= 0 ? static_cast<uint8_t>(reason) : 0x00;
    out[n++] = IAC;
    out[n++] = EOR;
    return SendChunk(out, n);
}

int TelnetProtocol::RecordDone(int result) {
    if (result > 0) return result;
    records_.Reset();
    state_ = DATA;
    records_.Passed();
    if (result < 0) {
        if (config_.extAllowed && hisOpts_[OPT_EXT] == 3) {
            unsigned v = static_cast<unsigned>(-result);
            const uint8_t body[] = {0x21, static_cast<uint8_t>(v >> 8),
                                    static_cast<uint8_t>(v & 0xFF), 0x00};
            return SendExtension(body, sizeof body);
        }
    }
    return 0;
}

} // namespace session
