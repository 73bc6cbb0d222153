// Delivery of finished print jobs to the medium of the settings, and the
// failed-jobs folder. One per session; reports each job's outcome through the
// callback it was given.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "config/report.h"
#include "config/settings.h"
#include "output/job_hints.h"

namespace output {

// A job's delivery as it ended, for whoever keeps a record of jobs.
struct DeliveredJob {
    std::string path; // its print file now: where it was, or where it is kept
    JobHints hints;
    config::JobReport report; // the outcome as its line said
    std::string pdf;          // the PDF it was drawn as, when it was
};

// The medium of settings looked at without a job: true when it can take one;
// found says what was found, or what is wrong.
bool CheckOutputMedium(const config::Settings& settings, std::string& found);

class Delivery {
  public:
    // onJob is called once for every job that went to a medium: true when delivered.
    Delivery(const config::Settings& settings, config::Reporter& reporter,
             std::function<void(bool)> onJob);
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // Delivers the print file at path with heading (the print file's name when
    // empty): 1 when printed, copied or skipped, 0 when it failed (and, with
    // KEEPFAILED, it was moved to the failed folder).
    // hints: what the host said about the job's paper.
    int Deliver(const std::string& path, const std::string& heading, const JobHints& hints = {});
    // With a delivery thread (Settings::deliveryThread) the job is queued, goes
    // out in order on that thread, and its print file is removed there: true.
    // Otherwise (or for a medium that cannot wait) Deliver now: false.
    bool DeliverLater(const std::string& path, const std::string& heading,
                      const JobHints& hints = {});
    // Called on the delivering thread after each job went out or was kept,
    // while its print file is still there. Set before the first job.
    void OnDelivered(std::function<void(const DeliveredJob&)> hook);
    // A job printed again on the medium of the settings, original its first
    // print file's name (its heading, and where its file copy went unless
    // copyTo says); 1 when it went out. Not kept when it fails, not recorded.
    int Reprint(const std::string& path, const std::string& original, const JobHints& hints,
                const std::string& copyTo = "");
    // Blocks until every queued job went out (delivered or kept).
    void Drain();
    // Jobs kept in the failed folder, delivered again oldest first (KEEPFAILED=1).
    void RedeliverFailedJobs();
    // One kept job of the failed folder, by its file name there, delivered again
    // (deliver) or removed, in turn on the delivery thread. Any thread; "" when it
    // was queued, else why not (no such job, or no delivery thread).
    std::string KeptJobRequest(const std::string& name, bool deliver);

    // The port medium (PRINT2PORT): bytes go to the device as they are produced.
    // Ok, or 72 or 73 with the device and the reason.
    config::Result PortWrite(std::span<const uint8_t> bytes);
    void PortClose();

    // A descriptor that turns readable when the session stops: a socket or
    // command delivery in progress is then abandoned and the job kept for the
    // next start.
    void WatchStop(int fd);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace output
