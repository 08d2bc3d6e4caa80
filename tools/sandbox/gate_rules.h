// What the gate's parts share: how a name is used, the checks of one local file, the record of refusals.
#pragma once

#include "gate.h"

#include <cpl_minixml.h>
#include <cpl_vsi_virtual.h>

#include <sys/stat.h>

#include <string>

// How a name is used: as a dataset (folders are formats too), or as the file a raw band reads.
enum class Use { dataset, raw };

// A local name that exists: where it lies and what it is; a regular file is looked into through
// `fs` when given (the gate, as GDAL opens it): a VRT for what it refers to, a PNG for its chunks.
Refusal vet_local(const std::string &name, const struct stat &st, Use use, VSIFilesystemHandler *fs);

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
