// HDF5 files with their data inside or in another file, and SQLite databases with a pending log.
#include "tests/support/containers.h"

#include <hdf5.h>
#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

void write_hdf5(const std::string &path, const std::vector<std::string> &datasets, int w, int h,
                const std::vector<float> &values, const std::string &external, unsigned long long userblock) {
    const hid_t layout = H5Pcreate(H5P_FILE_CREATE);
    if (userblock) H5Pset_userblock(layout, userblock);
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, layout, H5P_DEFAULT);
    H5Pclose(layout);
    if (file < 0) throw std::runtime_error("cannot create " + path);
    const hsize_t dims[2] = {static_cast<hsize_t>(h), static_cast<hsize_t>(w)};
    const hid_t space = H5Screate_simple(2, dims, nullptr);
    const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
    if (!external.empty()) H5Pset_external(create, external.c_str(), 0, 4ull * w * h);
    const hid_t links = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(links, 1);
    std::string failed;
    for (const std::string &dataset : datasets) {
        const hid_t d = H5Dcreate2(file, dataset.c_str(), H5T_IEEE_F32LE, space, links, create, H5P_DEFAULT);
        if (d < 0 || (external.empty() && H5Dwrite(d, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0))
            failed = dataset;
        if (d >= 0) H5Dclose(d);
    }
    H5Pclose(links);
    H5Pclose(create);
    H5Sclose(space);
    H5Fclose(file);
    if (!failed.empty()) throw std::runtime_error("cannot write " + failed + " in " + path);
}

void leave_log_pending(const std::string &path) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE pending(x); INSERT INTO pending VALUES (1);", nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot write a log beside " + path);
    }
    // Closing the last connection writes the log into the database: copies taken before keep it apart.
    namespace fs = std::filesystem;
    fs::copy_file(path, path + ".kept", fs::copy_options::overwrite_existing);
    fs::copy_file(path + "-wal", path + ".kept-wal", fs::copy_options::overwrite_existing);
    sqlite3_close(db);
    fs::rename(path + ".kept", path);
    fs::rename(path + ".kept-wal", path + "-wal");
}
