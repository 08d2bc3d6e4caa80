// A TIFF opened by libtiff alone, through the gate as GDAL opens files: for tiles whose set-up GDAL has read from another.
#include "import/tiff_file.h"

#include "sandbox/gate.h"

#include <tiffio.h>

namespace {

VSILFILE *file_of(thandle_t h) { return static_cast<VSILFILE *>(h); }

tmsize_t read_proc(thandle_t h, void *buf, tmsize_t n) {
    return n < 0 ? -1 : static_cast<tmsize_t>(VSIFReadL(buf, 1, static_cast<size_t>(n), file_of(h)));
}

tmsize_t write_proc(thandle_t, void *, tmsize_t) { return -1; }

toff_t seek_proc(thandle_t h, toff_t off, int whence) {
    return VSIFSeekL(file_of(h), off, whence) == 0 ? VSIFTellL(file_of(h)) : static_cast<toff_t>(-1);
}

// The handle is closed by its owner, after libtiff is done with it.
int close_proc(thandle_t) { return 0; }

toff_t size_proc(thandle_t h) {
    VSILFILE *f = file_of(h);
    const vsi_l_offset at = VSIFTellL(f);
    VSIFSeekL(f, 0, SEEK_END);
    const vsi_l_offset size = VSIFTellL(f);
    VSIFSeekL(f, at, SEEK_SET);
    return size;
}

int map_proc(thandle_t, void **, toff_t *) { return 0; }
void unmap_proc(thandle_t, void *, toff_t) {}

// libtiff's complaints stay quiet: a file it cannot read this way is opened by GDAL, which says why.
int quiet(TIFF *, void *, const char *, const char *, va_list) { return 1; }

}  // namespace

TiffFile::TiffFile(const std::string &name) {
    fp_ = VSIFOpenL(name.c_str(), "rb");
    if (!fp_) return;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts) return;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
    // A directory's arrays are held whole: bounded as a decoder's memory is.
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, max_decode_bytes);
    tif_ = TIFFClientOpenExt(name.c_str(), "rm", fp_, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                             unmap_proc, opts);
    TIFFOpenOptionsFree(opts);
}

TiffFile::~TiffFile() {
    if (tif_) TIFFClose(tif_);
    if (fp_) VSIFCloseL(fp_);
}
