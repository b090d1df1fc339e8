// corvala-gen OUTDIR: writes every data file of the bundled production into
// OUTDIR, the same bytes on every run.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "production.h"

namespace {

const char* const Usage = "usage: corvala-gen OUTDIR\n"
                          "Writes every data file of the bundled production (music, tracker, pictures,\n"
                          "models) into OUTDIR, the same bytes on every run.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    // An option is never taken for a folder to fill.
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(Usage, stderr);
        return 2;
    }
    std::string error;
    std::vector<std::string> written;
    if (!gen::GenerateProduction(argv[1], error, &written)) {
        std::fprintf(stderr, "corvala-gen: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& name : written) {
        const auto size = std::filesystem::file_size(std::filesystem::path(argv[1]) / name);
        std::printf("%-18s %9llu bytes\n", name.c_str(), static_cast<unsigned long long>(size));
    }
    return 0;
}
