#pragma once

#include <optional>
#include <vector>

#include "evaluation/alignment.h"
#include "evaluation/mesh.h"
#include "evaluation/pinhole_camera.h"
#include "link/records/capture_records.h"

namespace pelorin::evaluation {

struct ModelScore {
    // Mean distance from the model's surface to the true surface, after alignment.
    double meanError = 0;
    // The same as a share of the true mesh's bounding diagonal.
    double meanErrorFraction = 0;
    // Share of the true surface within 1% of the diagonal of the model's surface.
    double completeness = 0;
    // With the photos' cameras: the share of the true surface that they show (what any
    // reconstruction from them could reach), and the completeness over that part alone.
    std::optional<double> seenShare;
    std::optional<double> seenCompleteness;
    // The model-to-truth transform the figures were measured through.
    Similarity alignment;
    // The scale a free similarity fit settles on from there: 1 for a model in the truth's
    // units, whichever fit the figures used.
    double similarityScale = 1;
};

struct ScoreOptions {
    // When given, only the model's surface inside this cylinder, grown by 5%, counts for the
    // error (plinth and floor do not).
    std::optional<link::ObjectBounds> bounds;
    // What the object stands on, in the truth's frame: a model that keeps it is aligned with
    // it too, and its surface nearer to it than to the object is not scored.
    std::optional<Mesh> support;
    // Where to start the alignment; nothing searches over orientations.
    std::optional<Similarity> initial;
    // Fit::rigid keeps the model's own scale, for models already in metres.
    Fit fit = Fit::similarity;
    // The true cameras of the photos the model was built from, for the seen figures.
    std::vector<PinholeCamera> photoCameras;
    std::size_t samples = 20000;
};

ModelScore scoreModel(const Mesh& model, const Mesh& truth, const ScoreOptions& options = {});

}  // namespace pelorin::evaluation
