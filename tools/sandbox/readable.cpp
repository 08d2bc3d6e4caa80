// The reader's readable set: what the gate lets through, companions found by name, GDAL's and PROJ's data.
#include "sandbox/readable.h"

#include "common/parallel.h"
#include "common/text.h"
#include "sandbox/gate.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <ogr_srs_api.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A folder's entries, lower-cased and sorted with their real names, listed once however many of
// its files are inputs.
class Listings {
public:
    const std::vector<std::pair<std::string, std::string>> &of(const std::string &dir) {
        auto [it, added] = cache_.try_emplace(dir);
        if (!added) return it->second;
        if (DIR *d = opendir(dir.c_str())) {
            while (const dirent *e = readdir(d))
                if (e->d_name[0] != '.') it->second.emplace_back(lower(e->d_name), e->d_name);
            closedir(d);
        }
        std::sort(it->second.begin(), it->second.end());
        return it->second;
    }

private:
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> cache_;
};

// The files beside `path` that GDAL may read with it: those named like it up to its extension;
// their names alone to `names`, unless it is an ArcInfo grid's.
void add_companions(const std::string &path, Listings &listings, std::vector<std::string> &out, Siblings *names) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (ends_with(base, ".adf")) {  // an ArcInfo grid's files share a folder, not a name
        out.push_back(dir.empty() ? "." : dir);
        return;
    }
    const size_t dot = base.find('.');
    const std::string stem = lower(dot == std::string::npos ? base : base.substr(0, dot));
    if (stem.empty()) return;
    const auto &entries = listings.of(dir.empty() ? "." : dir);
    for (auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(stem, std::string()));
         it != entries.end() && it->first.compare(0, stem.size(), stem) == 0; ++it) {
        const char next = it->first.size() > stem.size() ? it->first[stem.size()] : '.';
        if (next == '.' || next == '_') {
            out.push_back(dir + it->second);
            if (names) (*names)[path].push_back(it->second);
        }
    }
}

// Where GDAL and PROJ keep the data they look up (coordinate systems, grids, driver tables).
void add_library_data(std::vector<std::string> &out) {
    if (const char *gdal = CPLGetConfigOption("GDAL_DATA", nullptr)) out.push_back(gdal);
    if (const char *found = CPLFindFile("GDAL", "gdalvrt.xsd")) out.push_back(CPLGetPath(found));
    char **proj = OSRGetPROJSearchPaths();
    for (int i = 0; proj && proj[i]; ++i) out.push_back(proj[i]);
    CSLDestroy(proj);
}

}  // namespace

std::vector<std::string> readable_for(const std::vector<std::string> &names, Siblings *siblings) {
    std::vector<std::string> out;
    Listings listings;
    const std::vector<std::string> files = files_named(names);
    std::vector<char> plain(files.size());  // a regular file, which may have companions
    parallel_each(files.size(), [&](size_t i) {
        struct stat st;
        plain[i] = stat(files[i].c_str(), &st) == 0 && S_ISREG(st.st_mode);
    });
    for (size_t i = 0; i < files.size(); ++i) {
        out.push_back(files[i]);
        if (plain[i]) add_companions(files[i], listings, out, siblings);
    }
    add_library_data(out);
    std::set<std::string> seen;
    out.erase(std::remove_if(out.begin(), out.end(), [&](const std::string &p) { return !seen.insert(p).second; }), out.end());
    return out;
}
