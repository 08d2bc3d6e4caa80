// The read's schedule: reads handed out in order, a band of the grid's rows taken once every read that reaches it is in.
#pragma once

#include "import/place.h"
#include "import/read_plan.h"
#include "import/reader.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

constexpr int band_rows = 32;  // grid rows summed and finished together

// A reader's next task: a read (unit), or a band whose reads are all in.
struct Task {
    int unit = -1, band = -1;
};

// Who does what when: reads go out in order, job by job; a band of rows is taken as soon as every
// read that reaches it is in, and a read's part is freed once every band it reaches has taken it.
// What a band adds up does not depend on which thread read what, or when.
class Schedule {
public:
    Schedule(const Placement &p, const Reads &reads);

    // The next task for a reader whose job has reads [job.first, job.second) left: a band ready to
    // take, else the job's next read, else the next job's. A read waits while the parts held are
    // over the cap, unless every read before it is in. Without `bands` (what bands are taken into
    // is not ready yet), a read that can start comes before a band. False when all is done or a
    // read failed.
    bool next(std::pair<int, int> &job, Task &t, bool bands = true);

    // Read `u` is in, its part held until every band it reaches has taken it.
    void read_done(int u, Part &&part);

    // Band `b` is taken: the parts no other band waits for are freed.
    void band_done(int b);

    // A read failed: every reader stops at its next task.
    void fail();

    const std::vector<int> &band_units(int b) const { return band_units_[b]; }
    const Part &part(int u) const { return parts_[u]; }

private:
    bool may_start(int u) const;

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

}  // namespace engine
