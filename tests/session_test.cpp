// The protocol core fed host bytes directly (what it sends, hands over and
// ends), and twprinterd against the host simulator on loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "config/translate.h"
#include "datastream/data_stream.h"
#include "session/telnet_protocol.h"
#include "testutil.h"

using testutil::Count;
using testutil::Proc;
using testutil::Texts;

namespace {

// Hex with 'quoted text'; blanks are ignored.
std::string B(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        size_t end = s[i] == '\'' ? s.find('\'', i + 1) : i;
        if (end > i)
            out += s.substr(i + 1, end - i - 1), i = end;
        else if (std::isxdigit(static_cast<unsigned char>(s[i])))
            out += static_cast<char>(std::stoi(s.substr(i++, 2), nullptr, 16));
    }
    return out;
}

std::string H(const std::string& bytes) {
    std::string h;
    for (unsigned char c : bytes)
        h += "0123456789ABCDEF"[c >> 4], h += "0123456789ABCDEF"[c & 15];
    return h;
}

// Log tokens: ">bytes" sent, "Rbytes" a record handed over, "end" a job ended,
// "clear", "brNN" a bracket control, "lu:NAME" granted. Expected logs write
// the bytes as B() does; $HOST is this computer's name.
std::string Canon(const std::string& expected) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::istringstream in(expected);
    std::string tok, out;
    while (in >> tok) {
        if (tok == "$HOST") tok = ">'" + std::string(host) + "'";
        if (size_t at = tok.find("$HOST"); at != std::string::npos)
            tok.replace(at, 5, "'" + std::string(host) + "'");
        if (tok[0] == '>' || tok[0] == 'R') tok = tok[0] + H(B(tok.substr(1)));
        out += (out.empty() ? "" : " ") + tok;
    }
    return out;
}

struct Core : session::ProtocolPeer {
    datastream::PrintState ps;
    std::string log;
    int recordResult = 0;
    bool open = false;
    std::vector<size_t> sizes;
    std::unique_ptr<session::TelnetProtocol> tp;

    explicit Core(const session::ProtocolConfig& c) {
        tp = std::make_unique<session::TelnetProtocol>(c, ps, *this);
    }
    void Add(const std::string& t) { log += (log.empty() ? "" : " ") + t; }
    int Send(std::span<const uint8_t> c) override {
        sizes.push_back(c.size());
        if (!c.empty()) Add(">" + H({c.begin(), c.end()}));
        return 0;
    }
    std::span<const uint8_t> fed; // the receive being fed
    std::string inPlace;          // per record: 'y' handed over from the receive, 'n' copied
    int Record(std::span<const uint8_t> r, bool) override {
        inPlace +=
            !r.empty() && r.data() >= fed.data() && r.data() < fed.data() + fed.size() ? 'y' : 'n';
        Add("R" + H({r.begin(), r.end()}));
        open = open || !r.empty();
        return recordResult;
    }
    bool JobOpen() const override { return open; }
    void EndJob() override { Add("end"), open = false; }
    void Bracket(uint8_t a) override { Add("br" + H(std::string(1, char(a)))); }
    void ClearPrintBuffer() override { Add("clear"); }
    void LuGranted(const std::string& name) override { Add("lu:" + name); }
    bool logReady = false;
    void Ready(bool fellBack) override {
        if (logReady) Add(fellBack ? "ready:plain" : "ready");
    }
    // In chunks of at most chunk bytes, cut first at cut.
    int Feed(const std::string& s, size_t chunk = 1 << 20, size_t cut = 0) {
        for (size_t at = 0; at < s.size();) {
            size_t n = std::min(chunk, s.size() - at);
            if (cut > at && cut < at + n) n = cut - at;
            fed = {reinterpret_cast<const uint8_t*>(s.data()) + at, n};
            if (int rc = tp->Feed(fed)) return rc;
            // The rest belongs to TLS: where it starts.
            if (tp->TlsReady()) return Add("tls@" + std::to_string(at + tp->TlsOffset())), 0;
            at += n;
        }
        return 0;
    }
    std::string State() const {
        char b[80];
        std::snprintf(b, sizeof b, "lu%d owner%d br%d sf%d %dx%d tbl%dx%d", ps.luType, ps.owner,
                      ps.bracket, ps.sfMode, ps.rows, ps.cols, ps.tblRows, ps.tblCols);
        return b;
    }
};

const std::string kNeg =
    "FFFD28 FFFA280802FFF0 FFFA280204'IBM-3287-1'01'PRT1'FFF0 FFFA28030400010203FFF0 ";
const std::string kNegOut =
    ">FFFB28 >FFFA280207'IBM-3287-1'01'PRT1'FFF0 lu:PRT1 >FFFA2803070001020304FFF0 ";

const session::ProtocolConfig kPrt1{.tn3270e = true, .nameKind = 1, .name = "PRT1"};

// opts: "plain" (TN3270E refused), "lu1", "noname", "A:NAME" (associate), "sX" session id,
// "aX" LU address, "tN" STARTTLS, "inside" (TLS is up).
struct Row {
    const char* what;
    std::string in, out;
    int rc = 0, recordResult = 0;
    std::string opts = "";
};

