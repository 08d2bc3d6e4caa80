// The gate's rules: network and memory names, where a file lies and what it is, what a VRT or a .aux.xml names.
#include "sandbox/gate_rules.h"

#include "common/parallel.h"
#include "common/text.h"
#include "format/safe_read.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// What names one of GDAL's network file systems wherever it sits in a name (/vsizip//vsicurl/...,
// /vsiaz_streaming/...).
const char *const network_marks[] = {"/vsicurl", "/vsis3", "/vsigs", "/vsiaz", "/vsiadls", "/vsioss", "/vsiswift", "/vsihdfs",
                                     "/vsiwebhdfs"};

// Where the kernel shows processes, devices and itself: never data; reads there may block, never
// end, or read the process's own memory.
const char *const system_dirs[] = {"/proc", "/sys", "/dev"};

// Bounds on looking into VRTs: how deep they nest, how many one look takes in, how large one is.
constexpr int max_vrt_depth = 16;
constexpr long max_vrt_documents = 4096;
constexpr long long max_vrt_bytes = 1LL << 30;

// The gate's first refusal since the errors were reset: this thread's, and the process's for a
// failure that shows on another thread than the one GDAL opened the file on (readers share sources).
thread_local Refusal refused;
std::mutex shared_lock;
Refusal shared_refusal;

bool scheme_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '.' || c == '-'; }

// "scheme://" anywhere, whatever the scheme (http, ftp, s3, dap4, file, ...); not HDF5:"x.h5"://path,
// nor GDAL's own vrt://PATH?OPTIONS, a local file read through a VRT.
bool has_url(const std::string &s) {
    for (size_t at = s.find("://"); at != std::string::npos; at = s.find("://", at + 1)) {
        size_t from = at;
        while (from > 0 && scheme_char(s[from - 1])) --from;
        const bool vrt = at - from == 3 && EQUALN(s.c_str() + from, "vrt", 3);
        if (from < at && std::isalpha(static_cast<unsigned char>(s[from])) && !vrt) return true;
    }
    return false;
}

bool starts_with(const std::string &s, const char *head) { return s.compare(0, std::strlen(head), head) == 0; }

// `in_driver_name`: `name` is a file a driver's name holds, which the format's own library
// (netCDF, HDF5) opens, unseen by the gate: looked into now, as that library would.
Refusal vet(const std::string &name, Use use, bool in_driver_name = false);

// GDAL's MEM driver takes "MEM:::DATAPOINTER=ADDRESS,..." for a raster at that address in the
// process's own memory: never a file, and a crash when the address is made up.
bool is_memory_name(const std::string &name) {
    const size_t lead = name.find_first_not_of(" \t\r\n");
    return lead != std::string::npos && STARTS_WITH_CI(name.c_str() + lead, "MEM:::");
}

std::string resolved(const std::string &name) {
    char *real = realpath(name.c_str(), nullptr);
    const std::string path = real ? real : name;
    std::free(real);
    return path;
}

