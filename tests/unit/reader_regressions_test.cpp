// Inputs the fuzz targets found to break a reader: the import must now refuse each cleanly.
#include "import.h"
#include "rasters.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

Bytes unhex(const std::string &s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}

// Each must now be refused with one line naming the file, nothing allocated for what it claims;
// or, where the file is merely odd, read without fault.
struct Finding {
    const char *what;
    const char *name;
    Bytes file;
    bool refused = true;
    const char *cause = "";  // what the refusal must say, when it is ours rather than a decoder's
};

class FuzzFindings : public Scratch {};

TEST_F(FuzzFindings, EachInputReadsAsItMustNow) {
    // An IHDR, then a tEXt chunk claiming 1,946,157,109 bytes in a 130-byte file: a PNG decoder
    // once allocated the whole length before finding the file too short.
    const Bytes text_claims_2gb = unhex(
        "89504e470d0a1a0a0000000d49484452050000020000000110000000009cf64f0674000035744558746d767820686569"
        "67687473006d6170206c6576656c733affffff03207300007b4065203d2028686569676874202b2031323829202a2032"
        "3537860ebd060000000d49444154789c636060f8ff1f00030201ff454e44ae426082");
    // A well-formed PNG whose IDAT claims 2^31 - 1 bytes.
    Bytes idat_claims = png_file({2, 1, 8, 0, false, {1, 2}, {}, {}});
    const Bytes idat_at = {'I', 'D', 'A', 'T'};
    const size_t idat = static_cast<size_t>(std::search(idat_claims.begin(), idat_claims.end(), idat_at.begin(), idat_at.end()) -
                                            idat_claims.begin());
    idat_claims[idat - 4] = 0x7f, idat_claims[idat - 3] = idat_claims[idat - 2] = idat_claims[idat - 1] = 0xff;
    // A big-endian float64 TIFF, 2 x 1, whose first sample (read from a moved strip) is beyond
    // the float range: it once became an infinite height that flattened the whole import. Its
    // directory is malformed enough that GDAL refuses it (samples beyond the float range that
    // GDAL does read are voids: see the readers' tests).
    const Bytes double_too_large = unhex(
        "4d4d002a00000018c0c387800000000040c1486e147ae148000b01000004000000010000000201010004000000010000"
        "0001010200030000000100400000010300030000000100010000010600030000000100010000011100040000000002ff"
        "ff0102000aff0000000000020101000400000000963c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c01530003000000010003"
        "0000a481000200000006000000a2000000002d3939393800");
    // A TIFF whose georeferencing makes a sample some 10^100 cells wide: where its samples fall
    // in the grid once overflowed the conversion to whole cells.
    const Bytes vast_samples = unhex(
        "49492a000800000012000001030001000000060000000101030001000000040000000201030001000000200000000301"
        "0300010000000800000006010300010000000100000011010400010000008c0100001501030001000000010000001601"
        "030001000000040000001701040030000000410000001c01030001000000010000003d01030001000000030000005301"
        "030001000000030000000e830c0003000000ec00000082843d000600000004010000af8703002000000034010000b087"
        "0c000200000074010000b1870200080000008401000081a4020006000000e6000000000000002d393939390000000000"
        "0049492a0008000000120000010300010000000600000001010300010000000400000002010300010000002000000003"
        "010300010000000800000006010300010000000100000011010400010000008c01000015010300010000000100000016"
        "01030001000000040000001701040001000000410000001c01030001000000010000003d010300010000000300000053"
        "01030001000000030000000e830c040003000000ec00000082840c000600000004010000af8703002000000034010000"
        "b0870c000200000074010000b1870200b187070000000608000001008e230908b087010001000b08b087010000007401"
        "0000b1870200b187070000000608000001008e230908b087010001000b080e0000000000000040a65458415747532038"
        "080000008401000081a4020006000000e6000000000000002d393939390000000008b087010001000b08b08701000000"
        "886d74961da4724000000040a65458415747532038347c00789cb367646060607068700000d03f000000000000d03f00"
        "000000000000000000000000000000000000000000000000000000000000000000000000001840000000000000494000"
        "000000000000000100883b82497e0101010e8e0224f57050507060400007460686d6eaf90a02027f540e30303010f170"
        "0ed81c81883b82497e0101010e8e0224f510f1700e0e0e0e0e0e0e0e0e64730024647300241b091b090101");
    // A well-formed IHDR, then a tEXt chunk claiming 1,610,612,789 bytes in a 177-byte file.
    const Bytes text_claims_1gb = unhex(
        "89504e470d0a1a0a0000000d494844520000000200000001100000000081d9fc1560000035744558746d767820686569"
        "67687473006d6170206c6576656c733a2073616d706c65203d2028686569676874202b2031323929202a203235378"
        "60ebd060000000d49444154789c636060f8ff1f00030201ffe6770bae0000000049454e44ae422682");
    // A chunk whose type, read where a CRC went missing, holds a newline: the check of chunk
    // sizes once put it into the one-line message.
    const Bytes type_with_newline = unhex(
        "89504e470d0a1a0a0000000d4948445200000008000000010100000000cb7bd2ee0000000a49444154789c63581a0a00"
        "00000d4948445200000008000000010100000000cb7bd2ee0000000a494441540a0000a700a6e5b9c5e2000000004945"
        "4e44ae426082");
    // A 1-bit TIFF of 16,842,752 x 33,554,434 in blocks of 255 rows: its reads were all planned,
    // 134 million of them, before its samples were counted and refused.
    const Bytes small_blocks = unhex(
        "49492a0014000000fbff00002c010080ff7f01800900000104000100000000000101040001000000020000020201c700"
        "010000001000030000000101040001000000020000020203010001000000100000000301030001000000010000000601"
        "03000100000001000000110104000100000008000000150103000100000001000000160104009e000000000000002d33"
        "323736390000");
    // A whole tEXt chunk of 16 MiB + 1 bytes before the image data.
    Bytes huge_text = png_file({2, 1, 8, 0, false, {1, 2}, {}, {}});
    const long long text_bytes = (16LL << 20) + 1;
    Bytes chunk = {0x01, 0x00, 0x00, 0x01, 't', 'E', 'X', 't'};
    chunk.resize(chunk.size() + text_bytes + 4, 'a');
    huge_text.insert(huge_text.begin() + 33, chunk.begin(), chunk.end());
    const Finding cases[] = {
        {"huge tEXt length", "a.png", text_claims_2gb, true, "past the end of the file"},
        {"tEXt length past the end after a valid header", "e.png", text_claims_1gb, true, "past the end of the file"},
        {"a whole tEXt chunk of 16 MiB", "f.png", huge_text, true, "more than mvx reads"},
        {"IDAT longer than the file", "b.png", idat_claims},
        {"a chunk type that is not four letters", "g.png", type_with_newline},
        {"float64 beyond the float range", "c.tif", double_too_large},
        {"samples far wider than the grid", "d.tif", vast_samples, false},
        {"5.6 x 10^14 samples in small blocks", "h.tif", small_blocks, true, "build overviews first"},
    };
    for (const Finding &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir + "/" + c.name;
        write_bytes(path, c.file);
        ImportOptions o;
        o.heights = {path};
        o.fit = FitMode::stretch;
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, 2, 1, h, notes);
        if (!c.refused && st.ok) continue;
        EXPECT_FALSE(st.ok);
        EXPECT_EQ(st.why.rfind(path + ": ", 0), 0u) << st.why;
        EXPECT_EQ(st.why.find('\n'), std::string::npos) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
    }
}

}  // namespace
