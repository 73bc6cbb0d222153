#include "session/lu_history.h"

#include "config/report.h"

namespace session {

namespace {

int LocalDate(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    tm local{};
    localtime_r(&tt, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

} // namespace

void LuHistory::Job(const config::JobReport& job) {
    const int64_t now = time(nullptr);
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (job.received) {
            const int date = LocalDate(now);
            if (date != todayDate_) {
                todayDate_ = date;
                today_ = 0;
            }
            ++today_;
            JobEntry e;
            e.time = now;
            e.name = job.name;
            e.pages = job.pages;
            e.bytes = job.bytes;
            e.outcome = "received";
            jobs_.push_front(std::move(e));
            if (jobs_.size() > kJobs) jobs_.pop_back();
            return;
        }
        // The outcome belongs to the newest entry of that file still waiting for one.
        JobEntry* entry = nullptr;
        for (JobEntry& e : jobs_)
            if (e.name == job.name && e.outcome == "received") {
                entry = &e;
                break;
            }
        if (!entry) {
            jobs_.push_front(JobEntry{});
            if (jobs_.size() > kJobs) jobs_.pop_back();
            entry = &jobs_.front();
            entry->name = job.name;
        }
        entry->time = now;
        entry->outcome = job.delivered ? "delivered" : job.kept.empty() ? "failed" : "kept";
        entry->where = job.where;
        entry->reason = job.reason;
        entry->kept = job.kept;
        if (!job.delivered) failure = JobLine(job);
    }
    if (!failure.empty()) Error(failure);
}

void LuHistory::Error(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_front({time(nullptr), text});
    if (errors_.size() > kErrors) errors_.pop_back();
}

std::vector<JobEntry> LuHistory::Jobs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {jobs_.begin(), jobs_.end()};
}

std::vector<ErrorEntry> LuHistory::Errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {errors_.begin(), errors_.end()};
}

long LuHistory::JobsToday(int64_t now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return todayDate_ == LocalDate(now) ? today_ : 0;
}

} // namespace session
