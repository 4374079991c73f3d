// Converts one generated textured OBJ of about 500,000 triangles to GLB with GlbWriter and with
// `assimp export` (the baseline), and prints how many times faster ours is. Wall time is
// measured, because the baseline runs as a child process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "engine/formats/glb_writer.h"

namespace fs = std::filesystem;
using namespace pelorin::engine;

namespace {

fs::path workFolder;

// A sphere of `rings` x `segments` quads (two triangles each) split over two materials that
// share one texture, written as the photogrammetry service writes OBJ: v, vt, vn, then f with
// v/vt/vn references, one corner per vertex. 500 x 500 quads give 500,000 triangles.
void writeModel(const fs::path& folder, int rings, int segments) {
    fs::create_directories(folder);
    std::string obj = "mtllib model.mtl\n";
    char line[160];
    for (int r = 0; r <= rings; ++r) {
        for (int s = 0; s <= segments; ++s) {
            const double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            const double x = std::sin(theta) * std::cos(phi), y = std::cos(theta),
                         z = std::sin(theta) * std::sin(phi);
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\nvt %.6f %.6f\nvn %.6f %.6f %.6f\n",
                          x * 0.3, y * 0.3, z * 0.3, double(s) / segments, 1.0 - double(r) / rings,
                          x, y, z);
            obj += line;
        }
    }
    for (int r = 0; r < rings; ++r) {
        if (r == 0) obj += "usemtl upper\n";
        if (r == rings / 2) obj += "usemtl lower\n";
        for (int s = 0; s < segments; ++s) {
            const int a = r * (segments + 1) + s + 1, b = a + segments + 1;
            std::snprintf(line, sizeof line,
                          "f %d/%d/%d %d/%d/%d %d/%d/%d\nf %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a,
                          b, b, b, b + 1, b + 1, b + 1, a, a, a, b + 1, b + 1, b + 1, a + 1, a + 1,
                          a + 1);
            obj += line;
        }
    }
    std::ofstream(folder / "model.obj", std::ios::binary) << obj;
    std::ofstream(folder / "model.mtl") << "newmtl upper\nKd 1 1 1\nmap_Kd texture.png\n"
                                           "newmtl lower\nKd 1 1 1\nmap_Kd texture.png\n";
    // A texture of realistic size; the converters copy it without decoding.
    std::string texture(8 << 20, '\0');
    for (std::size_t i = 0; i < texture.size(); ++i)
        texture[i] = static_cast<char>(i * 2654435761u >> 24);
    texture.replace(0, 8, "\x89PNG\r\n\x1a\n");
    std::ofstream(folder / "texture.png", std::ios::binary) << texture;
}

void ours(benchmark::State& state) {
    for (auto _ : state) {
        const auto result = GlbWriter::convert(workFolder / "model", workFolder / "ours.glb");
        if (!result) state.SkipWithError(GlbWriter::description(result.error()).c_str());
    }
}

void assimp(benchmark::State& state) {
    const std::string command = "assimp export '" + (workFolder / "model" / "model.obj").string() +
                                "' '" + (workFolder / "assimp.glb").string() +
                                "' -fglb2 >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("assimp export failed (assimp-utils?)");
    }
}

BENCHMARK(ours)->Name("GlbWriter")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(assimp)->Name("AssimpExport")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// Keeps each benchmark's wall time per iteration for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.benchmark_name();
            seconds[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char pattern[] = "/tmp/pelorin-glb-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    workFolder = pattern;
    writeModel(workFolder / "model", 500, 500);
    std::printf("model: %ju bytes of OBJ, 500000 triangles, 8 MiB texture\n",
                static_cast<std::uintmax_t>(fs::file_size(workFolder / "model" / "model.obj")));

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ourTime = reporter.seconds.find("GlbWriter");
    const auto baseTime = reporter.seconds.find("AssimpExport");
    if (ourTime != reporter.seconds.end() && baseTime != reporter.seconds.end()) {
        std::printf("ratio: assimp export / GlbWriter = %.2fx (goal: at least 3x)\n",
                    baseTime->second / ourTime->second);
    } else {
        std::printf("ratio: not available (a benchmark failed or was filtered out)\n");
    }
    std::error_code ignored;
    fs::remove_all(workFolder, ignored);
    benchmark::Shutdown();
    return 0;
}
