// GDAL set-up: error capture, the block cache bound, the gate before every file, no internet.
#include "gdal_env.h"

#include "fichier.h"
#include "text.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <cpl_vsi_virtual.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>
#include <rawdataset.h>
#include <seccomp.h>

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

// Block cache for all datasets together, when GDAL_CACHEMAX does not say otherwise: enough for
// a few rows of tiles of the largest inputs on each thread, small beside the map itself.
constexpr GIntBig cache_bytes = 96LL << 20;

const char *const network_drivers[] = {"WCS",    "WMS",   "WMTS",  "HTTP",        "PLMOSAIC", "PLSCENES",
                                       "EEDAI",  "EEDA",  "DAAS",  "OGCAPI",      "STACTA",   "STACIT",
                                       "NGW",    "PostGISRaster", "KMLSUPEROVERLAY"};

// GDAL's network file systems in every spelling it routes, refused whether this build has them or
// not (GDAL lists /vsicurl? nowhere, yet sends it to /vsicurl/'s handler).
const char *const network_prefixes[] = {"/vsicurl/", "/vsicurl?", "/vsicurl_streaming/", "/vsis3/", "/vsis3_streaming/",
                                        "/vsigs/",   "/vsigs_streaming/", "/vsiaz/", "/vsiaz_streaming/", "/vsiadls/",
                                        "/vsioss/",  "/vsioss_streaming/", "/vsiswift/", "/vsiswift_streaming/",
                                        "/vsiwebhdfs/", "/vsihdfs/"};
// What names one of them wherever it sits in a name (/vsizip//vsicurl/..., /vsiaz_streaming/...).
const char *const network_marks[] = {"/vsicurl", "/vsis3", "/vsigs", "/vsiaz", "/vsiadls", "/vsioss", "/vsiswift", "/vsihdfs",
                                     "/vsiwebhdfs"};

// The file systems over local files and memory: archives, compressed files, parts of files. Any
// other GDAL has (standard input, and whatever a later GDAL adds) is refused.
const char *const local_prefixes[] = {"/vsimem/", "/vsizip/", "/vsitar/", "/vsigzip/", "/vsisubfile/", "/vsisparse/",
                                      "/vsicrypt/", "/vsistdout/", "/vsistdout_redirect/", "/vsi7z/", "/vsirar/", "/vsicached?"};

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

void refuse(const Refusal &r) {
    if (!refused) refused = r;
    std::lock_guard<std::mutex> lock(shared_lock);
    if (!shared_refusal) shared_refusal = r;
}

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

// In place of a file system mvx never reads through: every open and stat fails, and is recorded.
class Refuser final : public VSIFilesystemHandler {
public:
    Refuser(std::string what, bool network) : what_(std::move(what)), network_(network) {}
    VSIVirtualHandle *Open(const char *name, const char *, bool, CSLConstList) override {
        refuse(refusal(name));
        errno = EACCES;
        return nullptr;
    }
    int Stat(const char *name, VSIStatBufL *, int) override {
        refuse(refusal(name));
        errno = EACCES;
        return -1;
    }
    Refusal refusal(const std::string &name) const { return {name, what_, network_}; }

private:
    std::string what_;
    bool network_;
};

// How a name is used: as a dataset (folders are formats too), or as the file a raw band reads.
enum class Use { dataset, raw };

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

// The byte after the last one a raw layout reads (offset, steps between pixels, lines and bands,
// counts, bytes a sample); false when it reaches before the file's start or past any file size.
bool raw_end(long long offset, long long pixel, long long line, long long band, long long w, long long h, long long bands,
             int word, long long &end) {
    __int128 lo = offset, hi = offset;
    for (const auto &[step, n] : {std::pair{pixel, w}, std::pair{line, h}, std::pair{band, bands}}) {
        const __int128 span = static_cast<__int128>(step) * (n - 1);
        (span < 0 ? lo : hi) += span;
    }
    hi += word;
    if (lo < 0 || hi > LLONG_MAX) return false;
    end = static_cast<long long>(hi);
    return true;
}

// The raw file `path` of a layout against its size: short is refused, naming the file.
Refusal short_raw(const std::string &path, long long offset, long long pixel, long long line, long long band,
                  long long w, long long h, long long bands, int word) {
    long long end = 0;
    if (!raw_end(offset, pixel, line, band, w, h, bands, word, end))
        return {path, "read by a raw layout that reaches outside any file"};
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) != 0) return {};  // GDAL says it is missing
    if (st.st_size < end)
        return {path, "cut short: " + grouped(st.st_size) + " bytes where its raw layout needs " + grouped(end)};
    return {};
}

