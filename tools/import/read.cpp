// The read: tiles planned, read on every core, their sums taken band by band of the grid's rows in a fixed order and divided once.
#include "read.h"

#include "parallel.h"

#include "engine.h"
#include "text.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <future>
#include <limits>
#include <thread>

namespace engine {

namespace {

constexpr int band_rows = 32;               // grid rows summed and finished together
constexpr size_t waiting_cap = 128u << 20;  // bytes of reads' parts held for their bands before readers wait

// A reader's next task: a read (unit), or a band whose reads are all in.
struct Task {
    int unit = -1, band = -1;
};

// Who does what when: reads go out in order, job by job; a band of rows is taken as soon as every
// read that reaches it is in, and a read's part is freed once every band it reaches has taken it.
// What a band adds up does not depend on which thread read what, or when.
class Schedule {
public:
    Schedule(const Placement &p, const Reads &reads) : reads_(reads) {
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

    // The next task for a reader whose job has reads [job.first, job.second) left: a band ready to
    // take, else the job's next read, else the next job's. A read waits while the parts held are
    // over the cap, unless every read before it is in. False when all is done or a read failed.
    bool next(std::pair<int, int> &job, Task &t) {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            t = Task();
            if (failed_) return false;
            if (!ready_.empty()) {
                t.band = ready_.back();
                ready_.pop_back();
                return true;
            }
            if (job.first >= job.second && next_job_ < reads_.jobs.size() && may_start(reads_.jobs[next_job_].first))
                job = reads_.jobs[next_job_++];
            if (job.first < job.second && may_start(job.first)) {
                t.unit = job.first++;
                return true;
            }
            if (bands_taken_ == bands_to_take_ && in_ == reads_.units.size()) return false;
            cv_.wait(lock);
        }
    }