TEST(Protocol, HostBytesGiveRepliesRecordsAndJobEnds) {
    const Row rows[] = {
        {"connect name", kNeg, kNegOut},
        {"associate name", "FFFD28 FFFA280802FFF0", ">FFFB28 >FFFA280207'IBM-3287-1'00'TERM7'FFF0",
         0, 0, "A:TERM7"},
        {"no name", "FFFD28 FFFA280802FFF0", ">FFFB28 >FFFA280207'IBM-3287-1'FFF0", 0, 0, "noname"},
        {"device-type reject", "FFFD28 FFFA280802FFF0 FFFA2802060503FFF0 FFEF",
         ">FFFB28 >FFFA280207'IBM-3287-1'01'PRT1'FFF0"},
        {"plain TN3270 fallback",
         "FFFD28 FFFD18 FFFA1801FFF0 FFFB00 FFFD00 FFFB19 FFFD19 C1C2FFFFC3FFEF FFEF",
         ">FFFC28 >FFFB18 >FFFA1800'IBM-3287-1'FFF0 >FFFD00 >FFFB00 >FFFD19 >FFFB19 clear "
         "RC1C2FFC3 R",
         0, 0, "plain"},
        {"plain TN3270 for LU1", "FFFD18 FFFA1801FFF0", ">FFFB18 >FFFA1800'IBM-3287-1'FFF0", 0, 0,
         "plain lu1"},
        {"option states", "FFFB00 FFFB00 FFFC00 FFFC00 FFFE01 FFFD05 FFFB37 FFFB28 FFFC37",
         ">FFFD00 >FFFE00 >FFFC01 >FFFC05 >FFFD37 >FFFE28 >FFFE37", 0, 0, "plain"},
        {"bind, responses, eoj, unbind",
         kNeg + "03000000003101FFEF 0100020007C1C2FFEF 0800000000FFEF 01000200FFFFC4FFEF "
                "04000000000102FFFF03FFEF 010002FFFFFFFFC5FFEF 0300000000FFEF",
         kNegOut + "RC1C2 >020000000700FFEF end RC4 >02000000FFFF00FFEF end "
                   "RC5 >020000FFFFFFFF00FFEF end =lu1 owner2 br0 sf0 24x80 tbl27x132"},
        {"messages not for the printer",
         kNeg + "0600000000AAFFEF 0700000000BBFFEF 020000000000FFEF 0500000000'x'FFEF "
                "FFF1 0100FFEF 0000000000F1C1FFEF",
         kNegOut + "RF1C1 =lu3 owner2 br0 sf0 24x80 tbl27x132"},
        {"ext identity by session", "FFFB37 FFFA3723FFF0", ">FFFD37 >FFFA372501FFF0", 0, 0, "sb"},
        {"ext identity by session number", "FFFB37 FFFA3723FFF0", ">FFFD37 >FFFA372504FFF0", 0, 0,
         "s4"},
        {"ext identity by session letter", "FFFB37 FFFA3723FFF0", ">FFFD37 >FFFA372502FFF0", 0, 0,
         "sC"},
        {"ext identity by LU address", "FFFB37 FFFA3723FFF0", ">FFFD37 >FFFA37240CFFF0", 0, 0,
         "a0x0C"},
        {"ext LU address out of range", "FFFB37 FFFA3723FFF0 FFFA3727FFF0",
         ">FFFD37 >FFFA3726FFF0 >FFFA3727$HOSTFFF0", 0, 0, "a256"},
        {"ext identity none", "FFFB37 FFFA3723FFF0 FFFA3727FFF0",
         ">FFFD37 >FFFA3726FFF0 >FFFA3727$HOSTFFF0"},
        {"ext owner, sizes, lu, sf",
         "FFFA370301FFF0 FFFA370301FFF0 FFFA37042B500000FFF0 FFFA372F01FFF0 FFFA3731FFF0",
         "clear =lu1 owner1 br0 sf1 43x80 tbl43x80"},
        {"ext sizes kept", "FFFA37040A500C28FFF0 FFFA37042050FFFFFFFFFFF0",
         "=lu3 owner2 br0 sf0 32x80 tbl12x40"},
        {"ext brackets and status unbind",
         kNeg + "FFFA372A01FFF0 0100000001C1FFEF FFFA372A02FFF0 FFFA3730FFF0",
         kNegOut + "br01 RC1 br02 end"},
        {"ext not a printer", "FFFA372F02FFF0 FFFA3703FFF0", "", 62, 0},
        // A data-stream error refuses the record alone (COMMAND-REJECT), and the session stays.
        {"data-stream error reported", kNeg + "FFFB37 0100020001C1FFEF 0100000002C2FFEF",
         kNegOut + ">FFFD37 RC1 >020001000100FFEF >FFFA372100FFFF00FFF0 RC2 "
                   ">FFFA372100FFFF00FFF0",
         0, -255},
        {"data-stream error without ext",
         kNeg + "0100000001C1FFEF 0100010002C2FFEF 0100020003C3FFEF 0100FFEF",
         kNegOut + "RC1 RC2 >020001000200FFEF RC3 >020001000300FFEF", 0, -3},
        // Negative responses (always and error-response alike) carry the reason byte.
        {"spool refuses: intervention required, the session stays",
         kNeg + "0100020001C1FFEF 010001FFFFFFFFC2FFEF 0100000003C3FFEF",
         kNegOut + "RC1 >020001000101FFEF RC2 >020001FFFFFFFF01FFEF RC3", 0, 94},
        {"port device missing", kNeg + "0100020001C1FFEF", kNegOut + "RC1 >020001000101FFEF", 0,
         72},
        {"record refused: command reject, the session stays",
         kNeg + "0100010001C1FFEF 0100020002C2FFEF",
         kNegOut + "RC1 >020001000100FFEF RC2 >020001000200FFEF", 0, 63},
        {"error-response stored: no answer", kNeg + "0100010001C1FFEF 0100010002C2FFEF",
         kNegOut + "RC1 RC2"},
        {"long subnegotiation", "FFFA18" + std::string(2100, '1') + "FFF0 FFFA1801FFF0",
         ">FFFA1800'IBM-3287-1'FFF0"},
        {"START-TLS refused", "FFFD2E FFFA2E01FFF0 FFFD28", ">FFFC2E >FFFB28"},
        {"START-TLS, server's FOLLOWS second", "FFFD2E FFFA2E01FFF0 1603",
         ">FFFB2EFFFA2E01FFF0 tls@9", 0, 0, "t1"},
        {"START-TLS, server's FOLLOWS first", "FFFA2E01FFF0 FFFD2E FFFD2E 16",
         ">FFFB2EFFFA2E01FFF0 tls@9", 0, 0, "t2"},
        {"START-TLS not offered: plain", "FFFD28", ">FFFB28", 0, 0, "t1"},
        {"START-TLS required, TN3270E first", "FFFD28", "", 93, 0, "t2"},
        {"START-TLS required, data first", "C1", "", 93, 0, "t2"},
        {"START-TLS required, withdrawn", "FFFD2E FFFC2E", ">FFFB2EFFFA2E01FFF0", 93, 0, "t2"},
        {"START-TLS required, other subnegotiation", "FFFA1801FFF0", "", 93, 0, "t2"},
        {"inside TLS: START-TLS refused, the rest negotiated", "FFFD2E FFFD28", ">FFFC2E >FFFB28",
         0, 0, "t2 inside"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        // The protocol's view of the settings, as a session takes it.
        config::Settings s;
        s.use3270E = true;
        s.connectName = "PRT1";
        std::istringstream opts(r.opts);
        for (std::string t; opts >> t;) {
            if (t == "plain") s.use3270E = false;
            if (t == "lu1") s.luType = 1;
            if (t == "noname") s.connectName.reset();
            if (t[0] == 'A') s.connectName.reset(), s.associateName = t.substr(2);
            if (t[0] == 's' || t[0] == 'a') (t[0] == 's' ? s.sessionId : s.luAddress) = t.substr(1);
            if (t[0] == 't') s.tls.startTls = std::stoi(t.substr(1));
        }
        Core core(session::ProtocolConfig::From(s));
        if (r.opts.find("inside") != std::string::npos) core.tp->Secured();
        core.recordResult = r.recordResult;
        EXPECT_EQ(core.Feed(B(r.in)), r.rc);
        // A row may end with "=" and the print state the bytes leave.
        if (r.out.find('=') != std::string::npos) core.Add("=" + core.State());
        EXPECT_EQ(core.log, Canon(r.out));
    }
}

// The terminal type list, when the session becomes ready for records, and what
// the server was last told.
TEST(Protocol, TerminalTypesReadinessAndLastTold) {
    const std::string send = "FFFA1801FFF0 ";
    const std::string binaryEor = "FFFB00 FFFD00 FFFB19 FFFD19 ";
    struct Case {
        const char* what;
        std::string in, out, told, opts;
    } cases[] = {
        {"printer first, then the LU type, then the last again", "FFFD18 " + send + send + send,
         ">FFFB18 >FFFA1800'IBM-3287-1'FFF0 >FFFA1800'IBM-LU3'FFF0 >FFFA1800'IBM-LU3'FFF0",
         "TERMINAL-TYPE IS IBM-LU3", "plain"},
        {"LU1 second", send + send + send,
         ">FFFA1800'IBM-3287-1'FFF0 >FFFA1800'IBM-LU1'FFF0 >FFFA1800'IBM-LU1'FFF0",
         "TERMINAL-TYPE IS IBM-LU1", "plain lu1"},
        {"pinned name only", send + send, ">FFFA1800'IBM-3278-2'FFF0 >FFFA1800'IBM-3278-2'FFF0",
         "TERMINAL-TYPE IS IBM-3278-2", "plain pin"},
        {"ready once BINARY and EOR go both ways",
         send + "FFFB00 FFFD00 FFFB19 " + "FFFD19 " + binaryEor,
         ">FFFA1800'IBM-3287-1'FFF0 >FFFD00 >FFFB00 >FFFD19 >FFFB19 clear ready",
         "WILL END-OF-RECORD", "plain"},
        {"TN3270E wanted, plain given", "FFFE28 FFFD18 " + send + binaryEor,
         ">FFFC28 >FFFB18 >FFFA1800'IBM-3287-1'FFF0 >FFFD00 >FFFB00 >FFFD19 >FFFB19 clear "
         "ready:plain",
         "WILL END-OF-RECORD", ""},
        {"functions agreed", kNeg, kNegOut + "ready", "FUNCTIONS REQUEST", ""},
        {"device type asked", "FFFD28 FFFA280802FFF0",
         ">FFFB28 >FFFA280207'IBM-3287-1'01'PRT1'FFF0",
         "DEVICE-TYPE REQUEST IBM-3287-1 CONNECT PRT1", ""},
        {"nothing said", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        config::Settings s;
        s.use3270E = c.opts.find("plain") == std::string::npos;
        s.connectName = "PRT1";
        if (c.opts.find("lu1") != std::string::npos) s.luType = 1;
        if (c.opts.find("pin") != std::string::npos) s.terminalType = "IBM-3278-2";
        Core core(session::ProtocolConfig::From(s));
        core.logReady = true;
        EXPECT_EQ(core.Feed(B(c.in)), 0);
        EXPECT_EQ(core.log, Canon(c.out));
        EXPECT_EQ(core.tp->LastTold(), c.told);
        EXPECT_EQ(core.tp->Ready(), c.out.find("ready") != std::string::npos);
        // A new connection starts the list and the readiness again.
        core.tp->Reset();
        core.log.clear();
        core.Feed(B(send));
        EXPECT_EQ(core.log,
                  Canon(c.opts.find("pin") != std::string::npos ? ">FFFA1800'IBM-3278-2'FFF0"
                                                                : ">FFFA1800'IBM-3287-1'FFF0"));
        EXPECT_FALSE(core.tp->Ready());
    }
}

TEST(Protocol, StreamCutAnywhereGivesTheSameResult) {
    const std::string stream =
        B(kNeg + "0100020007C1C2FFFFC3FFEF 0100020008") + std::string(5000, '\xC4') +
        B("FFEF FFF1 0100000009C5FFEF 0800000000FFEF 0400000000010203FFFFFFEF FFFA1801FFF0 "
          "FFFB00 FFFD19 FFFA37042B50FFFF FFF0 0100020009FFEF 0100020010FFFFC1C2FFFFFFEF");
    const std::string expected =
        Canon(kNegOut + "RC1C2FFC3 >020000000700FFEF R" + H(std::string(5000, '\xC4')) +
              " >020000000800FFEF RC5 end >FFFA1800'IBM-3287-1'FFF0 >FFFD00 >FFFB19 R "
              ">020000000900FFEF RFFC1C2FF >020000001000FFEF");
    // Whole, byte by byte, and in two pieces cut at every position.
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        Core part(kPrt1);
        ASSERT_EQ(part.Feed(stream, cut == 1 ? 1 : 4096, cut), 0);
        ASSERT_EQ(part.log, expected) << "cut at " << cut;
    }
}

TEST(Protocol, WholeRecordsAreHandedOverWhereTheyLieAndTheRestIsCopied) {
    // Cuts: after the negotiation, at the end of the third record's IAC EOR, inside the
    // fourth record, and between the fifth record's IAC and its EOR.
    const std::string neg = B(kNeg);
    const std::string one = B("0100020001C1C2C3FFEF"), two = B("0100020002C1FFFFC2FFEF"),
                      three = B("0100020003C4FFEF"), four = B("0100020004C5C6C7C8FFEF"),
                      five = B("0100020005C9FF"), fiveEnd = B("EF"), six = B("0100000006D1FFEF");
    const std::vector<std::string> reads = {neg, one + two + three, four.substr(0, 8),
                                            four.substr(8) + five, fiveEnd + six};
    Core core(kPrt1);
    for (const std::string& r : reads)
        ASSERT_EQ(core.Feed(r), 0);
    // Whole in its receive without IAC inside: in place; IAC IAC, split, or its IAC EOR
    // cut: copied. Each record's bytes, then its response.
    EXPECT_EQ(core.inPlace, "ynynny");
    EXPECT_EQ(core.log, Canon(kNegOut + "RC1C2C3 >020000000100FFEF RC1FFC2 >020000000200FFEF "
                                        "RC4 >020000000300FFEF RC5C6C7C8 >020000000400FFEF "
                                        "RC9 >020000000500FFEF RD1"));
    // A record in place that ends the session keeps its rc; the next one is not taken.
    Core failing(kPrt1);
    failing.Feed(neg);
    failing.recordResult = 42;
    EXPECT_EQ(failing.Feed(one + three), 42);
    EXPECT_EQ(failing.inPlace, "y");
    // Plain TN3270: a record is the bytes up to IAC EOR, in place as well.
    Core plain(session::ProtocolConfig{});
    plain.Feed(B("FFFD19 FFFB19 FFFD00 FFFB00 F1C1FFEF F1C2FFEF"));
    EXPECT_EQ(plain.inPlace, "yy");
    EXPECT_HAS(plain.log, "RF1C1 RF1C2");
}

TEST(Protocol, RecordBufferAndSendPath) {
    Core core(kPrt1);
    EXPECT_TRUE(core.tp->ExtensionUnnegotiated());
    core.Feed(B(kNeg + "FFFC37"));
    EXPECT_FALSE(core.tp->ExtensionUnnegotiated());
    const size_t first = core.tp->Records().Capacity();
    EXPECT_EQ(first, 27u * 132 + 256);
    // A long record cut across receives grows the buffer; nine records later it is back
    // to its first size.
    core.Feed(B("0100000001") + std::string(9000, 'A') + B("FFEF"), 4096);
    EXPECT_GE(core.tp->Records().Capacity(), 9000u);
    for (int i = 0; i < 7; ++i)
        core.Feed(B("0100000001C1FFEF"));
    EXPECT_GE(core.tp->Records().Capacity(), 9000u);
    core.Feed(B("0100000001C1FFEF"));
    EXPECT_EQ(core.tp->Records().Capacity(), first);
    // Too long for the buffer: refused (COMMAND-REJECT, as a response was asked for).
    core.Feed(B("0100020007"));
    EXPECT_EQ(core.tp->Feed(std::vector<uint8_t>(session::RecordBuffer::kMax + 1, 0x41)),
              session::kRecordTooLong);
    EXPECT_EQ(core.log.substr(core.log.size() - 17), ">020001000700FFEF");
    // Inbound records: a 3270-DATA header with the request's sequence number (FF doubled
    // there too), FF doubled, IAC EOR added, cut where the send buffer is full.
    Core reply(kPrt1);
    reply.Feed(B(kNeg + "0000000AFFFF F2 FFEF"));
    reply.sizes.clear();
    EXPECT_EQ(reply.tp->SendRecord(std::vector<uint8_t>(5000, 0xFF)), 0);
    EXPECT_EQ(reply.sizes, (std::vector<size_t>{4094, 4094, 1820}));
    EXPECT_HAS(reply.log, "RF2 >0000000AFFFFFFFFFF");
    EXPECT_EQ(reply.log.substr(reply.log.size() - 6), "FFFFEF");
    reply.sizes.clear();
    reply.tp->SendRecord(std::vector<uint8_t>(4087, 0x40));
    EXPECT_EQ(reply.sizes, (std::vector<size_t>{4093, 2}));
    // Plain TN3270: the record alone.
    Core plain(kPrt1);
    plain.Feed(B("FFFD28"));
    plain.tp->SendRecord(std::vector<uint8_t>{0x40});
    EXPECT_EQ(plain.log, ">FFFB28 >40FFEF");
}

// One host simulator (on port, else any) and one twprinterd in a fresh directory; the
// ini lines come first, so that they win over the base keys.
// Every connection is captured, and what the client sent must read as valid to an
// independent dissector.
struct HostRun {
    testutil::TempDir dir;
    std::unique_ptr<testutil::Host> sim;
    std::unique_ptr<Proc> daemon;
    Proc* host = nullptr;

    ~HostRun() {
        if (daemon) daemon->Stop(SIGTERM);
        EXPECT_EQ(sim->Flags(), "");
    }

    HostRun(const std::string& script, const std::string& ini,
            std::vector<std::string> hostArgs = {}, std::vector<std::string> daemonArgs = {},
            int clients = 1, int port = 0, std::vector<std::string> launcher = {}) {
        Start(script, ini, hostArgs, daemonArgs, clients, port, launcher);
    }
    // A new host and daemon in the same directory (the previous daemon stopped first).
    void Start(const std::string& script, const std::string& ini,
               std::vector<std::string> hostArgs = {}, std::vector<std::string> daemonArgs = {},
               int clients = 1, int port = 0, std::vector<std::string> launcher = {}) {
        daemon.reset();
        if (sim) {
            EXPECT_EQ(sim->Flags(), "");
        }
        hostArgs.insert(hostArgs.end(),
                        {"--timeout", "5000", "--clients", std::to_string(clients)});
        sim = std::make_unique<testutil::Host>(dir, "host", script, hostArgs, port);
        host = sim->proc.get();
        EXPECT_NE(sim->port, 0) << host->text();
        testutil::WriteFile(dir.file("twprinter.ini"), testutil::LuIni(sim->port, ini));
        // The shell leaves its pid, which exec hands on to the daemon.
        launcher.insert(launcher.begin(), {"/bin/sh", "-c", "echo $$ >pid; exec \"$@\"", "sh"});
        launcher.push_back(TWPRINTERD_PATH);
        launcher.insert(launcher.end(), daemonArgs.begin(), daemonArgs.end());
        daemon = std::make_unique<Proc>(launcher, dir.path(),
                                        std::vector<std::string>{"TWPRINTER_DIR=" + dir.path()});
    }
    // The delivered job copies once count of them exist, in job order.
    std::vector<std::string> Jobs(size_t count, int ms = 10000) {
        return testutil::DeliveredJobs(dir.file("JOB"), count, ms);
    }
    int Pid() { return std::atoi(testutil::ReadFile(dir.file("pid")).c_str()); }
    void Signal(int sig) { ASSERT_EQ(::kill(Pid(), sig), 0); }
    bool WaitKept(size_t n) {
        return testutil::WaitFiles(dir.file("failed"), n, 10000).size() == n;
    }
};

// The dissector check itself: a client of the test's own speaks to the host simulator,
// once with the bytes of old (a FUNCTIONS REQUEST in two sends, a positive response
// without its data byte) and once with today's; only the old ones are flagged.
TEST(Dissector, FlagsSplitSequencesAndShortResponses) {
    if (!testutil::HaveTshark()) GTEST_SKIP() << "tshark is not installed";
    for (bool old : {true, false}) {
        SCOPED_TRACE(old ? "old bytes" : "today's bytes");
        testutil::TempDir dir;
        testutil::Host host(
            dir, "host", "negotiate tn3270e\nbind\nscs \"HELLO\" always\nexpect-response\nclose\n",
            {"--timeout", "3000"});
        const int port = host.port;
        ASSERT_NE(port, 0) << host.proc->text();
        const int fd = testutil::ConnectLoopback(port);
        ASSERT_GE(fd, 0);
        std::string got;
        auto wait = [&](const std::string& hex) {
            const std::string want = B(hex);
            for (int i = 0; i < 100 && got.find(want) == std::string::npos; ++i) {
                pollfd p{fd, POLLIN, 0};
                char buf[4096];
                if (::poll(&p, 1, 50) > 0) {
                    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    got.append(buf, static_cast<size_t>(n));
                }
            }
            return got.find(want) != std::string::npos;
        };
        auto send = [&](const std::string& hex) {
            const std::string b = B(hex);
            ASSERT_EQ(::send(fd, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
            // Apart, so that each send is a segment of its own.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        };
        ASSERT_TRUE(wait("FFFD28"));
        send("FFFB28");
        ASSERT_TRUE(wait("FFFA280802FFF0"));
        send("FFFA280207'IBM-3287-1'01'PRT1'FFF0");
        ASSERT_TRUE(wait("FFFA280204"));
        if (old)
            send("FFFA2803070001020304"), send("FFF0");
        else
            send("FFFA2803070001020304FFF0");
        ASSERT_TRUE(wait("C8C5D3D3D6FFEF")); // HELLO in EBCDIC
        send(old ? "0200000001FFEF" : "020000000100FFEF");
        ::close(fd);
        host.proc->Wait(5000);
        const std::string flagged = host.Flags();
        EXPECT_EQ(Count(flagged, "Malformed"), old ? 2u : 0u) << flagged;
        EXPECT_EQ(Count(flagged, "\n"), old ? 2u : 0u) << flagged;
    }
}

TEST(Daemon, RetriesUntilTheHostListensEndsSilentJobsAndCounts) {
    HostRun r("negotiate tn3270e PRT9\nbind\nscs \"LATE\" always\nexpect-response\neoj\n"
              "scs \"SILENT\" always\nexpect-response\nhold\n",
              "EOJTIMEOUT=1\n", {"--listen-after", "1500"}, {}, 1, testutil::FreePort());
    EXPECT_EQ(r.Jobs(2, 15000), (Texts{"LATE", "SILENT"})) << r.daemon->text();
    EXPECT_SAYS(*r.daemon, "Delaying before reconnect.");
    // SIGUSR1: one summary line with the counters, each saying what it counts.
    r.Signal(SIGUSR1);
    EXPECT_SAYS(*r.daemon, "state online, LU PRT9, jobs delivered 2, jobs failed 0, "
                           "last job 20");
    EXPECT_SAYS(*r.daemon, " delivered, jobs received 2, kept jobs delivered again 0, jobs "
                           "waiting in failed/ 0, print bytes 10 (the jobs' files), bytes "
                           "on the wire ");
    // The wire carries the print bytes and the protocol around them.
    const std::string& text = r.daemon->text();
    const size_t wire = text.find("bytes on the wire ");
    EXPECT_GT(std::atol(text.c_str() + wire + 18), 10) << text;
    EXPECT_NE(text.find(" (from the host, protocol included)\n", wire), std::string::npos) << text;
    // A line per job received and per job delivered.
    // A relative FILENAME is in the settings folder, and the lines say where.
    EXPECT_SAYS(*r.daemon, "twprinterd: Job " + r.dir.file("JOB0.txt") +
                               " received from LU PRT9: 4 bytes, 1 record, 1 page\n");
    EXPECT_SAYS(*r.daemon, "twprinterd: Job " + r.dir.file("JOB1.txt") + " delivered to file " +
                               r.dir.file("JOB1f.txt") + "\n");
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

TEST(Daemon, ConnectionLostMidJobDeliversItReconnectsAndTraces) {
    {
        // The job is delivered when the server goes, not at the next connection.
        HostRun gone("negotiate tn3270e\nbind\nscs \"ONLY PART\" always\nexpect-response\nclose\n",
                     "");
        EXPECT_EQ(gone.Jobs(1, 5000), (Texts{"ONLY PART"})) << gone.daemon->text();
        EXPECT_EQ(gone.daemon->Stop(SIGTERM), 0);
    }
    HostRun r("negotiate tn3270e\nbind\nscs \"FIRST PART\" always\nexpect-response\nclose\nnext\n"
              "negotiate tn3270e\nbind\nscs \"CUT BY RESET\" always\nexpect-response\nreset\nnext\n"
              "negotiate tn3270e\nbind\nscs \"THIRD\" always\nexpect-response\neoj\nhold\n",
              "", {}, {"-d"}, 3);
    EXPECT_EQ(r.Jobs(3, 15000), (Texts{"FIRST PART", "CUT BY RESET", "THIRD"})) << r.daemon->text();
    EXPECT_SAYS(*r.daemon, "Delaying before reconnect.");
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_SAYS(*r.host, "DONE 3 ok");
    // The trace holds the last connection: DO TN3270E first, each send with its count.
    std::string log = testutil::ReadFile(r.dir.file("kestelnet.log"));
    EXPECT_EQ(log.find("\nRead 3 bytes from server\n0000  FFFD28" + std::string(29, ' ') +
                       "  |???|" + std::string(13, ' ') + " |--(|\n"),
              0u)
        << log;
    EXPECT_HAS(log, "\nWrote 3 (3) bytes to server\n0000  FFFB28");
    EXPECT_HAS(log, "\nWrote 8 (8) bytes to server\n0000  02000000 0100FFEF ");
    // A machine slow enough to start one more connection before the stop traces that one.
    if (Count(r.daemon->text(), "Attempting to connect") <= 3) {
        // The record may share a read with the BIND, so its bytes can wrap across dump lines.
        std::string hex;
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);)
            if (line.size() > 6 && line.compare(4, 2, "  ") == 0 &&
                line.find_first_not_of("0123456789ABCDEF") == 4)
                for (char c : line.substr(6, 35))
                    if (c != ' ') hex += c;
        EXPECT_HAS(hex, "E3C8C9D9C4FFEF") << log << r.daemon->text();
    }
}

// Online only once records can come; a close in the negotiation names what the server
// was last told; the fall-back to plain TN3270 is said once a run, with the name not used.
TEST(Daemon, OnlineAfterNegotiationAndCloseDuringItIsExplained) {
    HostRun r("raw FFFD18\nexpect FFFB18\nraw FFFA1801FFF0\nexpect FFFA1800\nclose\nnext\n"
              "negotiate tn3270\nclose\nnext\nnegotiate tn3270\nhold\n",
              "CONNECTNAME=PRT7\n", {}, {}, 3);
    const std::string closed = "Connection closed by server: server closed the connection after "
                               "TERMINAL-TYPE IS IBM-3287-1\n";
    EXPECT_SAYS(*r.daemon, closed);
    EXPECT_SAYS(*r.host, "CONNECTED 3");
    EXPECT_SAYS(*r.host, "TERMINAL-TYPE IBM-3287-1");
    const std::string online = "Tarnwick printer client is online.\n";
    const std::string fallback = "The server does not take TN3270E: plain TN3270 is used, and "
                                 "the connect name PRT7 is not used\n";
    EXPECT_SAYS(*r.daemon, fallback);
    EXPECT_SAYS(*r.daemon, "Connection closed by server\n");
    EXPECT_SAYS(*r.host, "DONE 2");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    const std::string text = r.daemon->text();
    EXPECT_EQ(Count(text, online), 2u) << text;
    EXPECT_LT(text.find(closed), text.find(online)) << text;
    EXPECT_EQ(Count(text, fallback), 1u) << text;

    // TERMINALTYPE pins the one name said.
    HostRun pinned("negotiate tn3270\nhold\n", "TERMINALTYPE= IBM-3278-2 \n");
    EXPECT_SAYS(*pinned.host, "TERMINAL-TYPE IBM-3278-2\n");
    EXPECT_SAYS(*pinned.daemon, online);
    EXPECT_EQ(pinned.daemon->Stop(SIGTERM), 0);
}

TEST(Daemon, JobOfAKilledRunIsDeliveredAtTheNextStart) {
    HostRun r("negotiate tn3270e\nbind\nscs \"HALF A JOB\" always\nexpect-response\nhold\nnext\n"
              "negotiate tn3270e\nbind\nscs \"NEXT JOB\" always\nexpect-response\neoj\nhold\n",
              "", {}, {"-d"}, 2);
    const std::string left = r.dir.file("JOB0.txt");
    testutil::Until([&] { return testutil::ReadFile(left) == "HALF A JOB"; }, 10000);
    ASSERT_EQ(testutil::ReadFile(left), "HALF A JOB") << r.daemon->text();
    r.Signal(SIGKILL);
    EXPECT_EQ(r.daemon->Wait(5000), -1);
    // A file being written by a running session is locked and no left-over.
    testutil::WriteFile(r.dir.file("JOB7.txt"), "BUSY");
    int busy = ::open(r.dir.file("JOB7.txt").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    testutil::WriteFile(r.dir.file("JOB12.txt"), "");
    testutil::WriteFile(r.dir.file("JOBX.txt"), "NOT A JOB");
    Proc again({TWPRINTERD_PATH, "-d"}, r.dir.path(), {"TWPRINTER_DIR=" + r.dir.path()});
    EXPECT_SAYS(again, "Print file " + r.dir.file("JOB0.txt") +
                           " (10 bytes) was left by an earlier run in the "
                           "middle of a job; it is delivered now as an incomplete job.");
    // The next job gets a name of its own.
    EXPECT_EQ(r.Jobs(2), (Texts{"HALF A JOB", "NEXT JOB"})) << again.text();
    EXPECT_EQ(again.Stop(SIGTERM), 0) << again.text();
    EXPECT_HAS(again.text(),
               "Incomplete job " + r.dir.file("JOB0.txt") + " from an earlier run delivered");
    EXPECT_EQ(testutil::ReadFile(r.dir.file("JOB7.txt")), "BUSY");
    EXPECT_EQ(testutil::ReadFile(r.dir.file("JOBX.txt")), "NOT A JOB");
    for (const std::string& name : testutil::ListDir(r.dir.path()))
        EXPECT_TRUE(name != "JOB0.txt" && name != "JOB12.txt") << name;

    // Undeliverable: kept in the failed folder with KEEPFAILED, else left in the spool.
    for (const char* keep : {"1", "0"}) {
        testutil::WriteFile(r.dir.file("JOB3.txt"), "CUT SHORT");
        testutil::WriteFile(
            r.dir.file("twprinter.ini"),
            testutil::LuIni(testutil::FreePort(), "USESOCKET=1\nSOCKETPORT=127.0.0.1:" +
                                                      std::to_string(testutil::FreePort()) +
                                                      "\nKEEPFAILED=" + keep + "\n"));
        Proc failing({TWPRINTERD_PATH}, r.dir.path(), {"TWPRINTER_DIR=" + r.dir.path()});
        EXPECT_SAYS(failing, *keep == '1' ? "; kept as " + r.dir.file("failed/")
                                          : "could not be delivered; it stays in the spool");
        EXPECT_EQ(failing.Stop(SIGTERM), 0) << failing.text();
        EXPECT_EQ(testutil::ReadFile(r.dir.file("JOB3.txt")).empty(), *keep == '1');
        EXPECT_EQ(testutil::ListDir(r.dir.file("failed")).size(), 1u);
    }
    ::close(busy);
}

TEST(Daemon, SettingsCheckedAtStartAndOnRequest) {
    testutil::TempDir dir;
    const std::vector<std::string> env{"TWPRINTER_DIR=" + dir.path()};
    auto run = [&](const std::string& ini, std::vector<std::string> args, int code,
                   const std::vector<std::string>& says) {
        SCOPED_TRACE(ini);
        testutil::WriteFile(dir.file("twprinter.ini"), "[CONFIGURATION]\n" + ini);
        args.insert(args.begin(), TWPRINTERD_PATH);
        Proc p(args, dir.path(), env);
        EXPECT_EQ(p.Wait(10000), code) << p.text();
        for (const std::string& text : says)
            EXPECT_HAS(p.text(), text);
        return p.text();
    };
    // -h in --help and -c in --check are no options here.
    run("", {"--help"}, 0, {"usage: twprinterd [--check] [options]", "  -FF "});
    run("", {"--version"}, 0, {"twprinterd 1.5.1"});
    // A word that cannot be read stops the program before anything is written.
    run("HOSTNAME=mvs1\n", {"-h", "tn-server.example.com", "-q"}, 2,
        {"twprinterd: unknown option -q\nusage: twprinterd [--check] [options]"});
    run("HOSTNAME=mvs1\n", {"-s"}, 2, {"twprinterd: option -s needs a value\nusage: "});
    EXPECT_EQ(testutil::ReadFile(dir.file("twprinter.ini")), "[CONFIGURATION]\nHOSTNAME=mvs1\n");
    // The check's connect is the first client, the session's the second.
    testutil::Host h(dir, "host", "hold\n", {"--clients", "2", "--timeout", "5000"});
    Proc& sim = *h.proc;
    ASSERT_NE(h.port, 0) << sim.text();
    const std::string host =
        "HOSTNAME=127.0.0.1\nSERVERNAME=" + std::to_string(h.port) + "\nPRINTTOFILE=1\n";
    std::string good =
        run(host + "FILENAME=JOB\n", {"--check"}, 0,
            {"settings: " + dir.file("twprinter.ini") + " is in order\n", "host 127.0.0.1 port ",
             ": reachable\n", "output to files: text copies of the jobs in " + dir.path() + "\n",
             "check passed"});
    EXPECT_EQ(testutil::ListDir(dir.path()), (Texts{"host.script", "twprinter.ini"})) << good;
    run("HOSTNAME=nosuchhost.invalid\nSERVERNAME=" + std::to_string(testutil::FreePort()) +
            "\nUSESOCKET=1\nSOCKETPORT=nonsense\nLUTYPE=7\n",
        {"--check"}, 1,
        {"setting LUTYPE=7: expected 1 or 3\n", "setting SOCKETPORT=nonsense: expected host:port\n",
         "host nosuchhost.invalid cannot be resolved: ", "output to network printer: ",
         "check failed"});
    run("HOSTNAME=127.0.0.1\nSERVERNAME=" + std::to_string(testutil::FreePort()) +
            "\nPRINTTOFILE=1\nFILENAME=" + dir.file("none/JOB") + "\n",
        {"--check"}, 1,
        {": Connection refused\n", "output to files: " + dir.file("none"), "check failed"});
    // A stopping setting ends the run before any connect, with its own code.
    run(host + "LUTYPE=7\n", {}, 52, {"LUTYPE=7: expected 1 or 3", "Enter an LU Type: 1 or 3."});
    run(host + "FILENAME=/etc/passwd/JOB\n", {}, 97,
        {"FILENAME=/etc/passwd/JOB: expected a print file prefix in a folder that can be written "
         "(/etc/passwd: Not a directory)"});
    // A name that does not resolve is retried like a refused connection, and the
    // time-out ends the attempts though it is shorter than the retry interval.
    std::string text = run("HOSTNAME=nosuchhost.invalid\nCONNECTTIMEOUT=2\nRETRYINTERVAL=60\n", {},
                           65, {"Unable to connect to server"});
    const std::string unresolved = "twprinterd: Unable to connect: host nosuchhost.invalid cannot "
                                   "be resolved: Name or service not known\n";
    EXPECT_EQ(Count(text, unresolved), 2u) << text;
    // The delay is a line of its own, said only where an attempt follows.
    EXPECT_EQ(Count(text, " twprinterd: Delaying before reconnect.\n"), 1u) << text;
    EXPECT_EQ(Count(text, " twprinterd: Attempting to connect...\n"), 2u) << text;
    // The default service name, which no services file knows, is telnet's port.
    run("HOSTNAME=127.0.0.1\nCONNECTTIMEOUT=1\nRETRYINTERVAL=1\n", {}, 65,
        {"twprinterd: Service kesservd is not in /etc/services: port 23 is used\n",
         "twprinterd: Unable to connect: 127.0.0.1 port 23: Connection refused\n"});
    run("HOSTNAME=127.0.0.1\nSERVERNAME=nonsenseport\n", {}, 92,
        {"SERVERNAME=nonsenseport: expected a port number",
         "Invalid port: nonsenseport (neither a port number 1 to 65535 nor a service name"});
    // A bad time-out falls back to its default, and the session runs.
    testutil::WriteFile(dir.file("twprinter.ini"),
                        "[CONFIGURATION]\n" + host + "CONNECTTIMEOUT=abc\n");
    Proc on({TWPRINTERD_PATH}, dir.path(), env);
    EXPECT_TRUE(on.WaitFor("CONNECTTIMEOUT=abc: expected a number of seconds (0: no limit); 15 is "
                           "used"));
    EXPECT_SAYS(sim, "CONNECTED 2");
    EXPECT_EQ(on.Stop(SIGTERM), 0) << on.text();
    EXPECT_EQ(h.Flags(), "");
}

TEST(Daemon, FinalMessagesAndResultCodes) {
    struct Case {
        std::string script, ini, text;
        int code;
        std::vector<std::string> launcher = {};
    } cases[] = {
        {"negotiate tn3270e\next-on\next 2F02\nhold\n", "", "This LU is not a printer!", 62},
        {"hold\n", "CONNECTNAME=" + std::string(83, 'N') + "\n", "connect name of 83 characters",
         79},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HostRun r(c.script, c.ini, {}, {}, 1, 0, c.launcher);
        EXPECT_EQ(r.daemon->Wait(10000), c.code) << r.daemon->text();
        EXPECT_HAS(r.daemon->text(), c.text);
    }
}

// Records the printer cannot carry out, on LUs of both types: each is refused alone
// (COMMAND-REJECT, for an error in the data as for an unknown command) with
// a line naming the byte and its offset; the daemon stays up and the next record prints.
// Reads are answered as 3270-DATA messages with the request's sequence number.
// A burst of records that ask for no response arrives in few receives: the records
// that lie whole in one are handed over in place, one with IAC IAC inside and one
// longer than a receive are copied, and the job has every byte in order.
TEST(Daemon, RecordsWholeInAReceiveCutAcrossOrEscapedPrintTheSame) {
    std::string line, big, script = "negotiate tn3270e\nbind\n", expected;
    for (int c = 0; c < 79; ++c)
        line += "C1";
    line += "15";
    for (int i = 0; i < 1000; ++i)
        big += line;
    for (int i = 0; i < 200; ++i) {
        script += "scs " + line + " none\n";
        expected += std::string(79, 'A') + "\r\n";
        if (i == 50) {
            // EBCDIC FF is sent as IAC IAC.
            script += "scs C1FFC215 none\n";
            const char ff = static_cast<char>(config::kBuiltinEbcdicToAscii[0xFF]);
            expected += "A" + (ff ? std::string(1, ff) : "") + "B\r\n";
        }
        if (i == 100) {
            script += "scs " + big + " none\n";
            for (int k = 0; k < 1000; ++k)
                expected += std::string(79, 'A') + "\r\n";
        }
    }
    script += "scs C2 always\nexpect-response\neoj\nhold\n";
    expected += "B";
    HostRun r(script, "");
    const std::vector<std::string> jobs = r.Jobs(1);
    ASSERT_EQ(jobs.size(), 1u) << r.daemon->text();
    EXPECT_EQ(jobs[0].size(), expected.size());
    EXPECT_TRUE(jobs[0] == expected)
        << "first difference at "
        << std::mismatch(jobs[0].begin(), jobs[0].end(), expected.begin(), expected.end()).first -
               jobs[0].begin();
    EXPECT_FALSE(r.host->WaitFor("FAIL", 100)) << r.host->text();
}

TEST(Daemon, DataStreamErrorsRefuseTheRecordAlone) {
    HostRun r("negotiate tn3270e\nbind\nnegative-ok\n"
              "seq 1\nscs C1C2 always\nexpect-response\n"
              "seq 2\nscs 11 always\nexpect 020001000200FFEF\n"
              "seq 3\nscs 2B40 always\nexpect 020001000300FFEF\n"
              "seq 4\nscs 3C always\nexpect 020001000400FFEF\n"
              "seq 5\nscs C3 error\nexpect-response\neoj\n"
              "seq 6\ndata3270 F5C3C4C5 always\nexpect-response\n"
              "seq 7\ndata3270 F1C311 always\nexpect 020001000700FFEF\n"
              "seq 8\ndata3270 99C1 always\nexpect 020001000800FFEF\n"
              "seq 9\ndata3270 F2 always\nexpect 0000000009 60 4040 C4C5 00\n"
              "expect 020000000900FFEF\n"
              "seq 10\ndata3270 F6 always\nexpect 000000000A 60 4040 C4C5 FFEF\n"
              "seq 11\ndata3270 F3000310 always\nexpect 020001000B00FFEF\n"
              "seq 12\ndata3270 F1C3C6 always\nexpect-response\neoj\nhold\n",
              "");
    EXPECT_EQ(r.Jobs(2), (Texts{"ABC", "DEF"})) << r.daemon->text();
    for (const char* line :
         {"A record from the host was refused: byte 11 (SBA) at offset 0 is cut short or has "
          "invalid parameters.",
          "byte 2B (format control) at offset 0 is cut", "byte 3C (RA) at offset 0 is cut",
          "byte 11 (SBA) at offset 2 is cut",
          "refused: byte 99 at offset 0 is no command this printer carries out.",
          "byte 10 at offset 3 is in a structured field"})
        EXPECT_TRUE(r.daemon->WaitFor(line)) << line << "\n" << r.daemon->text();
    EXPECT_TRUE(r.host->WaitFor("NEGATIVE 1 SEQ 8 REASON 00")) << r.host->text();
    EXPECT_TRUE(r.daemon->Alive());
    r.Signal(SIGUSR1);
    EXPECT_TRUE(r.daemon->WaitFor("jobs delivered 2, jobs failed 0")) << r.daemon->text();
    EXPECT_EQ(Count(r.daemon->text(), "refused:"), 6u) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_FALSE(r.host->WaitFor("FAIL", 100)) << r.host->text();
}

// The spool folder removed while the daemon runs: the record is refused (intervention
// required) with the folder and the system's reason, no job is reported, counted or
// numbered for it, and once the folder is back the next job is stored and delivered.
TEST(Daemon, SpoolFolderRemovedIsNamedAndNothingIsCountedForIt) {
    HostRun r("negotiate tn3270e\nbind\nnegative-ok\nseq 1\nscs \"ONE\" always\n"
              "expect-response\neoj\nsleep 1500\nseq 2\nscs \"TWO\" always\n"
              "expect 020001000201FFEF\nsleep 8000\nseq 3\nscs \"THREE\" always\n"
              "expect-response\neoj\nhold\n",
              "FILENAME=spool/JOB\n");
    const std::string spool = r.dir.file("spool");
    ASSERT_EQ(::mkdir(spool.c_str(), 0755), 0);
    EXPECT_EQ(testutil::DeliveredJobs(spool + "/JOB", 1, 5000), (Texts{"ONE"})) << r.daemon->text();
    ASSERT_EQ(system(("rm -r " + spool).c_str()), 0);
    EXPECT_SAYS(*r.daemon, "The job file " + spool + "/JOB1.txt cannot be made in the folder " +
                               spool + ": No such file or directory. Records are refused");
    EXPECT_SAYS(*r.host, "NEGATIVE 1 SEQ 2 REASON 01");
    ASSERT_EQ(::mkdir(spool.c_str(), 0755), 0);
    // Seen by the probe while the host is quiet, long before the next record.
    EXPECT_SAYS(*r.daemon, "Print data is stored again.", 5000);
    testutil::Until([&] { return !testutil::ReadFile(spool + "/JOB1f.txt").empty(); }, 12000);
    EXPECT_EQ(testutil::ReadFile(spool + "/JOB1f.txt"), "THREE") << r.daemon->text();
    EXPECT_EQ(testutil::ListDir(spool), (Texts{"JOB1f.txt"}));
    r.Signal(SIGUSR1);
    EXPECT_SAYS(*r.daemon, "jobs delivered 2, jobs failed 0");
    EXPECT_EQ(Count(r.daemon->text(), " received from LU "), 2u) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

// SIGHUP reads the settings file again: unchanged, nothing happens; changed, the
// session starts again with it once its job has ended, the job whole.
TEST(Daemon, HangupReadsTheSettingsAgainAndRestartsAfterTheJob) {
    HostRun r("negotiate tn3270e\nbind\nscs \"PART ONE \" always\nexpect-response\n"
              "sleep 2500\nscs \"PART TWO\" always\nexpect-response\neoj\nhold\nnext\n"
              "negotiate tn3270e\nbind\nscs \"AFTER\" always\nexpect-response\neoj\nhold\n",
              "", {}, {}, 2);
    const std::string job = r.dir.file("JOB0.txt");
    testutil::Until([&] { return !testutil::ReadFile(job).empty(); }, 4000);
    r.Signal(SIGHUP);
    EXPECT_SAYS(*r.daemon, "Settings file " + r.dir.file("twprinter.ini") + " is unchanged.");
    std::string ini = testutil::ReadFile(r.dir.file("twprinter.ini"));
    ini.replace(ini.find("FILENAME=JOB"), 12, "FILENAME=NEW");
    testutil::WriteFile(r.dir.file("twprinter.ini"), ini);
    r.Signal(SIGHUP);
    EXPECT_SAYS(*r.daemon, "changed: the session starts again after its job.");
    EXPECT_EQ(r.Jobs(1), (Texts{"PART ONE PART TWO"})) << r.daemon->text();
    EXPECT_EQ(testutil::DeliveredJobs(r.dir.file("NEW"), 1, 10000), (Texts{"AFTER"}))
        << r.daemon->text();
    EXPECT_TRUE(r.daemon->Alive());
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_SAYS(*r.host, "DONE 2 ok");
}

// A network printer that refuses connections, then comes back: the kept jobs go out on
// their own within the retry interval, in order, before any newer job.
TEST(Daemon, KeptJobsAreRetriedOnTheirOwnAndGoFirst) {
    int port = testutil::FreePort();
    std::string script = "negotiate tn3270e\nbind\n";
    for (const char* text : {"A", "B", "C"})
        script += "scs \"" + std::string(text) + "\" always\nexpect-response\neoj\n";
    HostRun r(script + "sleep 7000\nscs \"D\" always\nexpect-response\neoj\nhold\n",
              "USESOCKET=1\nSOCKETPORT=127.0.0.1:" + std::to_string(port) +
                  "\nKEEPFAILED=1\nSOCKETTIMEOUT=2\n");
    ASSERT_TRUE(r.WaitKept(3)) << r.daemon->text();
    // The printer comes back; each connection is one job.
    auto back = std::make_unique<testutil::LatePrinter>(port);
    ASSERT_TRUE(back->ok());
    EXPECT_EQ(back->Jobs(4, 30000), (Texts{"A", "B", "C", "D"})) << r.daemon->text();
    // Not held until the next job: that comes seconds later.
    EXPECT_LT(back->FirstAfter(), std::chrono::seconds(4)) << r.daemon->text();
    back.reset();
    EXPECT_TRUE(testutil::ListDir(r.dir.file("failed")).empty());
    EXPECT_TRUE(
        r.daemon->WaitFor("Job " + r.dir.file("JOB3.txt") + " delivered to network printer"));
    // The figures add up: delivered 4 = received 4 - failed 3 + delivered again 3.
    r.Signal(SIGUSR1);
    EXPECT_TRUE(r.daemon->WaitFor("jobs delivered 4, jobs failed 3")) << r.daemon->text();
    EXPECT_SAYS(*r.daemon, " delivered, jobs received 4, kept jobs delivered again 3, jobs "
                           "waiting in failed/ 0, print bytes 4 (the jobs' files)");
    // Delivered again, a job is named by the number it came with, in its line and in failed/.
    const std::string printer = " delivered to network printer 127.0.0.1:" + std::to_string(port);
    auto redelivered = [&](const std::string& log, int n) {
        const std::string job = "JOB" + std::to_string(n) + ".txt";
        const std::string start =
            "Job " + r.dir.file(job) + printer + "; it had been kept as " + r.dir.file("failed/");
        const size_t at = log.find(start);
        if (at == std::string::npos) return false;
        const std::string line = log.substr(at, log.find('\n', at) - at);
        return line.size() > job.size() + 1 &&
               line.substr(line.size() - job.size() - 1) == "-" + job;
    };
    for (int n : {0, 1, 2})
        EXPECT_TRUE(redelivered(r.daemon->text(), n)) << n << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();

    // Across runs: a job that arrives while an older one waits in failed/ gets a number of
    // its own, though the older one's file is gone from the spool.
    const std::string ini =
        "USESOCKET=1\nSOCKETPORT=127.0.0.1:" + std::to_string(port) + "\nKEEPFAILED=1\n";
    r.Start("negotiate tn3270e\nbind\nscs \"OLD\" always\nexpect-response\neoj\nhold\n", ini);
    ASSERT_TRUE(r.WaitKept(1)) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    r.Start("negotiate tn3270e\nbind\nscs \"NEW\" always\nexpect-response\neoj\nhold\n", ini);
    ASSERT_TRUE(r.WaitKept(2)) << r.daemon->text();
    r.Signal(SIGUSR1);
    EXPECT_SAYS(*r.daemon, "jobs delivered 0, jobs failed 1, last job 20");
    EXPECT_SAYS(*r.daemon, " failed, jobs received 1, kept jobs delivered again 0, jobs "
                           "waiting in failed/ 2, print bytes 3 (the jobs' files)");
    EXPECT_EQ(testutil::LatePrinter(port).Jobs(2, 30000), (Texts{"OLD", "NEW"}))
        << r.daemon->text();
    EXPECT_SAYS(*r.daemon, "Job " + r.dir.file("JOB1.txt") + printer);
    EXPECT_TRUE(redelivered(r.daemon->text(), 0)) << r.daemon->text();
    EXPECT_TRUE(redelivered(r.daemon->text(), 1)) << r.daemon->text();
    EXPECT_EQ(Count(r.daemon->text(), "Job " + r.dir.file("JOB0.txt") + " received"), 0u)
        << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

// A spool that refuses writes (a file-size limit) in the middle of a job: the host gets
// a negative response (intervention required) for the record that was not stored, the
// daemon stays up, says so once, finds by itself that the limit was raised while the
// host is quiet, and the job goes on in the same file: one host job, one job file,
// delivered whole. Records that ask for no response are on disk once their receive is
// through, and fail with the record after them that asks for one: all of them are
// taken out again, and the line says how many.
TEST(Daemon, StorageFaultMidJobIsAnsweredNegativelyAndTheJobGoesOnWhole) {
    const std::string a(1000, 'A'), b(1000, 'B'), c(1000, 'C'), x(20, 'X');
    HostRun r("negotiate tn3270e\nbind\nnegative-ok\nseq 1\nscs \"" + a +
                  "\" always\nexpect-response\nscs \"E\" none\nsleep 3000\nseq 2\nscs \"" + b +
                  "\" always\nexpect-response\ncork\nscs \"" + x + "\" none\nscs \"" + x +
                  "\" none\nscs \"" + x + "\" none\nseq 5\nscs \"" + c +
                  "\" always\nuncork\nexpect 020001000501FFEF\nseq 6\nscs \"" + c +
                  "\" always\nexpect 020001000601FFEF\nsleep 7000\nseq 7\nscs \"" + c +
                  "\" always\nexpect-response\nscs \"D\" always\nexpect-response\neoj\nhold\n",
              "", {}, {}, 1, 0, {"/usr/bin/prlimit", "--fsize=2048:unlimited"});
    const auto stored = [&] {
        std::string s = testutil::ReadFile(r.dir.file("JOB0.txt"));
        std::erase(s, '\r'), std::erase(s, '\n');
        return s;
    };
    testutil::Until([&] { return stored() == a + "E"; }, 10000);
    EXPECT_EQ(stored(), a + "E");
    EXPECT_SAYS(*r.host, "NEGATIVE 1 SEQ 5 REASON 01");
    EXPECT_SAYS(*r.host, "NEGATIVE 1 SEQ 6 REASON 01");
    EXPECT_SAYS(*r.daemon, "File too large; the last 4 records received are not stored "
                           "Records are refused until it is cleared");
    // Tried again every 2 s, and still refused while the limit holds.
    EXPECT_FALSE(r.daemon->WaitFor("stored again", 2500)) << r.daemon->text();
    // The refused records left nothing behind: no byte of theirs, no file of their own.
    EXPECT_EQ(stored(), a + "E" + b);
    EXPECT_EQ(testutil::ListDir(r.dir.path()),
              (Texts{"JOB0.txt", "host.script", "pid", "twprinter.ini"}));
    const std::string raise = "prlimit --pid " + std::to_string(r.Pid()) + " --fsize=unlimited";
    EXPECT_EQ(system(raise.c_str()), 0);
    EXPECT_SAYS(*r.daemon, "Print data is stored again.", 5000);
    std::vector<std::string> jobs = r.Jobs(1);
    ASSERT_EQ(jobs.size(), 1u) << r.daemon->text();
    std::erase(jobs[0], '\r'), std::erase(jobs[0], '\n');
    EXPECT_EQ(jobs[0], a + "E" + b + c + "D");
    EXPECT_SAYS(*r.daemon, "Job " + r.dir.file("JOB0.txt") + " received from LU HOSTLU01: ");
    EXPECT_SAYS(*r.daemon, " 5 records, 1 page");
    r.Signal(SIGUSR1);
    EXPECT_SAYS(*r.daemon, "jobs delivered 1, jobs failed 0");
    EXPECT_EQ(Count(r.daemon->text(), " received from LU "), 1u) << r.daemon->text();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_SAYS(*r.host, "DONE 1 ok");
}

// A record longer than the record buffer: refused, the job so far delivered, the
// connection reset and made again; the daemon never exits for what a host sends.
TEST(Daemon, OversizedRecordIsRefusedAndTheConnectionComesBack) {
    testutil::TempDir spare;
    testutil::WriteFile(spare.file("big"), std::string(10 << 20, '\xC1'));
    HostRun r("negotiate tn3270e\nbind\nscs \"FIRST\" always\nexpect-response\nnegative-ok\n"
              "seq 9\nscs @" +
                  spare.file("big") +
                  " always\nhold\nnext\n"
                  "negotiate tn3270e\nbind\nscs \"SECOND\" always\nexpect-response\neoj\nhold\n",
              "", {"--transcript", spare.file("sent")}, {}, 2);
    EXPECT_EQ(r.Jobs(2, 15000), (Texts{"FIRST", "SECOND"})) << r.daemon->text();
    EXPECT_SAYS(*r.daemon, "A record longer than 4194304 bytes from the server was "
                           "refused; the connection is reset.");
    EXPECT_NE(testutil::ReadFile(spare.file("sent.1")).find(B("020001000900FFEF")),
              std::string::npos);
    EXPECT_TRUE(r.daemon->Alive());
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
}

// SIGTERM while a job goes to a printer that takes a byte a second: the daemon ends
// within 5 s with 0, the job is kept, and the next start delivers it whole.
TEST(Daemon, StopEndsASlowSocketDeliveryAndTheNextStartDeliversTheJob) {
    int printerPort = 0;
    const int ls = testutil::ListenLoopback(printerPort, 4096);
    ASSERT_GE(ls, 0);
    std::atomic<bool> fast{false};
    std::atomic<size_t> slowBytes{0}, fastBytes{0};
    std::thread printer([&] {
        for (int k = 0; k < 2; ++k) {
            int c = ::accept(ls, nullptr, nullptr);
            if (c < 0) return;
            static char b[65536];
            // The first printer reads a byte a second until the test has seen the stop.
            for (ssize_t n; (n = ::read(c, b, k ? sizeof b : 1)) > 0;) {
                (k ? fastBytes : slowBytes) += static_cast<size_t>(n);
                if (k) continue;
                std::this_thread::sleep_for(std::chrono::seconds(1));
                if (fast) break;
            }
            ::close(c);
        }
    });
    testutil::TempDir spare;
    testutil::WriteFile(spare.file("big"), std::string(2 << 20, '\xC1'));
    std::string script = "negotiate tn3270e\nbind\n";
    for (int i = 0; i < 4; ++i)
        script += "scs @" + spare.file("big") + " always\n";
    const std::string ini =
        "USESOCKET=1\nSOCKETPORT=127.0.0.1:" + std::to_string(printerPort) + "\n";
    HostRun r(script + "expect-response\neoj\nhold\nnext\nnegotiate tn3270e\nhold\n", ini, {}, {},
              2);
    testutil::Until([&] { return slowBytes > 0; }, 10000);
    ASSERT_GT(slowBytes.load(), 0u) << r.daemon->text();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(r.daemon->Stop(SIGTERM), 0) << r.daemon->text();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_HAS(r.daemon->text(), "is kept and delivered at the next start");
    const auto kept = testutil::ListDir(r.dir.file("failed"));
    ASSERT_EQ(kept.size(), 1u) << r.daemon->text();
    const size_t size = testutil::ReadFile(r.dir.file("failed/" + kept[0])).size();
    EXPECT_GT(size, 8u << 20);

    fast = true;
    Proc again({TWPRINTERD_PATH}, r.dir.path(), {"TWPRINTER_DIR=" + r.dir.path()});
    testutil::Until([&] { return fastBytes >= size; }, 10000);
    EXPECT_EQ(fastBytes.load(), size) << again.text();
    EXPECT_SAYS(again, "; it had been kept as " + r.dir.file("failed/"));
    EXPECT_TRUE(testutil::ListDir(r.dir.file("failed")).empty());
    EXPECT_EQ(again.Stop(SIGTERM), 0) << again.text();
    ::shutdown(ls, SHUT_RDWR);
    ::close(ls);
    printer.join();
}

} // namespace
