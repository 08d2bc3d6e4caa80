// The gate's rules: network names, where a file lies and what it is, and what a VRT or a PNG holds.
#include "gate_rules.h"

#include "fichier.h"
#include "text.h"

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

// A PNG decoder allocates a chunk's whole stated length before reading it, but for the image data
// it streams: any other chunk larger than this, or running past the file's end, is refused.
constexpr long long max_png_chunk = 16LL << 20;

// The gate's first refusal since the errors were reset: this thread's, and the process's for a
// failure that shows on another thread than the one GDAL opened the file on (readers share sources).
thread_local Refusal refused;
std::mutex shared_lock;
Refusal shared_refusal;

bool scheme_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '.' || c == '-'; }

// "scheme://" anywhere, whatever the scheme (http, ftp, s3, dap4, file, ...); not HDF5:"x.h5"://path.
bool has_url(const std::string &s) {
    for (size_t at = s.find("://"); at != std::string::npos; at = s.find("://", at + 1)) {
        size_t from = at;
        while (from > 0 && scheme_char(s[from - 1])) --from;
        if (from < at && std::isalpha(static_cast<unsigned char>(s[from]))) return true;
    }
    return false;
}

bool starts_with(const std::string &s, const char *head) { return s.compare(0, std::strlen(head), head) == 0; }

// `driver_names`: also the files a driver's name holds (not those of a part of one).
Refusal vet(const std::string &name, Use use, bool driver_names = true);

