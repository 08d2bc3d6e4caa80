// What the gate's parts share: how a name is used, the checks of one local file, the record of refusals.
#pragma once

#include "sandbox/gate.h"

#include <cpl_minixml.h>
#include <cpl_vsi_virtual.h>

#include <sys/stat.h>

#include <string>

// How a name is used: as a dataset (folders are formats too), or as the file a raw band reads.
enum class Use { dataset, raw };

// A local name that exists: where it lies and what it is; a regular file is looked into through
// `fs` when given (the gate, as GDAL opens it): a VRT or a .aux.xml for the files it names, HDF5
// for data kept elsewhere (its whole length searched for HDF5 content when `deep`), an image for
// what its decoder would take (see vet_image).
Refusal vet_local(const std::string &name, const struct stat &st, Use use, VSIFilesystemHandler *fs, bool deep = false);

// Records a refusal as this thread's, and the process's, first since the last reset.
void refuse(const Refusal &r);

// GDAL's own handler of local files, behind the gate; null before install_gate().
VSIFilesystemHandler *local_files();

// When `name` belongs to a file system mvx never reads through, why.
Refusal refused_file_system(const std::string &name);

// Keeps a local file the gate let GDAL open to read in the journal (see start_journal).
void note_read(const std::string &path, const struct stat &st);

// A raw band of a VRT document against its file: cut short is refused, naming the file.
Refusal short_raw_band(const std::string &path, const CPLXMLNode *dataset, const CPLXMLNode *band);

// What a decoder would take, from the headers of the file open in `h`, whose first `n` bytes are
// `head`: a PNG's chunks, a TIFF's chain of directories, a GIF's frames, the image a WebP or a
// run-length BMP expands to whole. Empty when within bounds, or in none of these formats.
Refusal vet_image(VSIVirtualHandle &h, const std::string &name, long long size, const unsigned char *head, size_t n);

// Whether the file holds an HDF5 superblock where the HDF5 library looks for one (at 0, 512,
// 1024, 2048 ...): within `head` only, or up to its end when `deep`.
bool is_hdf5(VSIVirtualHandle &h, long long size, const unsigned char *head, size_t n, bool deep);

// The local HDF5 file `path` (netCDF-4 included) when some of its data lies in other files, which
// the HDF5 library opens itself, unseen by the gate: external storage, virtual datasets, external
// links. Also refused: a file the library cannot walk, or too large a walk. Empty when all is inside.
Refusal hdf5_outside(const std::string &path);

// A name as refusals show it: one line (control characters as spaces), of a readable length.
std::string shown(const std::string &name);
