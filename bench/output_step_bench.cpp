// The model writers of the output step on one textured OBJ folder (a real capture's, given on
// the command line), the two ways the step has worked, in the same run:
//  - before: the USDZ writer parses the OBJ folder, the GLB copy parses it a second time;
//  - after: the textured mesh is handed over in memory and both files are written from it.
// Also the cost of the one parse a resumed run still pays. Each figure is the best of rounds.
//
//   output_step_bench <textured-obj-folder> [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench/best_of.h"
#include "engine/formats/glb_writer.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/usdz_writer.h"

namespace fs = std::filesystem;
using namespace pelorin::engine;
using pelorin::bench::bestSeconds;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: output_step_bench <textured-obj-folder> [rounds]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path out = fs::temp_directory_path() / "pelorin-output-step-bench";
    fs::create_directories(out);
    bool ok = true;

    const double before = bestSeconds(rounds, [&] {
        ok &= bool(UsdzWriter::convert(folder, out / "model.usdz"));
        ok &= bool(GlbWriter::convert(folder, out / "model.glb"));
    });
    auto mesh = ObjReader::readObjFolder(folder);
    if (!mesh) {
        std::fprintf(stderr, "output_step_bench: %s\n", description(mesh.error()).c_str());
        return 1;
    }
    const double after = bestSeconds(rounds, [&] {
        ok &= bool(UsdzWriter::write(*mesh, out / "model.usdz"));
        ok &= bool(GlbWriter::write(*mesh, out / "model.glb"));
    });
    const double parse = bestSeconds(rounds, [&] { ok &= bool(ObjReader::readObjFolder(folder)); });
    std::printf("usdz %.1f MB, glb %.1f MB\n", fs::file_size(out / "model.usdz") / 1e6,
                fs::file_size(out / "model.glb") / 1e6);
    std::printf("before (parse twice, write both): %.3f s\n", before);
    std::printf("after  (mesh in memory, write both): %.3f s  = %.2fx before\n", after,
                after / before);
    std::printf("after, resumed (one parse first): %.3f s  = %.2fx before\n", after + parse,
                (after + parse) / before);
    fs::remove_all(out);
    return ok ? 0 : 1;
}
