// The gate: which names and files GDAL may be given, and why not, checked before and as GDAL opens them.
#pragma once

#include "io.h"

#include <gdal.h>

#include <string>

// A path or source name that would be fetched from elsewhere, in any spelling: a URL of any scheme
// (also inside a driver's name, as NETCDF:"http://..."), or a network file system (/vsicurl/,
// /vsicurl?, /vsis3/, their _streaming forms, ...).
bool is_network_name(const std::string &name);

// The most one image, frame, tile or block may take decoded at once, in bytes: decoders that hold
// a whole image (WebP, GIF, run-length BMP) are held to it before they start, as blocks are.
constexpr long long max_decode_bytes = 256LL << 20;

// A name GDAL must not be given, and why.
struct Refusal {
    std::string name;      // the file or source, as it was named
    std::string what;      // what it is, to follow "it is" or "NAME, which is": "a FIFO, not a regular file"
    bool network = false;  // a network source (`what` is then empty)
    explicit operator bool() const { return !name.empty(); }
};

// Why `name` (a path, a /vsi name, a driver's "FORMAT:..." name or an inline VRT) must not reach
// GDAL: a network source; a MEM::: name (an address in memory); a file that is not regular (FIFO,
// device, socket; a directory where raw samples are read) or lies under /proc, /sys or /dev; a VRT
// or a .aux.xml that refers to such a source, or a VRT to a raw file shorter than its layout,
// however deeply nested (in archives too); an HDF5 or netCDF-4 file that keeps data in other files;
// an image whose decoder would take more than max_decode_bytes at once, or a TIFF of thousands of
// directories. Empty when none. Never blocks; a plain local file that GDAL opens by its own name
// is looked into when it does (see install_gate), one named inside a driver's name or an archive now.
Refusal vet_name(const std::string &name);

// The first refusal of the gate on this thread since reset_refusals(); empty when none.
Refusal last_refusal();
void reset_refusals();

// A refusal as the cause of a failure of `input`, the one wording of each: "it is a FIFO, not a
// regular file", "refers to NAME, which is ...", or for a network source "a network source" (the
// input itself) or "refers to a network source (NAME)", then "; mvx reads local files only:
// download it first".
std::string refusal_cause(const Refusal &r, const std::string &input);

// The raw file behind a dataset of one of GDAL's raw formats (ENVI, EHdr, ...) when it holds fewer
// bytes than its layout needs: GDAL would read the rest as zeros. Empty when whole, or not raw.
Refusal short_raw_data(GDALDatasetH ds);

// A plain file named as an input: it must exist, be readable and never block (FIFOs, devices are
// refused); directories pass, for the formats that are folders.
Status check_plain_input(const std::string &path);

// A text file that names a network source where a file name stands (a whole XML value, a whole
// line or "KEY = VALUE" value) is refused before GDAL reads it, naming the source. XML namespaces,
// schema locations, comments and URLs inside prose are no sources. Binary files are left to the
// gate as GDAL opens them.
Status check_references(const std::string &path);

// Puts the gate between GDAL and every file: network file systems and any other than those over
// local files and memory are refused, and a local file opened for reading must pass the gate (a
// directory is only listed, never read; see vet_name). The -wal of a SQLite database is hidden
// from GDAL, which would otherwise reopen the database to write the log into it as it closes it.
// Once, before GDAL opens anything.
void install_gate();
