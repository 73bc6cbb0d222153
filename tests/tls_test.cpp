// TLS sessions end to end: twprinterd against the host simulator in TLS mode,
// with a CA and certificates made by the openssl command for this run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

using testutil::Proc;
using testutil::TempDir;

namespace {

TempDir* gCerts;
bool gHostTls = false;

// The simulator's TLS mode is a hook in its option parser; without it these
// tests cannot run and say so.
bool HostsimHasTls() {
    std::string cmd = std::string(HOSTSIM_PATH) + " --tls-cert /nonexistent 2>&1";
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return false;
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, f))
        out += buf;
    pclose(f);
    return out.find("unknown option") == std::string::npos;
}

std::string Cert(const std::string& name) {
    return gCerts->file(name);
}

void Shell(const std::string& cmd) {
    std::string full = "cd '" + gCerts->path() + "' && " + cmd + " >>openssl.log 2>&1";
    ASSERT_EQ(std::system(full.c_str()), 0) << cmd;
}

void MakeKey(const std::string& name) {
    Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out " + name +
          ".key");
}

void MakeCa(const std::string& name) {
    MakeKey(name);
    Shell("openssl req -x509 -new -key " + name + ".key -out " + name +
          ".pem -days 30 -subj '/CN=" + name + "'");
}

// A certificate for subject cn with the given extensions, signed by ca.
void MakeCert(const std::string& name, const std::string& cn, const std::string& ext,
              const std::string& ca, int days = 30) {
    MakeKey(name);
    testutil::WriteFile(Cert(name + ".ext"), ext + "\n");
    Shell("openssl req -new -key " + name + ".key -out " + name + ".csr -subj '/CN=" + cn + "'");
    Shell("openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca +
          ".key -CAcreateserial -out " + name + ".pem -days " + std::to_string(days) +
          " -extfile " + name + ".ext");
}

class TlsTest : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        gHostTls = HostsimHasTls();
        gCerts = new TempDir;
        MakeCa("ca");
        MakeCa("otherca");
        const std::string local = "subjectAltName=DNS:localhost,IP:127.0.0.1";
        MakeCert("good", "localhost", local, "ca");
        MakeCert("expired", "localhost", local, "ca", -1);
        MakeCert("wrongname", "other.example", "subjectAltName=DNS:other.example", "ca");
        MakeCert("foreign", "localhost", local, "otherca");
        MakeCert("client", "printer-client", "extendedKeyUsage=clientAuth", "ca");
        MakeKey("self");
        Shell("openssl req -x509 -new -key self.key -out self.pem -days 30 -subj /CN=localhost "
              "-addext " +
              local);
    }
    static void TearDownTestSuite() {
        delete gCerts;
        gCerts = nullptr;
    }

  protected:
    void SetUp() override {
        if (!gHostTls) GTEST_SKIP() << "hostsim was built without its TLS mode (--tls-cert)";
    }

    struct Outcome {
        std::unique_ptr<Proc> host, daemon;
        std::unique_ptr<TempDir> dir;
    };

    // Starts hostsim with hostArgs and twprinterd with the extra INI lines.
    Outcome Start(const std::vector<std::string>& hostArgs, const std::string& ini,
                  const std::string& script = kJob) {
        Outcome o;
        o.dir = std::make_unique<TempDir>();
        testutil::WriteFile(o.dir->file("script"), script);
        std::vector<std::string> args = {
            HOSTSIM_PATH, "--port", "0",         "--script", o.dir->file("script"),
            "--clients",  "1",      "--timeout", "5000"};
        args.insert(args.end(), hostArgs.begin(), hostArgs.end());
        o.host = std::make_unique<Proc>(args, "", std::vector<std::string>{});
        EXPECT_TRUE(o.host->WaitFor("LISTENING", 5000)) << o.host->text();
        std::string text = o.host->text();
        size_t at = text.find("PORT ");
        std::string port =
            at == std::string::npos ? "1" : text.substr(at + 5, text.find('\n', at) - at - 5);
        testutil::WriteFile(
            o.dir->file("twprinter.ini"),
            "[CONFIGURATION]\nHOSTNAME=localhost\nSERVERNAME=" + port +
                "\nLUTYPE=1\n3270E=1\nFILENAME=JOB\nPRINTTOFILE=1\nCONNECTTIMEOUT=0\n"
                "TLS=1\n" +
                ini);
        o.daemon =
            std::make_unique<Proc>(std::vector<std::string>{TWPRINTERD_PATH}, o.dir->path(),
                                   std::vector<std::string>{"TWPRINTER_DIR=" + o.dir->path()});
        return o;
    }

    // Waits for the job's output file; its content, or empty.
    static std::string Delivered(Outcome& o, int ms = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            for (const auto& f : testutil::ListDir(o.dir->path()))
                if (f.size() > 5 && f.compare(f.size() - 5, 5, "f.txt") == 0) {
                    std::string s = testutil::ReadFile(o.dir->file(f));
                    if (!s.empty()) return s;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return "";
    }

    static constexpr const char* kJob = "negotiate tn3270e\nbind\nscs \"SECURE JOB\\n\" always\n"
                                        "eoj\nunbind\nhold\n";
};

std::string CaIni() {
    return "TLSCAFILE=" + Cert("ca.pem") + "\n";
}

std::vector<std::string> Serve(const std::string& cert) {
    return {"--tls-cert", Cert(cert + ".pem"), "--tls-key", Cert(cert + ".key")};
}

