#include "pluginframework/ElfArchitecture.h"

#include <elf.h>

#include <array>
#include <bit>
#include <cstdint>
#include <fstream>

namespace pluginframework {
namespace {

constexpr std::uint16_t processMachine() {
#if defined(__x86_64__)
  return EM_X86_64;
#elif defined(__aarch64__)
  return EM_AARCH64;
#elif defined(__i386__)
  return EM_386;
#elif defined(__arm__)
  return EM_ARM;
#elif defined(__riscv)
  return EM_RISCV;
#else
  return EM_NONE;
#endif
}

}  // namespace

bool processIsARM64() { return processMachine() == EM_AARCH64; }

bool elfMatchesProcess(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::array<unsigned char, 20> header{};
  if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) return false;
  if (header[EI_MAG0] != ELFMAG0 || header[EI_MAG1] != ELFMAG1 || header[EI_MAG2] != ELFMAG2 ||
      header[EI_MAG3] != ELFMAG3)
    return false;
  const unsigned char wantClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  const bool little = std::endian::native == std::endian::little;
  const unsigned char wantData = little ? ELFDATA2LSB : ELFDATA2MSB;
  if (header[EI_CLASS] != wantClass || header[EI_DATA] != wantData) return false;
  // e_machine follows e_ident (16 bytes) and e_type (2), in the file's byte order.
  const std::uint16_t machine = little ? static_cast<std::uint16_t>(header[18] | (header[19] << 8))
                                       : static_cast<std::uint16_t>((header[18] << 8) | header[19]);
  return machine == processMachine();
}

}  // namespace pluginframework