// `name` after links. A folder's resolution is kept: realpath reads every part of a name as a
// link, and the tiles of a set, each looked at several times, share one folder.
std::string real_path(const std::string &name) {
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : name.substr(0, slash);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    struct stat st;
    if (slash == 0 || base.empty() || base == "." || base == ".." || lstat(name.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
        return resolved(name);
    static std::mutex lock;
    static std::map<std::string, std::string> folders;
    std::lock_guard<std::mutex> hold(lock);
    auto it = folders.find(dir);
    if (it == folders.end()) {
        if (folders.size() > 4096) folders.clear();
        it = folders.emplace(dir, resolved(dir)).first;
    }
    return it->second + (it->second == "/" ? "" : "/") + base;
}

// Where a name leads among the kernel's directories, after links: "/proc", "/sys", "/dev" or null.
const char *system_dir(const std::string &name) {
    const std::string path = real_path(name);
    for (const char *d : system_dirs)
        if (starts_with(path, d) && (path.size() == std::strlen(d) || path[std::strlen(d)] == '/')) return d;
    return nullptr;
}

// GDAL's XML files that name others: a VRT's sources, the overview file of a .aux.xml.
std::unique_ptr<CPLXMLNode, void (*)(CPLXMLNode *)> parsed(const std::string &text) {
    // GDAL parses the same text; what it finds wrong there it says then.
    CPLErrorStateBackuper keep;
    CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return {CPLParseXMLString(text.c_str()), CPLDestroyXMLNode};
}

// Where files_named() gathers what the gate lets through; null when nothing gathers.
thread_local std::vector<std::string> *gathered = nullptr;

// Bounds one look into VRTs, however it re-enters through the gate.
thread_local int vrt_depth = 0;
thread_local long vrt_documents = 0;

// The sources a VRT document names, each vetted, and its raw bands' files against their layout.
Refusal vet_vrt(const std::string &text, const std::string &vrt_name) {
    const std::string name = vrt_name.empty() ? "a VRT written inside another" : vrt_name;
    if (vrt_depth >= max_vrt_depth) return {name, "nested in VRTs more than " + std::to_string(max_vrt_depth) + " deep"};
    if (vrt_depth == 0) vrt_documents = 0;
    if (++vrt_documents > max_vrt_documents)
        return {name, "one of more than " + std::to_string(max_vrt_documents) + " VRTs behind one input"};
    const auto root = parsed(text);
    const CPLXMLNode *dataset = root ? CPLGetXMLNode(root.get(), "=VRTDataset") : nullptr;
    if (!dataset) return {};
    // GDAL resolves relative names against the VRT's folder; an inline VRT has none.
    const std::string dir = vrt_name.empty() ? "" : CPLGetPath(vrt_name.c_str());
    ++vrt_depth;
    Refusal r;
    // Depth first, without recursion: (node, the raw band it lies in).
    std::vector<std::pair<const CPLXMLNode *, const CPLXMLNode *>> todo = {{dataset, nullptr}};
    while (!r && !todo.empty()) {
        const auto [node, raw_band] = todo.back();
        todo.pop_back();
        for (const CPLXMLNode *n = node->psChild; n && !r; n = n->psNext) {
            if (n->eType != CXT_Element) continue;
            if (EQUAL(n->pszValue, "SourceFilename") || EQUAL(n->pszValue, "SourceDataset")) {
                const char *source = CPLGetXMLValue(n, nullptr, "");
                const bool relative = CPLTestBool(CPLGetXMLValue(n, "relativeToVRT", raw_band ? "1" : "0"));
                const std::string path = relative && !dir.empty() ? CPLProjectRelativeFilename(dir.c_str(), source) : source;
                r = vet(path, raw_band ? Use::raw : Use::dataset);
                if (!r && raw_band) r = short_raw_band(path, dataset, raw_band);
                continue;
            }
            const bool raw = EQUAL(n->pszValue, "VRTRasterBand") && EQUAL(CPLGetXMLValue(n, "subClass", ""), "VRTRawRasterBand");
            todo.emplace_back(n, raw ? n : raw_band);
        }
    }
    --vrt_depth;
    return r;
}

// Verdicts on files already looked into, by name, size, time and file: GDAL opens the same file
// several times (probing, reading, once per reader thread).
std::mutex verdicts_lock;
std::map<std::string, Refusal> verdicts;

void remember(const std::string &key, const Refusal &r) {
    std::lock_guard<std::mutex> lock(verdicts_lock);
    if (verdicts.size() > 4096) verdicts.clear();
    verdicts[key] = r;
}

// The overview file a .aux.xml names, which GDAL opens as a dataset of its own, whatever it is.
Refusal vet_pam(const std::string &text, const std::string &aux_name) {
    const auto root = parsed(text);
    const CPLXMLNode *pam = root ? CPLGetXMLNode(root.get(), "=PAMDataset") : nullptr;
    for (const CPLXMLNode *m = pam ? pam->psChild : nullptr; m; m = m->psNext) {
        if (m->eType != CXT_Element || !EQUAL(m->pszValue, "Metadata") || !EQUAL(CPLGetXMLValue(m, "domain", ""), "OVERVIEWS"))
            continue;
        for (const CPLXMLNode *item = m->psChild; item; item = item->psNext) {
            if (item->eType != CXT_Element || !EQUAL(item->pszValue, "MDI") ||
                !EQUAL(CPLGetXMLValue(item, "key", ""), "OVERVIEW_FILE"))
                continue;
            std::string file = CPLGetXMLValue(item, nullptr, "");
            // GDAL's spelling of "beside the dataset".
            if (STARTS_WITH_CI(file.c_str(), ":::BASE:::"))
                file = CPLFormFilename(CPLGetPath(aux_name.c_str()), file.c_str() + 10, nullptr);
            if (Refusal r = vet(file, Use::dataset)) return r;
        }
    }
    return {};
}

// Files whose HDF5 content GDAL looks for past the head (after a user block), as the HDF5 library
// does: those named like HDF5 or netCDF, and those that say they begin with a user block.
bool searched_for_hdf5(const std::string &name, const unsigned char *head, size_t n) {
    for (const char *ext : {".h5", ".hdf5", ".nc", ".nc4", ".cdf"})
        if (ends_with(name, ext)) return true;
    return n >= 15 && !std::memcmp(head, "<HDF_UserBlock>", 15);
}

// A regular file looked into through `fs` as GDAL would read it: a VRT or a .aux.xml for the files
// it names, HDF5 for data kept elsewhere (searched through the whole file when `deep`), an image
// for what its decoder would take. Verdicts are kept by `key`.
Refusal inspect(const std::string &name, VSIFilesystemHandler *fs, long long size, std::string key, bool deep) {
    key += deep ? "\ndeep" : "";
    {
        std::lock_guard<std::mutex> lock(verdicts_lock);
        if (const auto at = verdicts.find(key); at != verdicts.end()) return at->second;
    }
    struct Closer {
        void operator()(VSIVirtualHandle *h) const {
            h->Close();
            delete h;
        }
    };
    std::unique_ptr<VSIVirtualHandle, Closer> h(fs->Open(name.c_str(), "rb", false, nullptr));
    if (!h) return {};
    unsigned char head[1025];
    const size_t n = h->Read(head, 1, 1024);
    head[n] = 0;
    const char *text = reinterpret_cast<const char *>(head);
    // GDAL takes a VRT by "<VRTDataset" in its first 1024 bytes, and parses a .aux.xml whole,
    // whatever comes first.
    const bool vrt = n > 20 && std::strstr(text, "<VRTDataset");
    const bool pam = !vrt && (ends_with(name, ".aux.xml") || std::strstr(text, "<PAMDataset"));
    Refusal r;
    if ((vrt || pam) && size > max_vrt_bytes) {
        r = {name, std::string(vrt ? "a VRT" : "a .aux.xml") + " of " + grouped(size) + " bytes, more than mvx looks into"};
    } else if (vrt || pam) {
        std::string all(static_cast<size_t>(size), '\0');
        size_t got = 0;
        if (h->Seek(0, SEEK_SET) == 0)
            while (got < all.size()) {
                const size_t k = h->Read(&all[got], 1, all.size() - got);
                if (k == 0) break;
                got += k;
            }
        all.resize(got);
        h.reset();
        r = vrt ? vet_vrt(all, name) : vet_pam(all, name);
    } else if (is_hdf5(*h, size, head, n, deep || searched_for_hdf5(name, head, n))) {
        h.reset();
        r = starts_with(name, "/vsi") ? Refusal{name, "an HDF5 file inside an archive or a compressed file, where mvx cannot "
                                                      "see where its data lies: unpack it first"}
                                      : hdf5_outside(name);
    } else {
        r = vet_image(*h, name, size, head, n);
    }
    remember(key, r);
    return r;
}

// The files a driver's name ("NETCDF:\"x.nc\":z", "HDF5:\"x.h5\"://z", "GTIFF_DIR:2:x.tif") names:
// each quoted part, else what lies before and after each colon of the rest.
std::vector<std::string> named_files(const std::string &name) {
    size_t colon = 0;
    while (colon < name.size() && (std::isalnum(static_cast<unsigned char>(name[colon])) || name[colon] == '_')) ++colon;
    if (colon < 2 || colon >= name.size() || name[colon] != ':') return {};
    const std::string rest = name.substr(colon + 1);
    std::vector<std::string> files;
    for (size_t q = rest.find('"'); q != std::string::npos;) {
        const size_t end = rest.find('"', q + 1);
        if (end == std::string::npos) break;
        files.push_back(rest.substr(q + 1, end - q - 1));
        q = rest.find('"', end + 1);
    }
    if (!files.empty()) return files;
    for (size_t c = rest.find(':'); c != std::string::npos; c = rest.find(':', c + 1)) {
        files.push_back(rest.substr(0, c));
        files.push_back(rest.substr(c + 1));
    }
    files.push_back(rest);
    return files;
}

Refusal vet(const std::string &name, Use use, bool in_driver_name) {
    if (name.empty()) return {};
    if (is_network_name(name)) return {name, "", true};
    if (is_memory_name(name)) return {name, "a MEM::: name, an address in mvx's own memory, not a file"};
    const size_t lead = name.find_first_not_of(" \t\r\n");
    if (lead != std::string::npos && name.compare(lead, 11, "<VRTDataset") == 0) return vet_vrt(name, "");
    if (STARTS_WITH_CI(name.c_str(), "vrt://")) {
        const size_t options = name.find('?', 6);
        return vet(name.substr(6, options == std::string::npos ? std::string::npos : options - 6), use);
    }
    if (starts_with(name, "/vsi")) {
        if (Refusal r = refused_file_system(name)) return r;
        VSIFilesystemHandler *fs = VSIFileManager::GetHandler(name.c_str());
        VSIStatBufL st;
        if (VSIStatL(name.c_str(), &st) != 0) return {};
        if (VSI_ISDIR(st.st_mode)) return use == Use::raw ? Refusal{name, "a directory, not a regular file"} : Refusal{};
        // Inside archives and memory the gate sees nothing: files there are looked into now.
        return inspect(name, fs, st.st_size, name + '\n' + std::to_string(st.st_size) + ':' + std::to_string(st.st_mtime),
                       in_driver_name);
    }
    struct stat st;
    // A local VRT is looked into when GDAL opens it; one named so is looked into now, as GDAL may
    // open it only when its samples are read.
    if (stat(name.c_str(), &st) == 0)
        return vet_local(name, st, use, ends_with(name, ".vrt") || in_driver_name || gathered ? local_files() : nullptr,
                         in_driver_name);
    // A driver's name: the files it names go to the format's own library (netCDF, HDF5), unseen by the gate.
    if (!in_driver_name)
        for (const std::string &file : named_files(name))
            if (Refusal r = vet(file, Use::dataset, true)) return r;
    return {};
}

}  // namespace

void refuse(const Refusal &r) {
    if (!refused) refused = r;
    std::lock_guard<std::mutex> lock(shared_lock);
    if (!shared_refusal) shared_refusal = r;
}

Refusal vet_local(const std::string &name, const struct stat &st, Use use, VSIFilesystemHandler *fs, bool deep) {
    if (const char *d = system_dir(name)) return {name, std::string("under ") + d + ", where mvx reads nothing"};
    if (S_ISDIR(st.st_mode)) {
        if (use == Use::raw) return {name, "a directory, not a regular file"};
        if (gathered) gathered->push_back(name);
        return {};
    }
    if (!S_ISREG(st.st_mode)) return {name, std::string(file_kind(st.st_mode)) + ", not a regular file"};
    if (gathered) gathered->push_back(name);
    if (!fs) return {};
    const std::string key = name + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
                            std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
                            std::to_string(st.st_mtim.tv_nsec);
    return inspect(name, fs, st.st_size, key, deep);
}

bool is_network_name(const std::string &name) {
    if (has_url(name)) return true;
    for (const char *mark : network_marks)
        if (name.find(mark) != std::string::npos) return true;
    return false;
}

Refusal vet_name(const std::string &name) { return vet(name, Use::dataset); }

std::vector<std::string> files_named(const std::vector<std::string> &names) {
    // Each name looked into on its own, a tile set's thousands on every core; gathered in their order.
    std::vector<std::vector<std::string>> each(names.size());
    parallel_each(names.size(), [&](size_t i) {
        gathered = &each[i];
        vet(names[i], Use::dataset);
        gathered = nullptr;
    });
    std::vector<std::string> files;
    for (std::vector<std::string> &f : each) files.insert(files.end(), std::make_move_iterator(f.begin()), std::make_move_iterator(f.end()));
    reset_refusals();
    return files;
}

Refusal last_refusal() {
    if (refused) return refused;
    std::lock_guard<std::mutex> lock(shared_lock);
    return shared_refusal;
}

std::string shown(const std::string &name) {
    std::string s = name.substr(0, 160) + (name.size() > 160 ? "..." : "");
    for (char &c : s)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
    return s;
}

std::string refusal_cause(const Refusal &r, const std::string &input) {
    if (r.network)
        return (r.name == input ? std::string("a network source") : "refers to a network source (" + shown(r.name) + ")") +
               "; mvx reads local files only: download it first";
    if (r.name == input) return "it is " + r.what;
    return "refers to " + shown(r.name) + ", which is " + r.what;
}

void reset_refusals() {
    refused = {};
    std::lock_guard<std::mutex> lock(shared_lock);
    shared_refusal = {};
}
