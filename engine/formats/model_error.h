#pragma once

#include <string>
#include <variant>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine {

// Why a model file could not be made from a mesh or an OBJ folder.
enum class [[nodiscard]] ModelError{
    noObj,
    empty,
    // Array lengths that do not match the vertex count, or indices past the last vertex.
    invalidMesh,
    // The file would outgrow its format's 32-bit sizes.
    tooLarge,
};
std::string description(ModelError error);

// A failed conversion: a problem with the model, or the file system's own error.
using ModelFailure = std::variant<ModelError, common::FileError>;
std::string description(const ModelFailure& failure);

}  // namespace pelorin::engine
