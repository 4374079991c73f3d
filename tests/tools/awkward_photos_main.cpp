// Makes a folder of awkward photos from a folder of the sample's photos, for the suite and the
// benchmarks: pelorin-awkward-photos <from> <to> <kind>... (kinds: --help lists them).
#include <cstdio>
#include <exception>
#include <string>

#include "tests/support/awkward_photos.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
    using namespace pelorin::testing;
    std::string usage =
        "usage: pelorin-awkward-photos <from-folder> <to-folder> <kind>...\n"
        "Writes the photos of <from-folder> into <to-folder> as the kinds say: the kinds that\n"
        "change photos take them in turn, the others add files beside. Kinds:";
    for (const auto& entry : awkwardNames()) usage += " " + std::string(entry.name);
    usage += "\n";
    if (auto answered = pelorin::tools::answerStandardOptions(argc, argv, "pelorin-awkward-photos",
                                                              usage.c_str()))
        return *answered;
    if (argc < 4) return pelorin::tools::usageError(usage.c_str());
    std::vector<Awkwardness> kinds;
    for (int i = 3; i < argc; ++i) {
        const auto kind = awkwardnessNamed(argv[i]);
        if (!kind) {
            std::fprintf(stderr, "pelorin-awkward-photos: no kind \"%s\"\n", argv[i]);
            return pelorin::tools::usageError(usage.c_str());
        }
        kinds.push_back(*kind);
    }
    try {
        const auto made = makeAwkwardFolder(argv[1], argv[2], kinds);
        int mustRegister = 0;
        for (const auto& photo : made) mustRegister += photo.mustRegister;
        std::printf("%zu files, %d of them the object's own sharp photos\n", made.size(),
                    mustRegister);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pelorin-awkward-photos: %s\n", error.what());
        return 1;
    }
}
