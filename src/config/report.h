// How a session reports to whoever runs it (the window, the headless program,
// a pool). Each session is handed its own reporter; calls arrive on the
// session's thread and implementations marshal them as they need.
#pragma once
#include <string>
#include <vector>

#include "config/result.h"

namespace config {

// One job's line: received from the host, then delivered or failed.
struct JobReport {
    bool received = false;  // true: the job came in; false: the outcome of its delivery
    std::string lu;         // the LU name the server granted, "" when none was said
    std::string name;       // the job file
    long long bytes = 0;    // received: size of the job file
    long records = 0;       // received: host records that wrote to it
    long pages = 0;         // received: pages in it
    bool delivered = false; // outcome: true when it went out
    std::string where;      // outcome: where it went (file, CUPS printer and job, socket, command)
    std::string reason;     // failed: why
    std::string kept;       // failed: where the job is kept; delivered: where it had been kept
};

// "Job JOB0.txt received from LU PRT1: 120 bytes, 2 records, 1 page", "Job JOB0.txt
// delivered to file JOB0f.txt", "Job JOB0.txt failed on ...: reason; kept as ...".
std::string JobLine(const JobReport& job);

class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void ShowOnlineState(bool online) = 0;
    // Status line of a message number, its text already composed (ComposeStatus).
    virtual void ShowStatusMessage(int code, const std::string& text) = 0;
    // Final message of a run.
    virtual void ShowMessageBox(const std::string& text) = 0;
    // "Output file %s already exists. Overwrite?"; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // Free-form status line (delivery notes, warnings).
    virtual void StatusLine(const std::string& text) = 0;
    // A job received or its delivery's outcome; by default its line.
    virtual void JobReported(const JobReport& job) { StatusLine(JobLine(job)); }
};

// A reporter that passes every report on to another: wrappers that count or
// hold back some reports override only those.
class ForwardingReporter : public Reporter {
  public:
    explicit ForwardingReporter(Reporter& to) : to_(to) {}
    void ShowOnlineState(bool online) override { to_.ShowOnlineState(online); }
    void ShowStatusMessage(int code, const std::string& text) override {
        to_.ShowStatusMessage(code, text);
    }
    void ShowMessageBox(const std::string& text) override { to_.ShowMessageBox(text); }
    bool AskYesNo(const std::string& question) override { return to_.AskYesNo(question); }
    void StatusLine(const std::string& text) override { to_.StatusLine(text); }
    void JobReported(const JobReport& job) override { to_.JobReported(job); }

  protected:
    Reporter& to_;
};

// One time-stamped line per report on standard error; AskYesNo answers No.
Reporter& StderrReporter();

// The log lines of a status text: the reconnect delay appended to a message is
// a message of its own; other line breaks become blanks.
std::vector<std::string> LogMessages(const std::string& text);
// Each of LogMessages(text) on standard error as "date time.ms program: message",
// program being platform::ProgramName() (else "twprinter").
void LogLines(const std::string& text);

// The status text for a result: the message, " " + its reason when there is
// one, and "\nDelaying before reconnect." for every code but 47. In debug mode
// it also goes to the debug log.
std::string ComposeStatus(const Result& result);
// ComposeStatus, handed to the reporter.
void ReportStatus(Reporter& reporter, const Result& result);

} // namespace config
