// Container files whose data may lie outside them, or be pending beside them: HDF5 and GeoPackage.
#pragma once

#include <string>
#include <vector>

// An HDF5 file of w × h datasets of 32-bit floats at `datasets` ("elevation", "grids/z"), each
// holding `values`. With `external` set, their data lies in that file instead, from its start
// (HDF5's external storage), and `values` is not written. A `userblock` of bytes (a power of two
// from 512) puts the HDF5 content after that many bytes of the file.
void write_hdf5(const std::string &path, const std::vector<std::string> &datasets, int w, int h,
                const std::vector<float> &values, const std::string &external = "", unsigned long long userblock = 0);

// Turns the SQLite database `path` (a GeoPackage) to WAL mode and leaves a write in PATH-wal that
// is not yet in the database, as a writer that stopped leaves them.
void leave_log_pending(const std::string &path);
