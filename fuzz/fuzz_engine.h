// Shared by the fuzz targets that run the engine: a silent reporter, the
// session's side of the protocol core, jobs kept in memory and standard output
// as a scratch file emptied per input.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "config/report.h"
#include "datastream/data_stream.h"
#include "datastream/host_link.h"
#include "datastream/job_sink.h"
#include "fuzz_file.h"
#include "session/telnet_protocol.h"

class QuietReport : public config::Reporter {
  public:
    void ShowOnlineState(bool) override {}
    void ShowStatusMessage(int, const std::string&) override {}
    void ShowMessageBox(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StatusLine(const std::string&) override {}
    void JobReported(const config::JobReport&) override {}
};

inline config::Reporter& FuzzQuietReporter() {
    static QuietReport quiet;
    return quiet;
}

// Standard output as a file of the target's own, for the jobs of standard-output
// mode; FuzzStdoutBytes empties it and says what the last input wrote.
inline void FuzzStdoutSetup(const char* name) {
    static const std::string dir = FuzzScratchDir(name);
    if (!std::freopen((dir + "/stdout.bin").c_str(), "w+b", stdout)) std::abort();
}

inline size_t FuzzStdoutBytes() {
    std::fflush(stdout);
    const long out = std::ftell(stdout);
    if (out < 0 || ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);
    return static_cast<size_t>(out);
}

// Jobs in one memory stream, rewound for each job; only their sizes are kept.
class MemoryJobs : public datastream::JobSink {
  public:
    size_t bytes = 0; // all jobs' bytes since the last Take

    ~MemoryJobs() override {
        if (stream_) std::fclose(stream_);
        std::free(data_);
    }
    FILE* OpenJob() override {
        if (!stream_) stream_ = open_memstream(&data_, &size_);
        if (!stream_ || std::fseek(stream_, 0, SEEK_SET) != 0) std::abort();
        return stream_;
    }
    void EndJob(FILE* stream) override {
        const long n = std::ftell(stream);
        if (stream != stream_ || n < 0) std::abort();
        bytes += static_cast<size_t>(n);
        if (n > (1 << 20)) { // a big job's buffer is not kept for the next input
            std::fclose(stream_);
            std::free(data_);
            stream_ = nullptr;
            data_ = nullptr;
        }
    }

  private:
    FILE* stream_ = nullptr;
    char* data_ = nullptr;
    size_t size_ = 0;
};

// The session's side of the core, as the session wires it: records to the
// data stream, inbound records through the core. Send is the target's.
class FuzzPeer : public session::ProtocolPeer, public datastream::HostLink {
  public:
    datastream::DataStream* stream = nullptr;
    session::TelnetProtocol* core = nullptr;

    int Record(std::span<const uint8_t> record, bool responseAsked) override {
        using Flush = datastream::DataStream::Flush;
        return stream->ProcessRecord(record, responseAsked ? Flush::Now : Flush::Later).code;
    }
    bool JobOpen() const override { return stream->JobOpen(); }
    void EndJob() override { stream->EndJob(); }
    void Bracket(uint8_t argument) override { stream->Bracket(argument); }
    void ClearPrintBuffer() override { stream->ClearPrintBuffer(); }
    void LuGranted(const std::string&) override {}
    int SendRecord(std::span<const uint8_t> bytes) override { return core->SendRecord(bytes); }
    bool ExtensionUnnegotiated() const override { return core->ExtensionUnnegotiated(); }
};
