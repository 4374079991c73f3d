#include "engine/reconstruction/local/output_step.h"

#include "common/files/folder_listing.h"
#include "engine/formats/glb_writer.h"
#include "engine/formats/usdz_writer.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

namespace {

// The first failure of the copy; nothing when every file arrived.
std::optional<std::string> copyFolder(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to, error);
    if (error) return error.message();
    auto entries = common::listFolderEntries(from);
    if (!entries) return entries.error();
    for (const auto& entry : *entries) {
        fs::copy_file(entry.path(), to / entry.path().filename(),
                      fs::copy_options::overwrite_existing, error);
        if (error) return error.message();
    }
    return std::nullopt;
}

}  // namespace

void runOutputStep(const StepContext& context, const std::vector<PhotogrammetryRequest>& requests,
                   const TexturedMesh& textured) {
    const fs::path objFolder = context / "textured";
    std::optional<std::vector<PointCloudPoint>> cloud;
    for (const auto& request : requests) {
        context.checkStop();
        std::optional<PhotogrammetryError> error;
        RequestResult result;
        if (request.kind == PhotogrammetryRequest::Kind::pointCloud) {
            if (!cloud) {
                auto points = readPlyPoints(context / "fused.ply");
                if (!points) {
                    error = PhotogrammetryError::other(points.error());
                } else {
                    cloud.emplace();
                    for (const auto& p : *points)
                        cloud->push_back(
                            {{float(p.position[0]), float(p.position[1]), float(p.position[2])},
                             {p.colour[0], p.colour[1], p.colour[2], 255}});
                }
            }
            if (cloud) result = PointCloudResult{*cloud};
        } else if (request.url.extension() == ".usdz") {
            auto written = UsdzWriter::write(textured, request.url);
            if (!written) error = context.writeError(engine::description(written.error()));
            result = ModelFileResult{request.url};
        } else if (request.url.extension() == ".glb") {
            auto written = GlbWriter::write(textured, request.url);
            if (!written) error = context.writeError(engine::description(written.error()));
            result = ModelFileResult{request.url};
        } else {
            if (auto failed = copyFolder(objFolder, request.url))
                error = context.writeError(*failed);
            result = ModelFileResult{request.url};
        }
        if (error)
            context.emit(events::RequestError{request, *error});
        else
            context.emit(events::RequestComplete{request, std::move(result)});
    }
    context.progress(Step::outputs, 1);
}

}  // namespace pelorin::engine::local
