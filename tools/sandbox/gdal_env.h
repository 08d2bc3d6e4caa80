// GDAL as mvx uses it: set up once, quiet, bounded in memory, every file it opens through the gate.
#pragma once

#include <gdal.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// Registers the drivers of elevation data and imagery only (see drivers.h), sets GDAL to write
// nothing beside what it reads (no .gz.properties, SQLite through the gate), sends GDAL's messages
// to gdal_reason() instead of the terminal, bounds the block cache (GDAL_CACHEMAX still wins) and
// puts the gate between GDAL and every file (see install_gate). Safe to call more than once.
void gdal_setup();

// GDAL's last failure message on this thread, tidied to one line; the gate's refusal, when it
// refused a file since the errors were last reset, comes first. Empty when there is none.
std::string gdal_reason();
// The same, or `otherwise` when GDAL said nothing.
std::string gdal_reason_or(const char *otherwise);

// Clears GDAL's last error and the gate's refusal on this thread.
void gdal_reset_errors();

// An open dataset, closed when it goes.
struct DatasetCloser {
    void operator()(void *ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// Each file's companions by name, its own among them, without their folder: as GDAL takes the
// files beside one it opens.
using Siblings = std::map<std::string, std::vector<std::string>>;

// From now on open_dataset tells GDAL the files beside each of these (by path as it is given
// them) instead of GDAL asking for each companion it might have: a dozen lookups a file, most of
// the cost of opening a small tile. For a reader confined to those files: it can read no others.
void set_siblings(Siblings siblings);

// Whether set_siblings named the files beside `name`, and none of them is its companion: GDAL
// finds no .aux.xml, .ovr, .msk or world file for it.
bool alone(const std::string &name);

// Opens a raster read-only, GDAL's errors reset first so that a failure's reason is its own. A VRT
// is readied for reads through its overviews (see gdal_env.cpp). Fails when the gate refused a file
// on the way, a source or a companion (last_refusal() says which).
Dataset open_dataset(const std::string &name);