// A VRT's raw band against its file.
Refusal short_raw_band(const std::string &path, const CPLXMLNode *dataset, const CPLXMLNode *band) {
    const long long w = std::atoll(CPLGetXMLValue(dataset, "rasterXSize", "0"));
    const long long h = std::atoll(CPLGetXMLValue(dataset, "rasterYSize", "0"));
    const int word = GDALGetDataTypeSizeBytes(GDALGetDataTypeByName(CPLGetXMLValue(band, "dataType", "Float32")));
    if (w <= 0 || h <= 0 || word <= 0) return {};  // GDAL refuses the VRT itself
    const unsigned long long offset = std::strtoull(CPLGetXMLValue(band, "ImageOffset", "0"), nullptr, 10);
    const char *pixel_text = CPLGetXMLValue(band, "PixelOffset", nullptr), *line_text = CPLGetXMLValue(band, "LineOffset", nullptr);
    const long long pixel = pixel_text ? std::atoi(pixel_text) : word;
    const long long line = line_text ? std::atoi(line_text) : pixel * w;
    if (offset > static_cast<unsigned long long>(LLONG_MAX)) return {path, "read by a raw layout that reaches outside any file"};
    return short_raw(path, static_cast<long long>(offset), pixel, line, 0, w, h, 1, word);
}

// GDAL's own local file system, behind the gate.
VSIFilesystemHandler *plain_files = nullptr;

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

// A local name that exists: where it lies and what it is; a regular file is looked into through
// `fs` when given (the gate, as GDAL opens it).
Refusal vet_local(const std::string &name, const struct stat &st, Use use, VSIFilesystemHandler *fs) {
    if (const char *d = system_dir(name)) return {name, std::string("under ") + d + ", where mvx reads nothing"};
    if (S_ISDIR(st.st_mode)) return use == Use::raw ? Refusal{name, "a directory, not a regular file"} : Refusal{};
    if (!S_ISREG(st.st_mode)) return {name, std::string(genre_fichier(st.st_mode)) + ", not a regular file"};
    if (!fs) return {};
    const std::string key = name + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
                            std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
                            std::to_string(st.st_mtim.tv_nsec);
    return inspect(name, fs, st.st_size, key);
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
        VSIFilesystemHandler *fs = VSIFileManager::GetHandler(name.c_str());
        if (const auto *r = dynamic_cast<const Refuser *>(fs)) return r->refusal(name);
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
        return vet_local(name, st, use, ends_with(name, ".vrt") ? plain_files : nullptr);
    // A driver's name: the files it names go to the format's own library (netCDF, HDF5), unseen by the gate.
    if (driver_names)
        for (const std::string &file : named_files(name))
            if (Refusal r = vet(file, Use::dataset, false)) return r;
    return {};
}

// GDAL's local file system behind the gate: a file opened to be read must pass vet_local() (a
// directory fails quietly, as GDAL probes folders for the formats that are folders); all else
// goes straight through.
class Gate final : public VSIFilesystemHandler {
public:
    explicit Gate(VSIFilesystemHandler *local) : local_(local) {}

