// HDF5 data kept in other files (netCDF-4 files are HDF5 too): the HDF5 library opens those itself, unseen by the gate.
#include "sandbox/gate_rules.h"

#include "common/text.h"

#include <hdf5.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Objects and links one look walks at most: real files hold tens, large products a few hundred.
constexpr long max_objects = 10000;

struct Walk {
    std::string file;
    long seen = 0;
    Refusal found;

    // False once the walk must stop: a refusal found, or too much to look at.
    bool count() {
        if (++seen > max_objects)
            found = {file, "an HDF5 file of more than " + grouped(max_objects) + " objects and links, more than mvx looks into"};
        return !found;
    }
    void outside(const std::string &what, const char *path, const std::string &other) {
        found = {file, "an HDF5 file whose " + what + " " + shown(path) + " keeps its data in another file (" + shown(other) +
                           "): mvx reads only what a file holds itself"};
    }
};

// Where a dataset's data lies when not in its file: the first external file, or the first source
// file of a virtual dataset other than the file itself ("."). Empty when all is inside.
std::string elsewhere(hid_t dataset) {
    const hid_t plist = H5Dget_create_plist(dataset);
    if (plist < 0) return "";
    std::vector<char> name(4096, '\0');
    std::string found;
    if (H5Pget_external_count(plist) > 0) {
        off_t offset = 0;
        hsize_t bytes = 0;
        if (H5Pget_external(plist, 0, name.size() - 1, name.data(), &offset, &bytes) >= 0) found = name.data();
        if (found.empty()) found = "an external file";
    } else if (H5Pget_layout(plist) == H5D_VIRTUAL) {
        size_t sources = 0;
        H5Pget_virtual_count(plist, &sources);
        for (size_t i = 0; i < sources && found.empty(); ++i)
            if (H5Pget_virtual_filename(plist, i, name.data(), name.size() - 1) < 0 || std::strcmp(name.data(), "."))
                found = name[0] ? name.data() : "another file";
    }
    H5Pclose(plist);
    return found;
}

herr_t each_object(hid_t at, const char *path, const H5O_info_t *info, void *data) {
    Walk &w = *static_cast<Walk *>(data);
    if (!w.count()) return 1;
    if (info->type != H5O_TYPE_DATASET) return 0;
    const hid_t d = H5Dopen2(at, path, H5P_DEFAULT);
    if (d < 0) return 0;
    const std::string other = elsewhere(d);
    H5Dclose(d);
    if (!other.empty()) w.outside("dataset", path, other);
    return w.found ? 1 : 0;
}

herr_t each_link(hid_t at, const char *path, const H5L_info_t *info, void *data) {
    Walk &w = *static_cast<Walk *>(data);
    if (!w.count()) return 1;
    if (info->type != H5L_TYPE_EXTERNAL) return 0;
    std::string other = "another file";
    if (info->u.val_size > 0 && info->u.val_size < 65536) {
        std::vector<char> value(info->u.val_size);
        const char *file = nullptr, *object = nullptr;
        if (H5Lget_val(at, path, value.data(), value.size(), H5P_DEFAULT) >= 0 &&
            H5Lunpack_elink_val(value.data(), value.size(), nullptr, &file, &object) >= 0 && file)
            other = file;
    }
    w.outside("link", path, other);
    return 1;
}

}  // namespace

Refusal hdf5_outside(const std::string &path) {
    // The library is thread-safe; one look at a time keeps its error reporting, set per thread, off.
    static std::mutex one_at_a_time;
    std::lock_guard<std::mutex> lock(one_at_a_time);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Walk w;
    w.file = path;
    const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
    H5Pset_file_locking(access, false, true);
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, access);
    H5Pclose(access);
    if (file < 0) return {path, "an HDF5 file that the HDF5 library cannot open"};
    if (H5Ovisit2(file, H5_INDEX_NAME, H5_ITER_NATIVE, each_object, &w, H5O_INFO_BASIC) < 0 && !w.found)
        w.found = {path, "an HDF5 file whose objects the HDF5 library cannot list"};
    if (!w.found && H5Lvisit(file, H5_INDEX_NAME, H5_ITER_NATIVE, each_link, &w) < 0 && !w.found)
        w.found = {path, "an HDF5 file whose links the HDF5 library cannot list"};
    H5Fclose(file);
    return w.found;
}