    void read_done(int u, Part &&part) {
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

    void band_done(int b) {
        std::lock_guard<std::mutex> lock(m_);
        ++bands_taken_;
        for (int u : band_units_[b])
            if (--unit_bands_left_[u] == 0) {
                held_ -= parts_[u].bytes();
                parts_[u] = Part();
            }
        cv_.notify_all();
    }

    void fail() {
        std::lock_guard<std::mutex> lock(m_);
        failed_ = true;
        cv_.notify_all();
    }

    const std::vector<int> &band_units(int b) const { return band_units_[b]; }
    const Part &part(int u) const { return parts_[u]; }

private:
    bool may_start(int u) const { return held_ < waiting_cap || static_cast<size_t>(u) <= prefix_; }

    const Reads &reads_;
    std::vector<std::vector<int>> band_units_;  // the reads that reach each band, in order
    std::vector<int> band_left_, unit_bands_left_;
    std::vector<Part> parts_;
    std::vector<uint8_t> done_;
    std::vector<int> ready_;
    size_t next_job_ = 0, held_ = 0, prefix_ = 0, in_ = 0;
    int bands_taken_ = 0, bands_to_take_ = 0;
    bool failed_ = false;
    std::mutex m_;
    std::condition_variable cv_;
};

// A band's sums over the box's width, and a row of one read's.
struct Band {
    std::vector<double> sum, wt, lo, hi, row_sum, row_wt;
};

// Adds part `pt` of read `u` to the band's row y (grid row), its cells from u.cx0.
void add_row(const Unit &u, const Part &pt, int y, bool clamp, double *sum, double *wt, double *lo, double *hi, Band &scratch) {
    const int fw = pt.width;
    const double *s = nullptr, *w = nullptr;
    if (!pt.by_sample) {
        const size_t at = static_cast<size_t>(y - u.cy0) * fw;
        s = pt.sum.data() + at, w = pt.wt.data() + at;
        if (clamp)
            for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
    } else {
        // The read's sample rows that reach row y, in order, summed as the read would have.
        scratch.row_sum.assign(static_cast<size_t>(fw), 0.0), scratch.row_wt.assign(static_cast<size_t>(fw), 0.0);
        const Taps &d = pt.down;
        for (int j = 0; j < pt.rows; ++j) {
            const int k = y - (d.c0 + d.from[j]);
            if (k < 0 || k >= d.count[j]) continue;
            const double wj = d.w[d.at[j] + k];
            if (wj == 0) continue;
            const size_t at = static_cast<size_t>(j) * fw;
            for (int i = 0; i < fw; ++i) scratch.row_sum[i] += wj * pt.sum[at + i], scratch.row_wt[i] += wj * pt.wt[at + i];
            if (clamp)
                for (int i = 0; i < fw; ++i) lo[i] = std::min(lo[i], pt.lo[at + i]), hi[i] = std::max(hi[i], pt.hi[at + i]);
        }
        s = scratch.row_sum.data(), w = scratch.row_wt.data();
    }
    for (int i = 0; i < fw; ++i) sum[i] += s[i], wt[i] += w[i];
}

// Band b: every read that reaches it added in order, then divided into the field. A cell that no
// valid sample reaches stays a void; the cubic kernel's negative lobes can leave next to nothing
// of a weight, which says as little. Clamped, a height stays within the samples under the cell.
void take_band(int b, const Placement &p, const Reads &reads, const Schedule &sch, Band &band, Field &f) {
    const int y0 = std::max(p.y0, b * band_rows), y1 = std::min(p.y0 + p.h, (b + 1) * band_rows);
    if (y0 >= y1) return;
    const size_t n = static_cast<size_t>(y1 - y0) * p.w;
    const bool clamp = reads.clamp;
    constexpr double inf = std::numeric_limits<double>::infinity();
    band.sum.assign(n, 0.0), band.wt.assign(n, 0.0);
    if (clamp) band.lo.assign(n, inf), band.hi.assign(n, -inf);
    for (int u : sch.band_units(b)) {
        const Unit &unit = reads.units[u];
        const Part &pt = sch.part(u);
        if (pt.empty) continue;
        for (int y = std::max(y0, unit.cy0); y < std::min(y1, unit.cy1); ++y) {
            const size_t at = static_cast<size_t>(y - y0) * p.w + (unit.cx0 - p.x0);
            add_row(unit, pt, y, clamp, band.sum.data() + at, band.wt.data() + at, clamp ? band.lo.data() + at : nullptr,
                    clamp ? band.hi.data() + at : nullptr, band);
        }
    }
    for (int y = y0; y < y1; ++y) {
        const size_t from = static_cast<size_t>(y - y0) * p.w;
        const size_t to = static_cast<size_t>(y) * f.w + p.x0;
        for (int i = 0; i < p.w; ++i) {
            const double w = band.wt[from + i];
            if (!(w > 1e-9)) continue;
            double z = band.sum[from + i] / w;
            if (clamp) z = std::clamp(z, band.lo[from + i], band.hi[from + i]);
            f.z[to + i] = static_cast<float>(z);
            f.voids[to + i] = 0;
        }
    }
}

}  // namespace

}  // namespace engine

std::string resampling_note(const HeightSource &src, const Placement &p, Resampling r) {
    const double across = std::fabs(src.gt[1] / p.gt[1]), down = std::fabs(src.gt[5] / p.gt[5]);
    const Kernel kx = kernel_for(r, across), ky = kernel_for(r, down);
    auto name = [](Kernel k) {
        switch (k) {
        case Kernel::box: return "the area average of the samples each cell covers";
        case Kernel::tent: return "bilinear interpolation";
        case Kernel::cubic: return "cubic interpolation (Keys), held within the samples around each cell";
        case Kernel::nearest: return "the nearest sample";
        }
        return "";
    };
    auto size = [](double v) { return number(v, v >= 1000 ? 7 : 3); };
    std::string note = "resampling: a sample is " + size(across) + " x " + size(down) + " cells; ";
    note += kx == ky ? std::string(name(kx)) : std::string(name(kx)) + " across, " + name(ky) + " down";
    if (r != Resampling::automatic) note += " (--resample)";
    return note;
}

int reader_threads(const HeightSource &src) {
    return src.sequential ? 1 : core_count();
}

Status read_field(const HeightSource &src, const Placement &p, Resampling r, Field &f,
                  const std::function<void(double)> &progress, double max_samples) {
    using namespace engine;
    Reads reads;
    if (Status st = plan_reads(src, p, r, max_samples, reads); !st.ok) return st;
    // The field is cleared while the first reads decode: a band waits for it only when it is taken
    // (and learns then if it could not be made).
    f.w = p.grid_w, f.h = p.grid_h;
    std::shared_future<void> cleared = std::async(std::launch::async, [&f] {
        f.z.assign(static_cast<size_t>(f.w) * f.h, 0.0f);
        f.voids.assign(static_cast<size_t>(f.w) * f.h, 1);
    }).share();
    if (reads.units.empty()) {
        cleared.get();
        return {};
    }
    // What is read, for the progress; and the work: the samples and, when enlarging, the many
    // cells each one reaches. A small read is not worth a second thread.
    double total = 0, effort = 0;
    for (const Unit &u : reads.units) {
        total += static_cast<double>(u.samples());
        effort += static_cast<double>(u.samples()) + static_cast<double>(u.cells());
    }
    const int threads = effort < (1 << 18) ? 1 : core_count();
    Schedule sch(p, reads);
    std::atomic<long long> read{0};
    std::mutex m;
    std::string failure;
    auto work = [&](int thread) {
        Reader rd;
        Band band;
        std::pair<int, int> job{0, 0};
        for (Task t; sch.next(job, t);) {
            if (t.band >= 0) {
                cleared.get();
                take_band(t.band, p, reads, sch, band, f);
                sch.band_done(t.band);
                continue;
            }
            const Unit &unit = reads.units[static_cast<size_t>(t.unit)];
            const TilePlan &tp = reads.plans[unit.plan];
            Part part;
            if (!rd.sum(tp, unit.plan, unit, reads.clamp, part)) {
                std::lock_guard<std::mutex> lock(m);
                if (failure.empty()) failure = tp.tile->path + ": cannot read: " + gdal_reason_or("GDAL failed");
                sch.fail();
                return;
            }
            sch.read_done(t.unit, std::move(part));
            const long long d = read += unit.samples();
            if (thread == 0 && progress) progress(std::min(1.0, static_cast<double>(d) / total));
        }
    };
    run_threads(threads, work, [&] { sch.fail(); });
    cleared.get();
    if (!failure.empty()) return Status::fail(failure);
    return {};
}
