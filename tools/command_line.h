#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

// What every command-line tool answers before it reads its own arguments: --help prints the
// usage to standard output, --version the tool's version; both end the tool with status 0.
namespace pelorin::tools {

inline std::optional<int> answerStandardOptions(int argc, char** argv, const char* name,
                                                const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", name, PELORIN_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

// A wrong argument: the usage on standard error, status 2.
inline int usageError(const char* usage) {
    std::fputs(usage, stderr);
    return 2;
}

}  // namespace pelorin::tools