    VSIVirtualHandle *Open(const char *name, const char *access, bool set_error, CSLConstList options) override {
        if (std::strchr(access, 'r')) {
            struct stat st;
            Refusal r;
            if (is_network_name(name)) {
                r = {name, "", true};
            } else if (stat(name, &st) == 0) {
                if (S_ISDIR(st.st_mode)) {
                    errno = EISDIR;
                    return nullptr;
                }
                r = vet_local(name, st, Use::dataset, local_);
            }
            if (r) {
                refuse(r);
                errno = EACCES;
                return nullptr;
            }
        }
        return local_->Open(name, access, set_error, options);
    }
    int Stat(const char *name, VSIStatBufL *st, int flags) override { return local_->Stat(name, st, flags); }
    int Unlink(const char *name) override { return local_->Unlink(name); }
    int *UnlinkBatch(CSLConstList files) override { return local_->UnlinkBatch(files); }
    int Mkdir(const char *name, long mode) override { return local_->Mkdir(name, mode); }
    int Rmdir(const char *name) override { return local_->Rmdir(name); }
    int RmdirRecursive(const char *name) override { return local_->RmdirRecursive(name); }
    char **ReadDir(const char *name) override { return local_->ReadDir(name); }
    char **ReadDirEx(const char *name, int max) override { return local_->ReadDirEx(name, max); }
    char **SiblingFiles(const char *name) override { return local_->SiblingFiles(name); }
    int Rename(const char *from, const char *to) override { return local_->Rename(from, to); }
    int IsCaseSensitive(const char *name) override { return local_->IsCaseSensitive(name); }
    GIntBig GetDiskFreeSpace(const char *name) override { return local_->GetDiskFreeSpace(name); }
    int SupportsSparseFiles(const char *name) override { return local_->SupportsSparseFiles(name); }
    int HasOptimizedReadMultiRange(const char *name) override { return local_->HasOptimizedReadMultiRange(name); }
    const char *GetActualURL(const char *name) override { return local_->GetActualURL(name); }
    const char *GetOptions() override { return local_->GetOptions(); }
    char *GetSignedURL(const char *name, CSLConstList options) override { return local_->GetSignedURL(name, options); }
    bool Sync(const char *from, const char *to, const char *const *options, GDALProgressFunc progress, void *data,
              char ***outputs) override {
        return local_->Sync(from, to, options, progress, data, outputs);
    }
    VSIDIR *OpenDir(const char *name, int depth, const char *const *options) override {
        return local_->OpenDir(name, depth, options);
    }
    char **GetFileMetadata(const char *name, const char *domain, CSLConstList options) override {
        return local_->GetFileMetadata(name, domain, options);
    }
    bool SetFileMetadata(const char *name, CSLConstList metadata, const char *domain, CSLConstList options) override {
        return local_->SetFileMetadata(name, metadata, domain, options);
    }
    bool AbortPendingUploads(const char *name) override { return local_->AbortPendingUploads(name); }
    std::string GetStreamingFilename(const std::string &name) const override { return local_->GetStreamingFilename(name); }
    bool IsLocal(const char *name) override { return local_->IsLocal(name); }
    bool SupportsSequentialWrite(const char *name, bool temp) override { return local_->SupportsSequentialWrite(name, temp); }
    bool SupportsRandomWrite(const char *name, bool temp) override { return local_->SupportsRandomWrite(name, temp); }
    bool SupportsRead(const char *name) override { return local_->SupportsRead(name); }

private:
    VSIFilesystemHandler *local_;
};

void CPL_STDCALL quiet(CPLErr, CPLErrorNum, const char *) {}

}  // namespace

void gdal_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        for (const char *name : network_drivers)
            if (GDALDriverH d = GDALGetDriverByName(name)) {
                GDALDeregisterDriver(d);
                GDALDestroyDriver(d);
            }
        // GDAL forgets the handlers it replaces; held here (never destroyed) they stay reachable, not leaked.
        static auto *replaced = new std::vector<VSIFilesystemHandler *>;
        std::set<std::string> prefixes(std::begin(network_prefixes), std::end(network_prefixes));
        char **installed = VSIFileManager::GetPrefixes();
        for (int i = 0; installed && installed[i]; ++i) prefixes.insert(installed[i]);
        CSLDestroy(installed);
        const std::set<std::string> local(std::begin(local_prefixes), std::end(local_prefixes));
        for (const std::string &prefix : prefixes) {
            if (local.count(prefix)) continue;
            const bool network = is_network_name(prefix);
            replaced->push_back(VSIFileManager::GetHandler(prefix.c_str()));
            VSIFileManager::InstallHandler(prefix, new Refuser(network ? "" : "read through " + prefix + ", not a local file", network));
        }
        plain_files = VSIFileManager::GetHandler(".");
        replaced->push_back(plain_files);
        VSIFileManager::InstallHandler("", new Gate(plain_files));
        OSRSetPROJEnableNetwork(FALSE);
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(cache_bytes);
        // Every open would otherwise list the file's whole directory to find its companions: with
        // thousands of tiles in one directory, that is most of the work. Asked one by one instead.
        if (!CPLGetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr))
            CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
        // Messages are read back with gdal_reason(); on the terminal they would repeat ours.
        CPLSetErrorHandler(quiet);
    });
}

void forbid_internet() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) return;
    // Every thread, those a library may have started already included.
    bool ok = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    for (const int family : {AF_INET, AF_INET6}) {
        // socket()'s first argument, an int: its low 32 bits.
        const scmp_arg_cmp is_family = {0, SCMP_CMP_MASKED_EQ, 0xffffffffULL, static_cast<scmp_datum_t>(family)};
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1, is_family) == 0;
    }
    if (ok) seccomp_load(ctx);
    seccomp_release(ctx);
}

