#pragma once

// Reads one named section of an ELF file from its section headers, without
// loading the file.

#include <string>

namespace sim::cli {

// Fills bytes with the contents of section `name` of the ELF file at path.
// Empty on success, else why not (not ELF, no such section, unreadable).
std::string ReadElfSection(const std::string& path, const std::string& name, std::string& bytes);

}  // namespace sim::cli
