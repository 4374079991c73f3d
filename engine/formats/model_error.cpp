#include "engine/formats/model_error.h"

namespace pelorin::engine {

std::string description(ModelError error) {
    switch (error) {
        case ModelError::noObj:
            return "No OBJ file was found to convert.";
        case ModelError::empty:
            return "The OBJ file has no triangles.";
        case ModelError::invalidMesh:
            return "The model's mesh is inconsistent.";
        case ModelError::tooLarge:
            return "The model is too large for its file format.";
    }
    return {};
}

std::string description(const ModelFailure& failure) {
    if (const auto* error = std::get_if<ModelError>(&failure)) return description(*error);
    return std::get<common::FileError>(failure).description();
}

}  // namespace pelorin::engine