// Where a name leads among the kernel's directories, after links: "/proc", "/sys", "/dev" or null.
const char *system_dir(const std::string &name) {
    char *real = realpath(name.c_str(), nullptr);
    const std::string path = real ? real : name;
    std::free(real);
    for (const char *d : system_dirs)
        if (starts_with(path, d) && (path.size() == std::strlen(d) || path[std::strlen(d)] == '/')) return d;
    return nullptr;
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
    std::unique_ptr<CPLXMLNode, void (*)(CPLXMLNode *)> root(nullptr, CPLDestroyXMLNode);
    {
        // GDAL parses the same text; what it finds wrong there it says then.
        CPLErrorStateBackuper keep;
        CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        root.reset(CPLParseXMLString(text.c_str()));
    }
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

// Verdicts on VRT documents already looked into, by name, size, time and file: GDAL opens the
// same VRT several times (probing, reading, once per reader thread).
std::mutex verdicts_lock;
std::map<std::string, Refusal> verdicts;

void remember(const std::string &key, const Refusal &r) {
    std::lock_guard<std::mutex> lock(verdicts_lock);
    if (verdicts.size() > 4096) verdicts.clear();
    verdicts[key] = r;
}

// A PNG's chunks other than image data, from their headers alone: each must end within the file
// and be of a size worth reading. A file cut short in its image data is left to the decoder,
// which says in which row.
Refusal vet_png(VSIVirtualHandle &h, const std::string &name, long long size) {
    for (long long at = 8; at + 12 <= size;) {
        unsigned char b[8];
        if (h.Seek(static_cast<vsi_l_offset>(at), SEEK_SET) != 0 || h.Read(b, 1, 8) != 8) return {};
        const long long length = (static_cast<long long>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        const std::string type(reinterpret_cast<const char *>(b + 4), 4);
        // A type of other than four letters is the decoder's to refuse, before it allocates.
        if (type == "IEND" || !std::all_of(type.begin(), type.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
            break;
        if (type != "IDAT") {
            const std::string what = "a PNG whose " + type + " chunk at byte " + grouped(at) + " claims " + grouped(length) + " bytes";
            if (at + 12 + length > size) return {name, what + ", past the end of the file (" + grouped(size) + " bytes)"};
            if (length > max_png_chunk) return {name, what + ", more than mvx reads"};
        }
        at += 12 + length;
    }
    return {};
}

// A regular file that may be a VRT (GDAL's test: "<VRTDataset" in its first 1024 bytes), looked
// into through `fs`.
Refusal inspect(const std::string &name, VSIFilesystemHandler *fs, long long size, const std::string &key) {
    struct Closer {
        void operator()(VSIVirtualHandle *h) const {
            h->Close();
            delete h;
        }
    };
    std::unique_ptr<VSIVirtualHandle, Closer> h(fs->Open(name.c_str(), "rb", false, nullptr));
    if (!h) return {};
    char head[1025];
    const size_t n = h->Read(head, 1, 1024);
    head[n] = 0;
    const bool png = n >= 8 && !std::memcmp(head, "\x89PNG\r\n\x1a\n", 8);
    if (!png && (n <= 20 || !std::strstr(head, "<VRTDataset"))) return {};
    {
        std::lock_guard<std::mutex> lock(verdicts_lock);
        if (const auto at = verdicts.find(key); at != verdicts.end()) return at->second;
    }
    if (png) {
        const Refusal r = vet_png(*h, name, size);
        remember(key, r);
        return r;
    }
    if (size > max_vrt_bytes) return {name, "a VRT of " + grouped(size) + " bytes, more than mvx looks into"};
    std::string text(static_cast<size_t>(size), '\0');
    size_t got = 0;
    if (h->Seek(0, SEEK_SET) == 0)
        while (got < text.size()) {
            const size_t k = h->Read(&text[got], 1, text.size() - got);
            if (k == 0) break;
            got += k;
        }
    text.resize(got);
    h.reset();
    const Refusal r = vet_vrt(text, name);
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

Refusal vet(const std::string &name, Use use, bool driver_names) {
    if (name.empty()) return {};
    if (is_network_name(name)) return {name, "", true};
    const size_t lead = name.find_first_not_of(" \t\r\n");
    if (lead != std::string::npos && name.compare(lead, 11, "<VRTDataset") == 0) return vet_vrt(name, "");
    if (starts_with(name, "/vsi")) {
        if (Refusal r = refused_file_system(name)) return r;
        VSIFilesystemHandler *fs = VSIFileManager::GetHandler(name.c_str());
        VSIStatBufL st;
        if (VSIStatL(name.c_str(), &st) != 0) return {};
        if (VSI_ISDIR(st.st_mode)) return use == Use::raw ? Refusal{name, "a directory, not a regular file"} : Refusal{};
        // Inside archives and memory the gate sees nothing: VRTs there are looked into now.
        return inspect(name, fs, st.st_size, name + '\n' + std::to_string(st.st_size) + ':' + std::to_string(st.st_mtime));
    }
    struct stat st;
    // A local VRT is looked into when GDAL opens it; one named so is looked into now, as GDAL may
    // open it only when its samples are read.
    if (stat(name.c_str(), &st) == 0)
        return vet_local(name, st, use, ends_with(name, ".vrt") || gathered ? local_files() : nullptr);
    // A driver's name: the files it names go to the format's own library (netCDF, HDF5), unseen by the gate.
    if (driver_names)
        for (const std::string &file : named_files(name))
            if (Refusal r = vet(file, Use::dataset, false)) return r;
    return {};
}

}  // namespace

void refuse(const Refusal &r) {
    if (!refused) refused = r;
    std::lock_guard<std::mutex> lock(shared_lock);
    if (!shared_refusal) shared_refusal = r;
}

Refusal vet_local(const std::string &name, const struct stat &st, Use use, VSIFilesystemHandler *fs) {
    if (const char *d = system_dir(name)) return {name, std::string("under ") + d + ", where mvx reads nothing"};
    if (S_ISDIR(st.st_mode)) {
        if (use == Use::raw) return {name, "a directory, not a regular file"};
        if (gathered) gathered->push_back(name);
        return {};
    }
    if (!S_ISREG(st.st_mode)) return {name, std::string(genre_fichier(st.st_mode)) + ", not a regular file"};
    if (gathered) gathered->push_back(name);
    if (!fs) return {};
    const std::string key = name + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
                            std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
                            std::to_string(st.st_mtim.tv_nsec);
    return inspect(name, fs, st.st_size, key);
}

bool is_network_name(const std::string &name) {
    if (has_url(name)) return true;
    for (const char *mark : network_marks)
        if (name.find(mark) != std::string::npos) return true;
    return false;
}

Refusal vet_name(const std::string &name) { return vet(name, Use::dataset); }

std::vector<std::string> files_named(const std::vector<std::string> &names) {
    std::vector<std::string> files;
    gathered = &files;
    for (const std::string &name : names) vet(name, Use::dataset);
    gathered = nullptr;
    reset_refusals();
    return files;
}

Refusal last_refusal() {
    if (refused) return refused;
    std::lock_guard<std::mutex> lock(shared_lock);
    return shared_refusal;
}

std::string refusal_cause(const Refusal &r, const std::string &input) {
    // One line, of a readable length, whatever the name holds.
    std::string name = r.name.substr(0, 160) + (r.name.size() > 160 ? "..." : "");
    for (char &c : name)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
    if (r.network) return "refers to a network source (" + name + "); mvx reads local files only: download it first";
    if (r.name == input) return "it is " + r.what;
    return "refers to " + name + ", which is " + r.what;
}

void reset_refusals() {
    refused = {};
    std::lock_guard<std::mutex> lock(shared_lock);
    shared_refusal = {};
}
