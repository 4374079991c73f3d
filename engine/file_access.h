#pragma once

#include "link/atomic_file.h"
#include "link/file_error.h"
#include "link/file_reader.h"

// The engine reads and writes files through the link library's primitives.
namespace pelorin::engine {
using link::Bytes;
using link::FileError;
using link::MappedFile;
using link::readFile;
using link::writeFileAtomically;
}  // namespace pelorin::engine