std::string gdal_reason() {
    if (const Refusal refusal = last_refusal()) return refusal_cause(refusal, "");
    std::string r = CPLGetLastErrorType() >= CE_Failure ? CPLGetLastErrorMsg() : "";
    for (char &c : r)
        if (c == '\n' || c == '\r') c = ' ';
    // Our messages name the file already; GDAL's name it again, and where in its blocks it was.
    if (const size_t at = r.find("IReadBlock failed at X offset "); at != std::string::npos) {
        const size_t colon = r.find(": ", at);
        r.erase(at, colon == std::string::npos ? std::string::npos : colon + 2 - at);
    }
    // "NAME: ..." or "NAME, band N: ...", where NAME looks like a path.
    const size_t colon = r.find(": "), band = r.find(", band ");
    const size_t end = std::min(colon, band);
    if (colon != std::string::npos && r.find(' ') >= end && r.substr(0, end).find_first_of("./") != std::string::npos)
        r.erase(0, colon + 2);
    if (!r.empty() && r[0] == '`' && r.find("' not recognized as") != std::string::npos) r = "not in any raster format GDAL reads";
    while (!r.empty() && (r.back() == ' ' || r.back() == '.')) r.pop_back();
    return r;
}

std::string gdal_reason_or(const char *otherwise) {
    const std::string r = gdal_reason();
    return r.empty() ? otherwise : r;
}

bool is_network_name(const std::string &name) {
    if (has_url(name)) return true;
    for (const char *mark : network_marks)
        if (name.find(mark) != std::string::npos) return true;
    return false;
}

Refusal vet_name(const std::string &name) {
    gdal_setup();
    return vet(name, Use::dataset);
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

Refusal short_raw_data(GDALDatasetH ds) {
    GDALDataset *d = GDALDataset::FromHandle(ds);
    const long long w = d->GetRasterXSize(), h = d->GetRasterYSize();
    GDALDataset::RawBinaryLayout layout;
    if (d->GetRasterCount() > 0 && dynamic_cast<RawDataset *>(d) && d->GetRawBinaryLayout(layout) &&
        !layout.osRawFilename.empty())
        return short_raw(layout.osRawFilename, static_cast<long long>(layout.nImageOffset), layout.nPixelOffset,
                         layout.nLineOffset, layout.nBandOffset, w, h, d->GetRasterCount(),
                         GDALGetDataTypeSizeBytes(layout.eDataType));
    // Bands that GDAL cannot describe as one layout of a named file: each against its own file.
    for (int b = 1; b <= d->GetRasterCount(); ++b) {
        auto *raw = dynamic_cast<RawRasterBand *>(d->GetRasterBand(b));
        VSILFILE *fp = raw ? raw->GetFPL() : nullptr;
        if (!fp) continue;
        const vsi_l_offset at = VSIFTellL(fp);
        VSIFSeekL(fp, 0, SEEK_END);
        const long long size = static_cast<long long>(VSIFTellL(fp));
        VSIFSeekL(fp, at, SEEK_SET);
        long long end = 0;
        const int word = GDALGetDataTypeSizeBytes(raw->GetRasterDataType());
        if (!raw_end(static_cast<long long>(raw->GetImgOffset()), raw->GetPixelOffset(), raw->GetLineOffset(), 0, w, h, 1,
                     word, end))
            return {d->GetDescription(), "read by a raw layout that reaches outside any file"};
        if (size < end)
            return {d->GetDescription(), "cut short: " + grouped(size) + " bytes where its raw layout needs " + grouped(end)};
    }
    return {};
}

void gdal_reset_errors() {
    CPLErrorReset();
    refused = {};
    std::lock_guard<std::mutex> lock(shared_lock);
    shared_refusal = {};
}

Dataset open_dataset(const std::string &name) {
    gdal_reset_errors();
    Dataset ds(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr, nullptr));
    // GDAL 3.6 returns nothing but NoData from the first read through a VRT's implicit overviews
    // (those its sources have); one sample read from each overview first sets them up.
    GDALDriverH d = ds ? GDALGetDatasetDriver(ds.get()) : nullptr;
    if (d && !std::strcmp(GDALGetDriverShortName(d), "VRT"))
        for (int b = 1; b <= GDALGetRasterCount(ds.get()); ++b) {
            GDALRasterBandH band = GDALGetRasterBand(ds.get(), b);
            for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
                float sample;
                if (GDALRasterIO(GDALGetOverview(band, i), GF_Read, 0, 0, 1, 1, &sample, 1, 1, GDT_Float32, 0, 0) != CE_None)
                    break;
            }
        }
    // Whatever the gate refused on the way (a source, a companion file) fails the open, saying why.
    if (last_refusal()) ds.reset();
    if (ds) gdal_reset_errors();
    return ds;
}

