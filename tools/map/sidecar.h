// What a map stands for, in a small JSON file beside it (MAP.json): its sources, place, scale and levels.
#pragma once

#include "common/io.h"
#include "map/mapfile.h"

#include <string>
#include <vector>

struct Sidecar {
    std::string written_by;                // "mvx import", "mvx generate"
    std::vector<std::string> sources;      // the inputs, as named
    std::vector<std::string> read;         // every file read for it: inputs, companions, sources of VRTs, archive members
    std::string crs, crs_name;             // coordinate system (WKT) and its short name; empty when none
    bool georeferenced = false;
    double gt[6] = {0, 1, 0, 0, 0, 1};     // the grid's geotransform, from cell (0, 0)'s corner, in crs
    bool has_bounds = false;               // the box's corners in longitude/latitude
    double west = 0, south = 0, east = 0, north = 0;
    int box_x0 = 0, box_y0 = 0, box_w = 0, box_h = 0;  // the cells the data fills
    double cell_x = 0, cell_y = 0;         // metres per cell across and down; 0 when unknown
    bool nominal = false;                  // the scale is made up (a generated world)
    bool metres = false;                   // heights below are in metres (else in the input's units)
    double height_at_0 = 0;                // level L >= 0 stands for height_at_0 + L * per_level_above,
    double height_at_m1 = -1;              // L < 0 for height_at_m1 + (L + 1) * per_level_below
    double per_level_below = 1, per_level_above = 1;
    double sea_level = 0;                  // heights at or below it are sea
};

// The sidecar's name for a map: the map's path with ".json" added.
std::string sidecar_path(const std::string &map);

// The height a level stands for.
double height_of_level(const Sidecar &s, int level);

// How many times the viewer exaggerates the relief: it draws a level a third of a cell's width high.
inline double viewer_exaggeration(double cell_x, double cell_y, double metres_per_level) {
    return (cell_x + cell_y) / 2 / 3 / metres_per_level;
}

// Whether a level is sea under the sidecar's sea level.
bool is_sea_level(const Sidecar &s, int level);

// The sidecar as JSON text, and back; parse fails naming `name` on anything it cannot use (see
// check_sidecar).
std::string sidecar_json(const Sidecar &s);
Status parse_sidecar(const std::string &text, const std::string &name, Sidecar &s);

// Whether a sidecar (`name` for messages) can be trusted with the map: its box a non-empty part
// of the grid, its numbers finite, sizes and steps not negative, its geotransform invertible, and
// what they give finite too (the end levels' heights, the grid's corners).
Status check_sidecar(const Sidecar &s, const std::string &name);

// Reads the sidecar beside `map`; `found` is false (and the status ok) when there is none.
Status read_sidecar(const std::string &map, Sidecar &s, bool &found);

// Whether a map and its sidecar may be written at `map`, neither being one of `inputs` nor
// anything but a regular file or a new name (see check_output), the map being empty or of a map's
// size if it exists: a file named by mistake (a tile called "-o") is never replaced. A symlink at
// `map` is taken as `map_links` says; the sidecar, a name mvx chose, is never written through one.
Status check_map_output(const std::string &map, const std::vector<std::string> &inputs, Links map_links);

// Writes the map and its sidecar, each through a temporary file, committed together at the end:
// a failure or an interruption leaves the old map and sidecar as they were. A sidecar that fails
// check_sidecar is not written.
Status save_map(const std::string &path, const Map &m, const Sidecar &s, Links map_links);
// A map whose bytes another process writes: its temporary file made at once (see PendingFile),
// its room on the disk taken, and the file mapped shared, so that a child forked after open() fills
// it in place; then committed with its sidecar as save_map does. Removed when not committed.
class MapOutput {
public:
    MapOutput(std::string path, Links links) : path_(std::move(path)), links_(links), file_(path_, links) {}
    ~MapOutput();
    MapOutput(const MapOutput &) = delete;
    MapOutput &operator=(const MapOutput &) = delete;

    Status open();
    uint8_t *bytes() const { return bytes_; }  // grid_bytes of them, in the file's layout
    Status commit(const Sidecar &s);

private:
    std::string path_;
    Links links_;
    PendingFile file_;
    uint8_t *bytes_ = nullptr;
};
