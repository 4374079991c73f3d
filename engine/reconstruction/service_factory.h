#pragma once

#include <memory>
#include <string_view>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// The service this process uses: the one that PELORIN_PHOTOGRAMMETRY names ("local", "replay" or
// "replay:<script.json>", for tests and demos), else the real reconstruction backend when it is
// installed, else one that reports itself unsupported. Chosen once.
std::shared_ptr<PhotogrammetryService> defaultPhotogrammetryService();

// The same choice for a given setting, for tests.
std::shared_ptr<PhotogrammetryService> makePhotogrammetryService(std::string_view setting);

}  // namespace pelorin::engine
