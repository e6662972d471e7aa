#pragma once
// Mach-O images built as bytes in this process's memory for the reader
// tests: a header and load commands at the start, __TEXT over the first
// 0x2000 bytes, __DATA from 0x2000, __LINKEDIT from 0x8000 (file offset the
// same). Pointers inside the metadata are real addresses in the buffer, as a
// loaded image's rebased pointers are.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace crashreporter::testing_fixtures {

class MachOFixture {
 public:
  static constexpr std::size_t kSize = 0x10000;
  static constexpr std::size_t kData = 0x2000, kLinkedit = 0x8000;

  MachOFixture(bool m64, bool swapped) : m64_(m64), swapped_(swapped), bytes_(kSize, 0) {}

  std::uint64_t textVmaddr() const { return m64_ ? 0x100000000ull : 0x1000; }
  std::uint64_t vmaddr(std::size_t offset) const { return textVmaddr() + offset; }
  std::uint64_t address(std::size_t offset) const { return reinterpret_cast<std::uint64_t>(bytes_.data()) + offset; }
  std::uint64_t header() const { return address(0); }
  std::uint64_t slide() const { return address(0) - textVmaddr(); }
  std::uint8_t* at(std::size_t offset) { return bytes_.data() + offset; }

  // Raw stores at an offset, in the image's byte order.
  void put16(std::size_t offset, std::uint16_t v) { v = swapped_ ? __builtin_bswap16(v) : v; std::memcpy(at(offset), &v, 2); }
  void put32(std::size_t offset, std::uint32_t v) { v = swapped_ ? __builtin_bswap32(v) : v; std::memcpy(at(offset), &v, 4); }
  void put64(std::size_t offset, std::uint64_t v) { v = swapped_ ? __builtin_bswap64(v) : v; std::memcpy(at(offset), &v, 8); }
  void putWord(std::size_t offset, std::uint64_t v) { m64_ ? put64(offset, v) : put32(offset, static_cast<std::uint32_t>(v)); }
  void putText(std::size_t offset, const std::string& text) { std::memcpy(at(offset), text.c_str(), text.size() + 1); }

  struct Section {
    std::string name;
    std::size_t offset, size;
  };
  void segment(const std::string& name, std::size_t offset, std::size_t size, std::vector<Section> sections = {},
               std::size_t fileOffset = 0) {
    Command c{swapped_, {}};
    c.u32(m64_ ? 0x19 : 0x1);
    c.u32(static_cast<std::uint32_t>((m64_ ? 72 : 56) + sections.size() * (m64_ ? 80 : 68)));
    c.name(name);
    for (std::uint64_t v : {vmaddr(offset), std::uint64_t{size}, std::uint64_t{fileOffset}, std::uint64_t{size}}) c.word(v, m64_);
    for (std::uint32_t v : {7u, 5u, static_cast<std::uint32_t>(sections.size()), 0u}) c.u32(v);
    for (const Section& s : sections) {
      c.name(s.name);
      c.name(name);
      c.word(vmaddr(s.offset), m64_);
      c.word(s.size, m64_);
      for (int i = 0; i < (m64_ ? 8 : 7); ++i) c.u32(0);
    }
    commands_.push_back(c);
  }
  void symtab(std::uint32_t symoff, std::uint32_t nsyms, std::uint32_t stroff, std::uint32_t strsize) {
    Command c{swapped_, {}};
    for (std::uint32_t v : {2u, 24u, symoff, nsyms, stroff, strsize}) c.u32(v);
    commands_.push_back(c);
  }
  void dysymtab(std::uint32_t ilocal, std::uint32_t nlocal, std::uint32_t iext, std::uint32_t next) {
    Command c{swapped_, {}};
    for (std::uint32_t v : {0xBu, 80u, ilocal, nlocal, iext, next}) c.u32(v);
    for (int i = 0; i < 14; ++i) c.u32(0);
    commands_.push_back(c);
  }
  // A raw command (cmd, cmdsize as given, then zero bytes up to `bytes`).
  void rawCommand(std::uint32_t cmd, std::uint32_t cmdsize, std::size_t bytes) {
    Command c{swapped_, {}};
    c.u32(cmd);
    c.u32(cmdsize);
    while (c.bytes.size() < bytes) c.u32(0);
    commands_.push_back(c);
  }

  // Writes the header and the commands; `magic` overrides the usual one.
  void finish(std::uint32_t magic = 0) {
    std::size_t at = m64_ ? 32 : 28;
    for (Command& c : commands_) {
      std::memcpy(this->at(at), c.bytes.data(), c.bytes.size());
      at += c.bytes.size();
    }
    std::uint32_t sizeofcmds = static_cast<std::uint32_t>(at - (m64_ ? 32 : 28));
    const std::uint32_t native = m64_ ? 0xFEEDFACF : 0xFEEDFACE;
    std::uint32_t stored = magic != 0 ? magic : native;
    std::memcpy(this->at(0), &stored, 4);  // the magic is read as stored: its bytes tell the order
    put32(4, m64_ ? 0x01000007 : 7);
    put32(8, 3);
    put32(12, 6);
    put32(16, static_cast<std::uint32_t>(commands_.size()));
    put32(20, sizeofcmds);
    if (swapped_ && magic == 0) {
      stored = __builtin_bswap32(native);
      std::memcpy(this->at(0), &stored, 4);
    }
  }

  // nlist entries at `offset`; returns the entry size.
  std::size_t nlist(std::size_t offset, std::uint32_t strx, std::uint8_t type, std::uint16_t desc, std::uint64_t value) {
    put32(offset, strx);
    *at(offset + 4) = type;
    *at(offset + 5) = 1;
    put16(offset + 6, desc);
    putWord(offset + 8, value);
    return m64_ ? 16 : 12;
  }

 private:
  // A load command's bytes, each field stored in the image's byte order.
  struct Command {
    bool swapped = false;
    std::vector<std::uint8_t> bytes;
    void u32(std::uint32_t v) {
      if (swapped) v = __builtin_bswap32(v);
      append(&v, 4);
    }
    void word(std::uint64_t v, bool m64) {
      if (!m64) return u32(static_cast<std::uint32_t>(v));
      if (swapped) v = __builtin_bswap64(v);
      append(&v, 8);
    }
    void name(const std::string& n) {
      char field[16] = {};
      std::memcpy(field, n.data(), n.size() < 16 ? n.size() : 16);
      append(field, 16);
    }
    void append(const void* p, std::size_t n) {
      const auto* b = static_cast<const std::uint8_t*>(p);
      bytes.insert(bytes.end(), b, b + n);
    }
  };

  bool m64_, swapped_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Command> commands_;
};

}  // namespace crashreporter::testing_fixtures
