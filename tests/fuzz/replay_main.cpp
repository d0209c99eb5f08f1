// Replays corpus files through a fuzz target's entry point, without the
// fuzzer: the native sanitizer build runs every seed and every saved
// reproducer on each test run. Arguments are files or folders (every
// regular file inside, in name order). A target that finds a fault aborts,
// so the test fails with the file named last on stderr.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            std::vector<fs::path> inside;
            for (const auto& e : fs::directory_iterator(p))
                if (e.is_regular_file()) inside.push_back(e.path());
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else if (fs::is_regular_file(p)) {
            files.push_back(p);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) {
            std::fprintf(stderr, "cannot read %s\n", f.c_str());
            return 2;
        }
        std::fprintf(stderr, "%s (%zu bytes)\n", f.c_str(), bytes.size());
        // A copy of exactly the file's size, so that a read past the input
        // is caught here as it would be under the fuzzer.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
