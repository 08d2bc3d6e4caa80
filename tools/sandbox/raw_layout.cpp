// Raw data against its file: a layout that reads past the file's end would read zeros GDAL makes up.
#include "sandbox/gate_rules.h"

#include "common/text.h"

#include <cpl_string.h>
#include <gdal_priv.h>
#include <rawdataset.h>

#include <climits>
#include <cstdlib>
#include <utility>

namespace {

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

}  // namespace

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
