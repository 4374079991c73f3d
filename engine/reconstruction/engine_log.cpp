#include "engine/reconstruction/engine_log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace pelorin::engine::log {

namespace {

void write(int priority, const char* format, va_list arguments) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("pelorin-studio", LOG_PID, LOG_USER); });
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    syslog(priority, "engine: %s", line);
}

}  // namespace

void error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write(LOG_ERR, format, arguments);
    va_end(arguments);
}

void info(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write(LOG_INFO, format, arguments);
    va_end(arguments);
}

}  // namespace pelorin::engine::log
