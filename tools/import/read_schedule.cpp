// The read's schedule: reads handed out in order, a band of the grid's rows taken once every read that reaches it is in.
#include "import/read_schedule.h"

namespace engine {

namespace {

constexpr size_t waiting_cap = 128u << 20;  // bytes of reads' parts held for their bands before readers wait

}  // namespace

Schedule::Schedule(const Placement &p, const Reads &reads) : reads_(reads) {
    const int bands = (p.grid_h + band_rows - 1) / band_rows;
    band_units_.resize(static_cast<size_t>(bands));
    band_left_.assign(static_cast<size_t>(bands), 0);
    for (size_t u = 0; u < reads.units.size(); ++u) {
        const Unit &unit = reads.units[u];
        for (int b = unit.cy0 / band_rows; b <= (unit.cy1 - 1) / band_rows; ++b) {
            band_units_[b].push_back(static_cast<int>(u));
            ++band_left_[b];
        }
    }
    parts_.resize(reads.units.size());
    unit_bands_left_.resize(reads.units.size());
    for (size_t u = 0; u < reads.units.size(); ++u)
        unit_bands_left_[u] = (reads.units[u].cy1 - 1) / band_rows - reads.units[u].cy0 / band_rows + 1;
    bands_to_take_ = 0;
    for (int left : band_left_) bands_to_take_ += left > 0;
    done_.assign(reads.units.size(), 0);
}

bool Schedule::next(std::pair<int, int> &job, Task &t, bool bands) {
    std::unique_lock<std::mutex> lock(m_);
    auto band = [&] {
        t.band = ready_.back();
        ready_.pop_back();
        return true;
    };
    for (;;) {
        t = Task();
        if (failed_) return false;
        if (!ready_.empty() && bands) return band();
        if (job.first >= job.second && next_job_ < reads_.jobs.size() && may_start(reads_.jobs[next_job_].first))
            job = reads_.jobs[next_job_++];
        if (job.first < job.second && may_start(job.first)) {
            t.unit = job.first++;
            return true;
        }
        if (!ready_.empty()) return band();
        if (bands_taken_ == bands_to_take_ && in_ == reads_.units.size()) return false;
        cv_.wait(lock);
    }
}

void Schedule::read_done(int u, Part &&part) {
    std::lock_guard<std::mutex> lock(m_);
    held_ += part.bytes();
    parts_[u] = std::move(part);
    done_[u] = 1;
    ++in_;
    while (prefix_ < done_.size() && done_[prefix_]) ++prefix_;
    const Unit &unit = reads_.units[u];
    for (int b = unit.cy0 / band_rows; b <= (unit.cy1 - 1) / band_rows; ++b)
        if (--band_left_[b] == 0) ready_.push_back(b);
    cv_.notify_all();
}

void Schedule::band_done(int b) {
    std::lock_guard<std::mutex> lock(m_);
    ++bands_taken_;
    for (int u : band_units_[b])
        if (--unit_bands_left_[u] == 0) {
            held_ -= parts_[u].bytes();
            parts_[u] = Part();
        }
    cv_.notify_all();
}

void Schedule::fail() {
    std::lock_guard<std::mutex> lock(m_);
    failed_ = true;
    cv_.notify_all();
}

bool Schedule::may_start(int u) const { return held_ < waiting_cap || static_cast<size_t>(u) <= prefix_; }

}  // namespace engine
