// The read: tiles planned, read on every core, summed band by band of the grid's rows in a fixed order, divided once.
#include "import/read_field.h"

#include "common/parallel.h"
#include "common/text.h"
#include "import/accumulator.h"
#include "import/read_plan.h"
#include "import/read_schedule.h"
#include "import/reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

namespace engine {

namespace {

// Band b of the grid's rows: every read that reaches it added in order, then divided into the field.
void take_band(int b, const Placement &p, const Reads &reads, const Schedule &sch, Accumulator &band, Field &f) {
    const int y0 = std::max(p.y0, b * band_rows), y1 = std::min(p.y0 + p.h, (b + 1) * band_rows);
    if (y0 >= y1) return;
    band.start(p, y0, y1, reads.clamp);
    for (int u : sch.band_units(b)) band.add(reads.units[u], sch.part(u));
    band.finish(f);
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
    // The field is cleared while the first reads decode: reads go before bands until it is, and a
    // band waits for it only when no read can start (and learns then if it could not be made).
    f.w = p.grid_w, f.h = p.grid_h;
    std::shared_future<void> cleared = start_thread([&f] {
        f.z.assign(static_cast<size_t>(f.w) * f.h, 0.0f);
        f.voids.assign(static_cast<size_t>(f.w) * f.h, 1);
    });
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
        Accumulator band;
        std::pair<int, int> job{0, 0};
        auto field_ready = [&] { return cleared.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
        for (Task t; sch.next(job, t, field_ready());) {
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
