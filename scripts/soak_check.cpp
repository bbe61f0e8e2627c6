// Checker of the soak run: every file below the save folder must be a picture of the soak scenario,
// byte for byte what the simulator serves for it (file name = picture id + ".jpg"). Prints one line
// per bad file and a count line "files N bad M partial P"; exits 1 when anything is wrong.
//   soak_check SAVE_DIR SIZE
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sim/Simulator.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: soak_check SAVE_DIR SIZE\n", stderr);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    const std::size_t size = std::strtoul(argv[2], nullptr, 10);
    long files = 0, bad = 0, partial = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        const std::string name = e.path().filename().string();
        if (name.ends_with(".txt") || name == "pic.vyr") continue;  // title list, download history
        ++files;
        if (!name.ends_with(".jpg")) {
            std::printf("unexpected file %s\n", e.path().c_str());
            ++bad;
            continue;
        }
        std::ifstream f(e.path(), std::ios::binary);
        const std::string got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const std::string want = qm::sim::MakePictureBytes(name.substr(0, name.size() - 4), size, "jpg");
        if (got != want) {
            const bool prefix = got.size() < want.size() && want.compare(0, got.size(), got) == 0;
            std::printf("%s %s (%zu of %zu bytes)\n", prefix ? "partial" : "different", e.path().c_str(),
                        got.size(), want.size());
            ++(prefix ? partial : bad);
        }
    }
    std::printf("files %ld bad %ld partial %ld\n", files, bad, partial);
    return bad == 0 && partial == 0 ? 0 : 1;
}