MemFile::MemFile(const char *tag) {
    static std::atomic<unsigned> next{0};
    name_ = "/vsimem/mvx/" + std::to_string(next++) + "-" + tag;
}

MemFile::~MemFile() { VSIUnlink(name_.c_str()); }

void MemFile::write(const std::string &text) const {
    if (VSILFILE *f = VSIFOpenL(name_.c_str(), "wb")) {
        VSIFWriteL(text.data(), 1, text.size(), f);
        VSIFCloseL(f);
    }
}

std::string xml_escaped(const std::string &s) {
    std::string r;
    for (char c : s) {
        switch (c) {
        case '&': r += "&amp;"; break;
        case '<': r += "&lt;"; break;
        case '>': r += "&gt;"; break;
        case '"': r += "&quot;"; break;
        default: r += c;
        }
    }
    return r;
}

namespace {

template <class Make>
std::string to_vrt(const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned, Make make) {
    std::vector<char *> argv;
    for (const char *a : {"-of", "VRT"}) argv.push_back(const_cast<char *>(a));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    auto vrt = std::make_unique<MemFile>("made.vrt");
    gdal_reset_errors();
    if (!Dataset(make(vrt->name().c_str(), argv.data()))) return "";
    std::string name = vrt->name();
    owned.push_back(std::move(vrt));
    return name;
}

}  // namespace

std::string translate_to_vrt(GDALDatasetH in, const std::vector<std::string> &args,
                             std::vector<std::unique_ptr<MemFile>> &owned) {
    return to_vrt(args, owned, [&](const char *name, char **argv) {
        GDALTranslateOptions *o = GDALTranslateOptionsNew(argv, nullptr);
        GDALDatasetH out = GDALTranslate(name, in, o, nullptr);
        GDALTranslateOptionsFree(o);
        return out;
    });
}

std::string warp_to_vrt(GDALDatasetH in, const std::vector<std::string> &args, std::vector<std::unique_ptr<MemFile>> &owned) {
    return to_vrt(args, owned, [&](const char *name, char **argv) {
        GDALWarpAppOptions *o = GDALWarpAppOptionsNew(argv, nullptr);
        int usage = 0;
        GDALDatasetH src = in;
        GDALDatasetH out = GDALWarp(name, nullptr, 1, &src, o, &usage);
        GDALWarpAppOptionsFree(o);
        return out;
    });
}

bool has_geotransform(GDALDatasetH ds, double gt[6]) {
    if (GDALGetGeoTransform(ds, gt) != CE_None) return false;
    return !(gt[0] == 0 && gt[1] == 1 && gt[2] == 0 && gt[3] == 0 && gt[4] == 0 && gt[5] == 1);
}

SpatialRef::SpatialRef(const std::string &wkt) {
    if (wkt.empty()) return;
    h_ = OSRNewSpatialReference(wkt.c_str());
    if (h_) OSRSetAxisMappingStrategy(h_, OAMS_TRADITIONAL_GIS_ORDER);
}

SpatialRef SpatialRef::wgs84() {
    SpatialRef s("");
    s.h_ = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(s.h_, "WGS84");
    OSRSetAxisMappingStrategy(s.h_, OAMS_TRADITIONAL_GIS_ORDER);
    return s;
}

SpatialRef::~SpatialRef() {
    if (h_) OSRDestroySpatialReference(h_);
}

bool transform_box(const SpatialRef &from, const SpatialRef &to, const double in[4], double out[4]) {
    if (!from.get() || !to.get()) return false;
    OGRCoordinateTransformationH ct = OCTNewCoordinateTransformation(from.get(), to.get());
    const bool ok = ct && OCTTransformBounds(ct, in[0], in[1], in[2], in[3], &out[0], &out[1], &out[2], &out[3], 21);
    if (ct) OCTDestroyCoordinateTransformation(ct);
    return ok;
}

std::string crs_name(const std::string &wkt) {
    const SpatialRef s(wkt);
    if (!s.get()) return "";
    const char *auth = OSRGetAuthorityName(s.get(), nullptr), *code = OSRGetAuthorityCode(s.get(), nullptr);
    if (auth && code) return std::string(auth) + ":" + code;
    const char *name = OSRGetName(s.get());
    return name ? name : "unnamed";
}

bool same_crs(const std::string &a, const std::string &b) {
    if (a == b) return true;
    const SpatialRef sa(a), sb(b);
    const char *opts[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
    return sa.get() && sb.get() && OSRIsSameEx(sa.get(), sb.get(), opts);
}
