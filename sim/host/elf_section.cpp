#include "sim/host/elf_section.h"

#include <elf.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sim::cli {
namespace {

// Only the file's own byte order is read: a plug-in of the other byte order
// could not be loaded into this process anyway.
template <typename Ehdr, typename Shdr>
std::string FindSection(const std::string& file, const std::string& name, std::string& bytes) {
  Ehdr header;
  if (file.size() < sizeof header) return "truncated ELF header";
  std::memcpy(&header, file.data(), sizeof header);
  if (header.e_shentsize != sizeof(Shdr) || header.e_shoff == 0 ||
      header.e_shstrndx >= header.e_shnum ||
      header.e_shoff + static_cast<unsigned long long>(header.e_shnum) * sizeof(Shdr) >
          file.size()) {
    return "no readable section headers";
  }
  auto section = [&](unsigned index) {
    Shdr entry;
    std::memcpy(&entry, file.data() + header.e_shoff + index * sizeof(Shdr), sizeof entry);
    return entry;
  };
  const Shdr names = section(header.e_shstrndx);
  if (names.sh_offset + names.sh_size > file.size()) return "section names out of the file";
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    const Shdr entry = section(i);
    if (entry.sh_name >= names.sh_size) continue;
    const char* entry_name = file.data() + names.sh_offset + entry.sh_name;
    const std::size_t room = names.sh_size - entry.sh_name;
    if (strnlen(entry_name, room) == room || name != entry_name) continue;
    if (entry.sh_type == SHT_NOBITS || entry.sh_offset + entry.sh_size > file.size()) {
      return "section " + name + " has no contents in the file";
    }
    bytes.assign(file.data() + entry.sh_offset, entry.sh_size);
    return {};
  }
  return "no section " + name;
}

}  // namespace

std::string ReadElfSection(const std::string& path, const std::string& name, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string("cannot read: ") + std::strerror(errno);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
    return "not an ELF file";
  }
  if (file[EI_CLASS] == ELFCLASS64) return FindSection<Elf64_Ehdr, Elf64_Shdr>(file, name, bytes);
  if (file[EI_CLASS] == ELFCLASS32) return FindSection<Elf32_Ehdr, Elf32_Shdr>(file, name, bytes);
  return "unknown ELF class";
}

}  // namespace sim::cli
