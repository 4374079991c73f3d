#pragma once

#include <filesystem>
#include <string>

namespace pelorin::common {

// A file that could not be read or written: what was tried, on which file, and the
// operating system's own explanation.
struct [[nodiscard]] FileError {
    enum class Operation { read, write };

    Operation operation = Operation::read;
    std::filesystem::path path;
    std::string reason;

    // The fixed sentence for the operation followed by ": " and the reason.
    std::string description() const {
        return (operation == Operation::read ? "Could not read the file: "
                                             : "Could not write the file: ") +
               reason;
    }
};

}  // namespace pelorin::common
