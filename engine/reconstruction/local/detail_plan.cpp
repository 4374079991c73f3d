#include "engine/reconstruction/local/detail_plan.h"

#include <algorithm>

namespace pelorin::engine::local {

DetailPlan planFor(RequestDetail detail) {
    switch (detail) {
        case RequestDetail::preview:
            return {1000, 512, 64, 8, 100000, 25000, 2048};
        case RequestDetail::reduced:
            return {1400, 640, 80, 8, 150000, 50000, 2048};
        case RequestDetail::medium:
            return {2000, 800, 96, 9, 250000, 100000, 4096};
        case RequestDetail::full:
            return {3000, 1024, 128, 10, 500000, 250000, 8192};
    }
    return {};
}

std::string_view detailName(RequestDetail detail) {
    switch (detail) {
        case RequestDetail::preview:
            return "preview";
        case RequestDetail::reduced:
            return "reduced";
        case RequestDetail::medium:
            return "medium";
        case RequestDetail::full:
            return "full";
    }
    return "medium";
}

RequestDetail detailFor(const std::vector<PhotogrammetryRequest>& requests) {
    std::optional<RequestDetail> finest;
    for (const auto& request : requests)
        if (request.kind == PhotogrammetryRequest::Kind::modelFile)
            finest = std::max(finest.value_or(request.detail), request.detail);
    return finest.value_or(RequestDetail::medium);
}

}  // namespace pelorin::engine::local
