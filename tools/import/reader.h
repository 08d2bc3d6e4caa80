// The reader: one read of a tile decoded, its voids masked, its samples summed across and then down into the cells.
#pragma once

#include "import/float_tiff.h"
#include "import/kernels.h"
#include "import/read_plan.h"
#include "import/tile_set.h"
#include "sandbox/gdal_env.h"

#include <array>
#include <cstdint>
#include <vector>

namespace engine {

// What one read adds to the grid's sums, held until every band of rows it reaches has taken it:
// for its cells cx0 ... cx1-1, rows of value × weight and of weight (and, when clamping, of the
// lowest and highest height under each). By cell row from cy0 when it covers no more cell rows
// than it has sample rows; else by sample row, `down` giving each one's cells and weights.
struct Part {
    bool empty = true;  // nothing was read (a part of a sparse file left out): adds nothing
    bool by_sample = false;
    int rows = 0, width = 0;
    std::vector<double> sum, wt, lo, hi;
    Taps down;
    size_t bytes() const { return (sum.size() + wt.size() + lo.size() + hi.size() + down.w.size()) * sizeof(double); }
};

// One reader thread: its GDAL handles (the last few tiles it read, kept open, as reads in the
// order of the grid's rows go from tile to tile and back) and its buffers.
class Reader {
public:
    // Reads unit `u` of plan `tp` (number `plan`) and sums it over its cells, in the order of the
    // ground, so that a file that runs against it gives the same sums as its twin that does not.
    // False when GDAL fails.
    bool sum(const TilePlan &tp, int plan, const Unit &u, bool clamp, Part &out);

private:
    bool open_level(const TilePlan &tp, int tile);
    bool gdal_band(const TilePlan &tp);
    void weigh(const TilePlan &tp, int plan, const Unit &u);
    bool read_unit(const TilePlan &tp, const Unit &u);
    void mask_rows(const TilePlan &tp, const Unit &u, int j0, bool clamp);
    void across(const Taps &x, const Unit &u, int rows, bool clamp);
    void down(const Taps &y, const Unit &u, int j0, bool clamp, Part &out);

    struct Open {
        int tile = -1;
        Opening at;
    };
    std::vector<Open> open_;  // most recently used last
    // The weights of the last read's samples, across by cell and down by sample row: the next read
    // of the same columns (the same tile, or the next strip of a large one) takes them as they are.
    Taps x_, y_;
    std::array<long long, 5> x_of_{-1}, y_of_{-1};
    GDALRasterBandH band_ = nullptr, mask_ = nullptr;
    FloatTiffBlocks blocks_;  // the band's blocks, when it is a file that mvx decodes itself
    bool own_blocks_ = false;
    // The unit's samples as read (and its mask), a row of voids and one masked out; a group of
    // sample rows in ground order, interleaved sample by sample: value × share, share, height.
    std::vector<float> z_, gap_;
    std::vector<uint8_t> cover_, bare_;
    std::vector<double> val_, ok_, height_, share_;
    std::vector<int> odd_;  // samples before each whose rows have a void or a share other than 1
    // The group's rows summed across, cell by cell: value, weight, lowest and highest height; each
    // cell's weight when its samples are whole and unshared, and the cells whose rows differ.
    std::vector<double> rsum_, rwt_, rlo_, rhi_, total_;
    std::vector<int> written_;
};

}  // namespace engine
