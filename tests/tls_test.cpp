// TLS sessions end to end: twprinterd against the host simulator in TLS mode,
// with a CA and certificates made by the openssl command for this run.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testutil.h"

using testutil::Proc;
using testutil::TempDir;

namespace {

struct Certs {
    TempDir dir;
    std::string operator()(const std::string& name) const { return dir.file(name); }
    void Shell(const std::string& cmd) const {
        std::string full = "cd '" + dir.path() + "' && " + cmd + " >>openssl.log 2>&1";
        ASSERT_EQ(std::system(full.c_str()), 0) << cmd;
    }
    void Key(const std::string& n) const {
        Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out " + n +
              ".key");
    }
    void SelfSigned(const std::string& n, const std::string& cn,
                    const std::string& more = "") const {
        Key(n);
        Shell("openssl req -x509 -new -key " + n + ".key -out " + n +
              ".pem -days 30 -subj /CN=" + cn + more);
    }
    // A certificate for subject cn with the given extensions, signed by ca.
    void Cert(const std::string& n, const std::string& cn, const std::string& ext,
              const std::string& ca, int days = 30) const {
        Key(n);
        testutil::WriteFile(dir.file(n + ".ext"), ext + "\n");
        Shell("openssl req -new -key " + n + ".key -out " + n + ".csr -subj /CN=" + cn);
        Shell("openssl x509 -req -in " + n + ".csr -CA " + ca + ".pem -CAkey " + ca +
              ".key -CAcreateserial -out " + n + ".pem -days " + std::to_string(days) +
              " -extfile " + n + ".ext");
    }
};

struct Case {
    std::string cert;                  // the server's; "" for a plain telnet server
    std::vector<std::string> hostArgs; // more simulator options
    std::string ini, daemonSays, hostSays;
    bool delivers;
    std::string script =
        "negotiate tn3270e\nbind\nscs \"SECURE JOB\\n\" always\neoj\nunbind\nhold\n";
    int code = 0; // the exit code after SIGTERM; a refused session that is not retried ends itself
};

