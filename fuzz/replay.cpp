// Runs a fuzz target on given inputs (files, and every file in given folders) as libFuzzer would
// run each: so that every build's tests replay the seeds without libFuzzer.
#include "common/io.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code e;
        if (fs::is_directory(argv[i], e)) {
            for (const fs::directory_entry &f : fs::directory_iterator(argv[i], e))
                if (f.is_regular_file()) inputs.push_back(f.path());
        } else {
            inputs.emplace_back(argv[i]);
        }
        if (e) {
            std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[i], e.message().c_str());
            return 1;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE|DIR...  (no input given or found)\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<uint8_t> bytes;
    for (const fs::path &p : inputs) {
        if (Status st = read_whole(p, bytes, 64 << 20); !st.ok) {
            std::fprintf(stderr, "%s: %s\n", argv[0], st.why.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs run\n", inputs.size());
    return 0;
}
