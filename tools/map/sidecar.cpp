// The sidecar file: JSON through GDAL's reader and writer, one version of the layout.
#include "sidecar.h"

#include <cpl_json.h>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char format_name[] = "mvx map sidecar 1";

}  // namespace

std::string sidecar_path(const std::string &map) { return map + ".json"; }

double height_of_level(const Sidecar &s, int level) {
    return level < 0 ? s.height_at_m1 + (level + 1) * s.per_level_below : s.height_at_0 + level * s.per_level_above;
}

bool is_sea_level(const Sidecar &s, int level) { return height_of_level(s, level) <= s.sea_level; }

std::string sidecar_json(const Sidecar &s) {
    CPLJSONDocument doc;
    CPLJSONObject r = doc.GetRoot();
    r.Add("format", format_name);
    r.Add("written_by", s.written_by);
    CPLJSONArray src;
    for (const std::string &p : s.sources) src.Add(p);
    r.Add("sources", src);
    CPLJSONObject crs;
    crs.Add("name", s.crs_name);
    crs.Add("wkt", s.crs);
    r.Add("crs", crs);
    if (s.georeferenced) {
        CPLJSONArray gt;
        for (double v : s.gt) gt.Add(v);
        r.Add("geotransform", gt);
    }
    if (s.has_bounds) {
        CPLJSONObject b;
        b.Add("west", s.west), b.Add("south", s.south), b.Add("east", s.east), b.Add("north", s.north);
        r.Add("bounds_lonlat", b);
    }
    CPLJSONObject box;
    box.Add("x0", s.box_x0), box.Add("y0", s.box_y0), box.Add("w", s.box_w), box.Add("h", s.box_h);
    r.Add("box", box);
    CPLJSONObject cell;
    cell.Add("across", s.cell_x), cell.Add("down", s.cell_y), cell.Add("nominal", s.nominal);
    r.Add("metres_per_cell", cell);
    CPLJSONObject lv;
    lv.Add("unit", s.metres ? "metre" : "input unit");
    lv.Add("height_at_0", s.height_at_0);
    lv.Add("height_at_-1", s.height_at_m1);
    lv.Add("per_level_below_0", s.per_level_below);
    lv.Add("per_level_above_0", s.per_level_above);
    r.Add("levels", lv);
    r.Add("sea_level", s.sea_level);
    return doc.SaveAsString() + "\n";
}

Status parse_sidecar(const std::string &text, const std::string &name, Sidecar &s) {
    CPLJSONDocument doc;
    if (!doc.LoadMemory(text)) return Status::fail(name + ": not JSON");
    const CPLJSONObject r = doc.GetRoot();
    if (r.GetString("format") != format_name) return Status::fail(name + ": not an mvx map sidecar");
    s = Sidecar{};
    s.written_by = r.GetString("written_by");
    const CPLJSONArray src = r.GetArray("sources");
    for (int i = 0; i < src.Size(); ++i) s.sources.push_back(src[i].ToString());
    s.crs_name = r.GetString("crs/name");
    s.crs = r.GetString("crs/wkt");
    const CPLJSONArray gt = r.GetArray("geotransform");
    s.georeferenced = gt.IsValid() && gt.Size() == 6;
    for (int i = 0; s.georeferenced && i < 6; ++i) s.gt[i] = gt[i].ToDouble();
    const CPLJSONObject b = r.GetObj("bounds_lonlat");
    s.has_bounds = b.IsValid();
    if (s.has_bounds)
        s.west = b.GetDouble("west"), s.south = b.GetDouble("south"), s.east = b.GetDouble("east"),
        s.north = b.GetDouble("north");
    s.box_x0 = r.GetInteger("box/x0"), s.box_y0 = r.GetInteger("box/y0");
    s.box_w = r.GetInteger("box/w"), s.box_h = r.GetInteger("box/h");
    s.cell_x = r.GetDouble("metres_per_cell/across"), s.cell_y = r.GetDouble("metres_per_cell/down");
    s.nominal = r.GetBool("metres_per_cell/nominal");
    s.metres = r.GetString("levels/unit") == "metre";
    s.height_at_0 = r.GetDouble("levels/height_at_0");
    s.per_level_below = r.GetDouble("levels/per_level_below_0", 1);
    s.per_level_above = r.GetDouble("levels/per_level_above_0", 1);
    // Sidecars from before the sea sat on a level boundary have one line through every level.
    s.height_at_m1 = r.GetDouble("levels/height_at_-1", s.height_at_0 - s.per_level_below);
    s.sea_level = r.GetDouble("sea_level");
    for (double v : {s.height_at_0, s.height_at_m1, s.per_level_below, s.per_level_above, s.sea_level, s.cell_x, s.cell_y})
        if (!std::isfinite(v)) return Status::fail(name + ": a number that is not finite");
    if (s.box_w < 0 || s.box_h < 0) return Status::fail(name + ": a box of negative size");
    return {};
}

Status read_sidecar(const std::string &map, Sidecar &s, bool &found) {
    const std::string path = sidecar_path(map);
    struct stat st;
    found = stat(path.c_str(), &st) == 0;
    if (!found) return {};
    std::vector<uint8_t> bytes;
    if (Status r = read_whole(path, bytes, 1 << 24); !r.ok) return r;
    return parse_sidecar(std::string(bytes.begin(), bytes.end()), path, s);
}

Status save_map(const std::string &path, const Map &m, const Sidecar &s) {
    PendingFile map(path), side(sidecar_path(path));
    const std::string json = sidecar_json(s);
    if (Status st = write_map(map, m); !st.ok) return st;
    if (Status st = side.write([&](int fd) { return write_all(fd, reinterpret_cast<const uint8_t *>(json.data()), json.size()); });
        !st.ok)
        return st;
    if (Status st = map.commit(); !st.ok) return st;
    if (Status st = side.commit(); !st.ok) {
        // Better no sidecar than one that describes the map this one replaced.
        unlink(sidecar_path(path).c_str());
        return st;
    }
    return {};
}
