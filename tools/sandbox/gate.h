// The gate: which names and files GDAL may be given, and why not, checked before and as GDAL opens them.
#pragma once

#include "common/io.h"

#include <gdal.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

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

// The local files and folders that `names` lead to, as the gate sees them: each plain file or
// folder, an archive's or a driver's name's file, and all that a VRT among them refers to, however
// nested. What the gate refuses is left out: opening it fails anyway, saying why.
std::vector<std::string> files_named(const std::vector<std::string> &names);

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

// check_plain_input's checks, and then: a text file that names a network source where a file name
// stands (a whole XML value, a whole line or "KEY = VALUE" value) is refused before GDAL reads it,
// naming the source. XML namespaces, schema locations, comments and URLs inside prose are no
// sources. Binary files are left to the gate as GDAL opens them. One opening for both.
Status check_references(const std::string &path);

// A file GDAL was let open to read, as it was when first opened.
struct FileRead {
    std::string path;   // as GDAL named it; an archive's member as "/vsizip/ARCHIVE/MEMBER"
    bool member = false;  // inside an archive (its archive is a FileRead of its own)
    struct stat st {};
};

// From now on every file the gate lets GDAL open to read is kept, once, in the order first opened,
// and `opened` (when given) hears of each as it is first opened, on the thread that opens it.
void start_journal(std::function<void(const std::string &path)> opened = {});
void note_member(const std::string &name);
std::vector<FileRead> journal();

// The first file of the journal that is no longer what it was when first opened (another file now,
// another size or modification time), and how; false when none. A file that changes while it is
// read may have been read in part, or cut short.
bool changed_since_read(std::string &path, std::string &how);

// Puts the gate between GDAL and every file: network file systems and any other than those over
// local files and memory are refused, and a local file opened for reading must pass the gate (a
// directory is only listed, never read; see vet_name). The -wal of a SQLite database is hidden
// from GDAL, which would otherwise reopen the database to write the log into it as it closes it.
// Once, before GDAL opens anything.
void install_gate();

// From now on the gate refuses every file GDAL opens to write, and every removal, rename or new
// folder: for a process that only reads.
void forbid_writes();
