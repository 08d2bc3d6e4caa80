// The accumulator: one band of the grid's rows, each read's part added in turn, then divided once into the field.
#pragma once

#include "import/place.h"
#include "import/read_field.h"
#include "import/read_plan.h"
#include "import/reader.h"

#include <vector>

namespace engine {

// The sums of rows y0 ... y1-1 of the box over its width, in double precision: value × weight and
// weight per cell and, when clamping, the lowest and highest height under each. Reused band after
// band: start() clears it.
class Accumulator {
public:
    // Starts on rows y0 ... y1-1 of the box of `p`, every sum 0.
    void start(const Placement &p, int y0, int y1, bool clamp);

    // Adds what read `u` found (`pt`) to the rows of the band it reaches; an empty part adds nothing.
    void add(const Unit &u, const Part &pt);

    // Divides the sums into `f`'s cells. A cell that no valid sample reaches stays a void; the cubic
    // kernel's negative lobes can leave next to nothing of a weight, which says as little. Clamped,
    // a height stays within the samples under the cell.
    void finish(Field &f) const;

private:
    const Placement *p_ = nullptr;
    int y0_ = 0, y1_ = 0;
    bool clamp_ = false;
    std::vector<double> sum_, wt_, lo_, hi_;  // the band's sums
    std::vector<double> row_sum_, row_wt_;    // one read's row, summed from its sample rows
};

}  // namespace engine
