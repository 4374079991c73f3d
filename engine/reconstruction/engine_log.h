#pragma once

// The engine's lines in the system log, under the ident "pelorin-studio", each starting with
// "engine: ". printf-style.
namespace pelorin::engine::log {

void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void info(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pelorin::engine::log
