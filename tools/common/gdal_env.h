// GDAL as mvx uses it: set up once, quiet, bounded in memory, and never reaching the network.
#pragma once

#include <gdal.h>
#include <ogr_srs_api.h>

#include <memory>
#include <string>
#include <vector>

// Registers the drivers (less those that fetch from servers), sends GDAL's messages to
// gdal_reason() instead of the terminal, bounds the block cache (GDAL_CACHEMAX still wins) and
// puts the gate between GDAL and every file: network file systems and streams are refused, and
// a local file opened for reading must pass vet_name() (a directory is only listed, never read).
// Safe to call more than once.
void gdal_setup();

// From now on socket() for IPv4 and IPv6 fails with EACCES in every thread of the process, so
// that nothing GDAL or a library under it does can reach a server, whatever the name. Through a
// seccomp filter; where the kernel has none, nothing changes and the gate's name checks remain.
// For mvx itself, before GDAL starts: never in a process that needs sockets (the tests).
void forbid_internet();

// GDAL's last failure message on this thread, tidied to one line; the gate's refusal, when it
// refused a file since the errors were last reset, comes first. Empty when there is none.
std::string gdal_reason();
// The same, or `otherwise` when GDAL said nothing.
std::string gdal_reason_or(const char *otherwise);

// A path or source name that would be fetched from elsewhere, in any spelling: a URL of any scheme
// (also inside a driver's name, as NETCDF:"http://..."), or a network file system (/vsicurl/,
// /vsicurl?, /vsis3/, their _streaming forms, ...).
bool is_network_name(const std::string &name);

// A name GDAL must not be given, and why.
struct Refusal {
    std::string name;      // the file or source, as it was named
    std::string what;      // what it is, to follow "it is" or "NAME, which is": "a FIFO, not a regular file"
    bool network = false;  // a network source (`what` is then empty)
    explicit operator bool() const { return !name.empty(); }
};

// Why `name` (a path, a /vsi name, a driver's "FORMAT:..." name or an inline VRT) must not reach
// GDAL: a network source; a file that is not regular (FIFO, device, socket; a directory where raw
// samples are read) or lies under /proc, /sys or /dev; a VRT that refers to such a source or to a
// raw file shorter than its layout, however deeply nested (in archives too). Empty when none. Looks
// at names and file status only, never blocking; a plain local file is looked into when GDAL opens it.
Refusal vet_name(const std::string &name);

// The first refusal of the gate on this thread since gdal_reset_errors(); empty when none.
Refusal last_refusal();

// A refusal as the cause of a failure of `input`: "it is a FIFO, not a regular file", "refers to
// NAME, which is ...", or for a network source "refers to a network source (NAME); mvx reads local
// files only: download it first".
std::string refusal_cause(const Refusal &r, const std::string &input);

// The raw file behind a dataset of one of GDAL's raw formats (ENVI, EHdr, ...) when it holds fewer
// bytes than its layout needs: GDAL would read the rest as zeros. Empty when whole, or not raw.
Refusal short_raw_data(GDALDatasetH ds);

// Clears GDAL's last error and the gate's refusal on this thread.
void gdal_reset_errors();

// An open dataset, closed when it goes.
struct DatasetCloser {
    void operator()(void *ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// Opens a raster read-only, GDAL's errors reset first so that a failure's reason is its own. A VRT
// is readied for reads through its overviews (see gdal_env.cpp). Fails when the gate refused a file
// on the way, a source or a companion (last_refusal() says which).
Dataset open_dataset(const std::string &name);

// A /vsimem/ file that is removed when it goes; name() is unique in the process.
class MemFile {
public:
    explicit MemFile(const char *tag);
    ~MemFile();
    MemFile(const MemFile &) = delete;
    MemFile &operator=(const MemFile &) = delete;
    const std::string &name() const { return name_; }
    // Writes `text` as the file's content.
    void write(const std::string &text) const;

private:
    std::string name_;
};

// Text made safe inside an XML element.
std::string xml_escaped(const std::string &s);

// A dataset made by one of GDAL's utilities as a VRT in memory, kept alive by `owned`: gdal_translate's
// and gdalwarp's arguments (without file names). Its name, or empty with gdal_reason() set.
std::string translate_to_vrt(GDALDatasetH in, const std::vector<std::string> &args,
                             std::vector<std::unique_ptr<MemFile>> &owned);
std::string warp_to_vrt(GDALDatasetH in, const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned);

// The dataset's geotransform when it has a real one (not the identity GDAL reports for plain images).
bool has_geotransform(GDALDatasetH ds, double gt[6]);

// A coordinate system, axes in the traditional GIS order (x east, y north) whatever its definition
// says; empty (get() null) for an empty WKT.
class SpatialRef {
public:
    explicit SpatialRef(const std::string &wkt);
    static SpatialRef wgs84();
    ~SpatialRef();
    SpatialRef(SpatialRef &&o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    SpatialRef(const SpatialRef &) = delete;
    SpatialRef &operator=(const SpatialRef &) = delete;
    OGRSpatialReferenceH get() const { return h_; }

private:
    OGRSpatialReferenceH h_ = nullptr;
};

// A box (x0, y0, x1, y1) from one system into another, its edges densified; false when it cannot.
bool transform_box(const SpatialRef &from, const SpatialRef &to, const double in[4], double out[4]);

// A system's short name ("EPSG:4326", else its own name); empty for none.
std::string crs_name(const std::string &wkt);

// Whether two systems are the same, the order of their axes aside.
bool same_crs(const std::string &a, const std::string &b);