TEST_F(TlsTest, VerifiedSessionsDeliverAndSendTheServerName) {
    {
        auto o = Start(Serve("good"), CaIni());
        EXPECT_NE(Delivered(o).find("SECURE JOB"), std::string::npos) << o.daemon->text();
        EXPECT_TRUE(o.host->WaitFor("SNI localhost VERSION TLSv1.3")) << o.host->text();
        EXPECT_EQ(o.daemon->Stop(SIGTERM), 0) << o.daemon->text();
        EXPECT_TRUE(o.host->WaitFor("DONE 1 ok")) << o.host->text();
    }
    {
        // TLSSERVERNAME is what is checked and sent, not HOSTNAME.
        auto o = Start(Serve("wrongname"), CaIni() + "TLSSERVERNAME=other.example\n");
        EXPECT_NE(Delivered(o).find("SECURE JOB"), std::string::npos) << o.daemon->text();
        EXPECT_TRUE(o.host->WaitFor("SNI other.example")) << o.host->text();
    }
    {
        // A TLS 1.2 server is still accepted.
        auto args = Serve("good");
        args.insert(args.end(), {"--tls-max", "1.2"});
        auto o = Start(args, CaIni());
        EXPECT_NE(Delivered(o).find("SECURE JOB"), std::string::npos) << o.daemon->text();
        EXPECT_TRUE(o.host->WaitFor("VERSION TLSv1.2")) << o.host->text();
    }
}

TEST_F(TlsTest, CertificateFaultsNameTheReasonAndAreRetried) {
    struct Case {
        std::string cert, ini, reason;
    } cases[] = {
        {"expired", CaIni(), "TLS: the server certificate has expired"},
        {"wrongname", CaIni(), "TLS: the server certificate does not match the name \"localhost\""},
        {"self", CaIni(), "TLS: the server certificate is self-signed and not trusted"},
        {"foreign", CaIni(), "issued by an unknown certificate authority"},
        // Without TLSCAFILE the system store decides, and it does not know our CA.
        {"good", "", "issued by an unknown certificate authority"},
        {"good", "TLSCAFILE=/nonexistent/ca.pem\n",
         "TLS: cannot read the CA file \"/nonexistent/ca.pem\" (TLSCAFILE)"},
        {"good", CaIni() + "TLSCERTFILE=" + Cert("missing.pem") + "\n",
         "cannot read the client certificate"},
        {"good",
         CaIni() + "TLSCERTFILE=" + Cert("client.pem") + "\nTLSKEYFILE=" + Cert("good.key") + "\n",
         "does not belong to the client certificate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cert + " / " + c.ini);
        auto o = Start(Serve(c.cert), c.ini);
        EXPECT_TRUE(o.daemon->WaitFor(c.reason)) << o.daemon->text();
        // The connect-retry rules apply: the message is followed by a retry.
        EXPECT_TRUE(o.daemon->WaitFor("Delaying before reconnect.")) << o.daemon->text();
        EXPECT_NE(o.daemon->text().find("Unable to connect: TLS"), std::string::npos)
            << o.daemon->text();
        EXPECT_TRUE(o.daemon->Alive());
        EXPECT_TRUE(Delivered(o, 0).empty());
        EXPECT_EQ(o.daemon->Stop(SIGTERM), 0) << o.daemon->text();
    }
}

TEST_F(TlsTest, VerificationOffWarnsAndStillConnects) {
    auto o = Start(Serve("self"), "TLSVERIFY=0\n");
    EXPECT_TRUE(o.daemon->WaitFor("TLS certificate verification is off")) << o.daemon->text();
    EXPECT_NE(Delivered(o).find("SECURE JOB"), std::string::npos) << o.daemon->text();
}

TEST_F(TlsTest, ClientCertificateIsPresentedWhenTheServerWantsOne) {
    auto args = Serve("good");
    args.insert(args.end(), {"--tls-client-ca", Cert("ca.pem")});
    {
        auto o = Start(args, CaIni() + "TLSCERTFILE=" + Cert("client.pem") +
                                 "\nTLSKEYFILE=" + Cert("client.key") + "\n");
        EXPECT_NE(Delivered(o).find("SECURE JOB"), std::string::npos) << o.daemon->text();
        EXPECT_TRUE(o.host->WaitFor("CLIENT printer-client")) << o.host->text();
    }
    {
        // Without one the server refuses, after the client's side of the handshake.
        auto o = Start(args, CaIni());
        EXPECT_TRUE(o.daemon->WaitFor("certificate required")) << o.daemon->text();
        EXPECT_TRUE(Delivered(o, 0).empty());
    }
}

TEST_F(TlsTest, WrongProtocolOnTheOtherSideIsNamed) {
    {
        // A plain telnet server gets a TLS hello and answers in telnet.
        auto o = Start({}, CaIni());
        EXPECT_TRUE(o.daemon->WaitFor("the server answered in plain telnet, not TLS"))
            << o.daemon->text();
        EXPECT_TRUE(o.daemon->WaitFor("Delaying before reconnect.")) << o.daemon->text();
    }
    {
        // A plain server that closes on the hello.
        auto o = Start({}, CaIni(), "close\n");
        EXPECT_TRUE(o.daemon->WaitFor("closed the connection during the TLS handshake"))
            << o.daemon->text();
    }
    {
        auto args = Serve("good");
        args.insert(args.end(), {"--tls-max", "1.1"});
        auto o = Start(args, CaIni());
        EXPECT_TRUE(o.daemon->WaitFor("no TLS version from 1.2 on")) << o.daemon->text();
    }
}

} // namespace