TEST(Tls, SessionsAndTheirFaults) {
    Certs c;
    c.SelfSigned("ca", "ca");
    c.SelfSigned("otherca", "otherca");
    const std::string local = "subjectAltName=DNS:localhost,IP:127.0.0.1";
    c.Cert("good", "localhost", local, "ca");
    c.Cert("expired", "localhost", local, "ca", -1);
    c.Cert("wrongname", "other.example", "subjectAltName=DNS:other.example", "ca");
    c.Cert("foreign", "localhost", local, "otherca");
    c.Cert("client", "printer-client", "extendedKeyUsage=clientAuth", "ca");
    c.SelfSigned("self", "localhost", " -addext " + local);
    const std::string ca = "TLSCAFILE=" + c("ca.pem") + "\n";
    const std::string clientCert = "TLSCERTFILE=" + c("client.pem") + "\n";
    const std::vector<std::string> none, wantsClient{"--tls-client-ca", c("ca.pem")},
        offers{"--starttls"};
    const Case cases[] = {
        {"good", none, ca, "", "SNI localhost VERSION TLSv1.3", true},
        // TLSSERVERNAME is what is checked and sent, not HOSTNAME.
        {"wrongname", none, ca + "TLSSERVERNAME=other.example\n", "", "SNI other.example", true},
        {"good", {"--tls-max", "1.2"}, ca, "", "VERSION TLSv1.2", true},
        {"self", none, "TLSVERIFY=0\n", "TLS certificate verification is off", "", true},
        {"good", wantsClient, ca + clientCert + "TLSKEYFILE=" + c("client.key") + "\n", "",
         "CLIENT printer-client", true},
        // Refused after the client's side of the handshake: a failed session, not a connect.
        {"good", wantsClient, ca, "certificate required", "", false, Case{}.script, 70},
        {"expired", none, ca, "Unable to connect: TLS: the server certificate has expired", "",
         false},
        {"wrongname", none, ca, "TLS: the server certificate does not match the name \"localhost\"",
         "", false},
        {"self", none, ca, "TLS: the server certificate is self-signed and not trusted", "", false},
        {"foreign", none, ca, "issued by an unknown certificate authority", "", false},
        // Without TLSCAFILE the system store decides, and it does not know our CA.
        {"good", none, "", "issued by an unknown certificate authority", "", false},
        // Files that cannot be read stop the run at start.
        {"good", none, "TLSCAFILE=/nonexistent/ca.pem\n",
         "TLSCAFILE=/nonexistent/ca.pem: expected a readable file", "", false, Case{}.script, 98},
        {"good", none, ca + "TLSCERTFILE=" + c("missing.pem") + "\n",
         "missing.pem: expected a readable file", "", false, Case{}.script, 98},
        {"good", none, ca + clientCert + "TLSKEYFILE=" + c("good.key") + "\n",
         "does not belong to the client certificate", "", false},
        {"", none, ca, "the server answered in plain telnet, not TLS", "", false},
        {"", none, ca, "closed the connection during the TLS handshake", "", false, "close\n"},
        {"good", {"--tls-max", "1.1"}, ca, "no TLS version from 1.2 on", "", false},
        // Negotiated TLS on the plain port: the server offers, in either order.
        {"good", offers, ca + "STARTTLS=1\n", "TLS negotiated with localhost (START-TLS)",
         "SNI localhost VERSION TLSv1.3", true, "starttls server-first\n" + Case{}.script},
        {"good",
         {"--starttls", "--tls-client-ca", c("ca.pem")},
         ca + "STARTTLS=2\n" + clientCert + "TLSKEYFILE=" + c("client.key") + "\n",
         "",
         "CLIENT printer-client",
         true,
         "starttls client-first\n" + Case{}.script},
        // Refused: the session goes on in plain text.
        {"good", offers, ca, "", "STARTTLS 1 REFUSED", true, "starttls\n" + Case{}.script},
        // Required but never offered: no plain session, the connect is retried.
        {"good", offers, ca + "STARTTLS=2\n",
         "Unable to connect: TLS: the server sent DO option TN3270E before offering START-TLS",
         "FAIL 1: no answer to DO TN3270E", false},
        {"good", offers, "STARTTLS=2\n", "the server closed the connection without offering", "",
         false, "close\n"},
        {"", offers, ca + "STARTTLS=1\n", "the server does not speak TLS", "STARTTLS 1 BAD", false,
         "starttls-bad client-first\nhold\n"},
        {"wrongname", offers, ca + "STARTTLS=2\n",
         "TLS: the server certificate does not match the name \"localhost\"", "", false,
         "starttls\n" + Case{}.script},
        {"foreign", offers, ca + "STARTTLS=1\n", "issued by an unknown certificate authority", "",
         false, "starttls\n" + Case{}.script},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.cert + " / " + k.ini + k.daemonSays + k.hostSays);
        TempDir dir;
        std::vector<std::string> args = {"--clients", "1", "--timeout", "5000"};
        if (!k.cert.empty())
            args.insert(args.end(),
                        {"--tls-cert", c(k.cert + ".pem"), "--tls-key", c(k.cert + ".key")});
        args.insert(args.end(), k.hostArgs.begin(), k.hostArgs.end());
        const bool direct = k.hostArgs.empty() || k.hostArgs[0] != "--starttls";
        // The capture holds the bytes inside TLS: they too must read as valid.
        testutil::Host sim(dir, "host", k.script, args);
        Proc& host = *sim.proc;
        ASSERT_NE(sim.port, 0) << host.text();
        testutil::WriteFile(
            dir.file("twprinter.ini"),
            "[CONFIGURATION]\nHOSTNAME=localhost\nSERVERNAME=" + std::to_string(sim.port) +
                "\nLUTYPE=1\n3270E=1\nFILENAME=JOB\nPRINTTOFILE=1\n"
                "CONNECTTIMEOUT=0\n" +
                (direct ? "TLS=1\n" : "") + k.ini);
        Proc daemon({TWPRINTERD_PATH}, dir.path(), {"TWPRINTER_DIR=" + dir.path()});
        if (!k.daemonSays.empty()) {
            EXPECT_SAYS(daemon, k.daemonSays);
        }
        if (!k.hostSays.empty()) {
            EXPECT_SAYS(host, k.hostSays);
        }
        testutil::Until([&] { return !testutil::ReadFile(dir.file("JOB0f.txt")).empty(); },
                        k.delivers ? 10000 : 0);
        const std::string job = testutil::ReadFile(dir.file("JOB0f.txt"));
        EXPECT_EQ(job.find("SECURE JOB") != std::string::npos, k.delivers) << daemon.text();
        // A refused handshake follows the connect-retry rules.
        if (!k.delivers && !k.code) {
            EXPECT_SAYS(daemon, "Delaying before reconnect.");
        }
        EXPECT_EQ(daemon.Stop(SIGTERM), k.code) << daemon.text();
        EXPECT_EQ(sim.Flags(), "");
    }
}

} // namespace
