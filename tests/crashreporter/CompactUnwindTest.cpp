// Compact unwind tables built as bytes here: the index search over regular
// and compressed pages, encodings of the three processors, permutations, and
// applying entries to a stack laid out in memory.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "crashreporter/Source/CompactUnwind.h"

namespace crashreporter {
namespace {

constexpr std::uint32_t kNone = kDrcrashNoRegister;

class Section {
 public:
  void u32(std::uint32_t value) { append(&value, 4); }
  void u16(std::uint16_t value) { append(&value, 2); }
  void put32(std::size_t at, std::uint32_t value) { std::memcpy(bytes_.data() + at, &value, 4); }
  std::size_t size() const { return bytes_.size(); }
  drcrash_async_mobject* map() {
    drcrash_async_mobject_init(&mobj_, reinterpret_cast<std::uint64_t>(bytes_.data()), bytes_.size(), true);
    return &mobj_;
  }

 private:
  void append(const void* data, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  std::vector<std::uint8_t> bytes_;
  drcrash_async_mobject mobj_;
};

// Header, two common encodings, an index of two pages and the sentinel:
// a regular page for functions 0x1000 and 0x1100, a compressed page from
// 0x2000 with entries at +0 (common 1), +0x40 (local 0) and +0x80 (local 5: bad).
Section twoPageTable(std::uint32_t version = 1, std::uint32_t compressedKind = 3) {
  Section s;
  const std::uint32_t common = 28, index = common + 8, regular = index + 36, compressed = regular + 8 + 16;
  for (std::uint32_t word : {version, common, 2u, 0u, 0u, index, 3u}) s.u32(word);
  s.u32(0x01000001);  // common 0
  s.u32(0x02000002);  // common 1
  for (std::uint32_t word : {0x1000u, regular, 0u, 0x2000u, compressed, 0u, 0x3000u, 0u, 0u}) s.u32(word);
  s.u32(2);  // regular page: kind, entries at +8, two entries
  s.u16(8);
  s.u16(2);
  for (std::uint32_t word : {0x1000u, 0x04000010u, 0x1100u, 0x04000020u}) s.u32(word);
  s.u32(compressedKind);  // compressed page: entries at +12, three; encodings at +24, one
  s.u16(12);
  s.u16(3);
  s.u16(24);
  s.u16(1);
  s.u32((1u << 24) | 0x00);
  s.u32((2u << 24) | 0x40);
  s.u32((7u << 24) | 0x80);
  s.u32(0x03000099);  // local 0
  return s;
}

TEST(CompactUnwindTest, ReaderRefusesOtherVersionsProcessorsAndShortHeaders) {
  Section good = twoPageTable();
  drcrash_async_unwind_info_reader reader;
  EXPECT_EQ(drcrash_async_unwind_info_reader_init(&reader, good.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  EXPECT_EQ(reader.index_count, 3u);
  Section version2 = twoPageTable(2);
  EXPECT_EQ(drcrash_async_unwind_info_reader_init(&reader, version2.map(), kDrcrashCpuTypeX86_64), DRCRASH_ENOTSUP);
  EXPECT_EQ(drcrash_async_unwind_info_reader_init(&reader, good.map(), 18), DRCRASH_ENOTSUP);
  Section shortHeader;
  for (int i = 0; i < 6; ++i) shortHeader.u32(1);
  EXPECT_EQ(drcrash_async_unwind_info_reader_init(&reader, shortHeader.map(), kDrcrashCpuTypeArm64), DRCRASH_EINVAL);
}

TEST(CompactUnwindTest, FindsTheFunctionOfATargetInBothPageKinds) {
  Section table = twoPageTable();
  drcrash_async_unwind_info_reader reader;
  ASSERT_EQ(drcrash_async_unwind_info_reader_init(&reader, table.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  const struct {
    std::uint32_t target;
    drcrash_error_t error;
    std::uint32_t function, encoding;
  } cases[] = {
      {0x0fff, DRCRASH_ENOTFOUND, 0, 0},            // below the first function
      {0x1000, DRCRASH_ESUCCESS, 0x1000, 0x04000010},  // exactly at a start
      {0x10ff, DRCRASH_ESUCCESS, 0x1000, 0x04000010},
      {0x1100, DRCRASH_ESUCCESS, 0x1100, 0x04000020},
      {0x1fff, DRCRASH_ESUCCESS, 0x1100, 0x04000020},
      {0x2000, DRCRASH_ESUCCESS, 0x2000, 0x02000002},  // compressed: common encoding 1
      {0x2040, DRCRASH_ESUCCESS, 0x2040, 0x03000099},  // index = common count: the first local one
      {0x2080, DRCRASH_EINVAL, 0, 0},                // local index past the page's encodings
      {0x2fff, DRCRASH_EINVAL, 0, 0},
      {0x5000, DRCRASH_EINVAL, 0, 0},                // last page searched, same entry
  };
  for (const auto& c : cases) {
    std::uint32_t function = 0, encoding = 0;
    EXPECT_EQ(drcrash_async_unwind_info_find(&reader, c.target, &function, &encoding), c.error) << std::hex << c.target;
    if (c.error != DRCRASH_ESUCCESS) continue;
    EXPECT_EQ(function, c.function) << std::hex << c.target;
    EXPECT_EQ(encoding, c.encoding) << std::hex << c.target;
  }
  Section badKind = twoPageTable(1, 4);
  ASSERT_EQ(drcrash_async_unwind_info_reader_init(&reader, badKind.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  std::uint32_t function, encoding;
  EXPECT_EQ(drcrash_async_unwind_info_find(&reader, 0x2000, &function, &encoding), DRCRASH_EINVAL);
  EXPECT_EQ(drcrash_async_unwind_info_find(&reader, 0x1000, &function, &encoding), DRCRASH_ESUCCESS);
}

TEST(CompactUnwindTest, RefusesIndexesAndPagesOutsideTheSection) {
  Section table = twoPageTable();
  table.put32(20, 0x10000);  // index offset past the end
  drcrash_async_unwind_info_reader reader;
  ASSERT_EQ(drcrash_async_unwind_info_reader_init(&reader, table.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  std::uint32_t function, encoding;
  EXPECT_EQ(drcrash_async_unwind_info_find(&reader, 0x1000, &function, &encoding), DRCRASH_EINVAL);
  Section farPage = twoPageTable();
  farPage.put32(36 + 4, 0xFFFFFFF0);  // first page offset past the end
  ASSERT_EQ(drcrash_async_unwind_info_reader_init(&reader, farPage.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_unwind_info_find(&reader, 0x1000, &function, &encoding), DRCRASH_EINVAL);
  Section empty = twoPageTable();
  empty.put32(24, 0);
  ASSERT_EQ(drcrash_async_unwind_info_reader_init(&reader, empty.map(), kDrcrashCpuTypeX86_64), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_unwind_info_find(&reader, 0x1000, &function, &encoding), DRCRASH_ENOTFOUND);
}

TEST(CompactUnwindTest, DecodesEncodingsOfEachProcessor) {
  const struct {
    std::uint32_t cpu, encoding;
    drcrash_error_t error;
    std::uint32_t kind;
    std::int64_t offset;
    std::uint32_t adjust, returnRegister;
    std::vector<std::uint32_t> registers;
  } cases[] = {
      {kDrcrashCpuTypeX86_64, 0x00000000, DRCRASH_ESUCCESS, DRCRASH_UNWIND_NONE, 0, 0, kNone, {}},
      // frame, offset field 1, r15's code in the first slot / in the second
      {kDrcrashCpuTypeX86_64, 0x01010005, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAME, -8, 0, kNone, {16}},
      {kDrcrashCpuTypeX86_64, 0x01010028, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAME, -8, 0, kNone, {kNone, 16}},
      {kDrcrashCpuTypeX86_64, 0x01020007, DRCRASH_EINVAL, 0, 0, 0, kNone, {}},  // code 7
      {kDrcrashCpuTypeX86, 0x01030001 | (6u << 3), DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAME, -12, 0, kNone, {6, 1}},
      // frameless immediate: 0x10 words, no registers; two registers rbx, r12 (permutation 0)
      {kDrcrashCpuTypeX86_64, 0x02100000, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAMELESS_IMMEDIATE, 0x80, 0, kNone, {}},
      {kDrcrashCpuTypeX86_64, 0x02040800, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAMELESS_IMMEDIATE, 0x20, 0, kNone, {4, 13}},
      // frameless indirect: immediate at +0x14, adjust 3 words, one register
      {kDrcrashCpuTypeX86_64, 0x03146405, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAMELESS_INDIRECT, 0x14, 24, kNone, {1}},
      {kDrcrashCpuTypeX86_64, 0x04123456, DRCRASH_ESUCCESS, DRCRASH_UNWIND_DWARF, 0x123456, 0, kNone, {}},
      {kDrcrashCpuTypeX86_64, 0x05000000, DRCRASH_ENOTSUP, 0, 0, 0, kNone, {}},
      // arm64: frameless 0x30 x 16 bytes with x20/x19 and x28/x27; frame with x22/x21; DWARF; mode 1 unknown
      {kDrcrashCpuTypeArm64, 0x02030011, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAMELESS_IMMEDIATE, 0x300, 0, 32, {31, 30, 23, 22}},
      {kDrcrashCpuTypeArm64, 0x04000002, DRCRASH_ESUCCESS, DRCRASH_UNWIND_FRAME, -16, 0, kNone, {25, 24}},
      {kDrcrashCpuTypeArm64, 0x03000040, DRCRASH_ESUCCESS, DRCRASH_UNWIND_DWARF, 0x40, 0, kNone, {}},
      {kDrcrashCpuTypeArm64, 0x01000000, DRCRASH_ENOTSUP, 0, 0, 0, kNone, {}},
  };
  for (const auto& c : cases) {
    drcrash_async_unwind_entry entry;
    ASSERT_EQ(drcrash_async_unwind_entry_decode(&entry, c.cpu, c.encoding), c.error) << std::hex << c.encoding;
    if (c.error != DRCRASH_ESUCCESS) continue;
    EXPECT_EQ(entry.kind, c.kind) << std::hex << c.encoding;
    EXPECT_EQ(entry.stack_offset, c.offset) << std::hex << c.encoding;
    EXPECT_EQ(entry.stack_adjust, c.adjust) << std::hex << c.encoding;
    EXPECT_EQ(entry.return_address_register, c.returnRegister) << std::hex << c.encoding;
    EXPECT_EQ(std::vector<std::uint32_t>(entry.saved_registers, entry.saved_registers + entry.saved_register_count), c.registers)
        << std::hex << c.encoding;
  }
}

TEST(CompactUnwindTest, PermutationsNameDistinctRegistersForEveryCount) {
  for (std::uint32_t count = 0; count <= 6; ++count) {
    // 6!/(6-n)! distinct values for n of 6 registers; n = 6 has as many as n = 5.
    std::uint32_t values = 1;
    for (std::uint32_t i = 0; i < count && i < 5; ++i) values *= 6 - i;
    std::set<std::vector<std::uint32_t>> seen;
    for (std::uint32_t p = 0; p < values; ++p) {
      std::uint32_t registers[6] = {};
      ASSERT_EQ(drcrash_async_unwind_permutation_decode(p, count, kDrcrashCpuTypeX86_64, registers), DRCRASH_ESUCCESS)
          << count << " " << p;
      const std::vector<std::uint32_t> list(registers, registers + count);
      EXPECT_EQ(std::set<std::uint32_t>(list.begin(), list.end()).size(), count) << "no register twice: " << count << " " << p;
      EXPECT_TRUE(seen.insert(list).second) << "each value its own order: " << count << " " << p;
    }
  }
  std::uint32_t registers[7];
  EXPECT_EQ(drcrash_async_unwind_permutation_decode(0, 7, kDrcrashCpuTypeX86_64, registers), DRCRASH_EINVAL);
  // 3 registers, digits 2, 1, 0: r13, r12, rbx.
  ASSERT_EQ(drcrash_async_unwind_permutation_decode(2 * 20 + 1 * 4 + 0, 3, kDrcrashCpuTypeX86_64, registers), DRCRASH_ESUCCESS);
  EXPECT_EQ(std::vector<std::uint32_t>(registers, registers + 3), (std::vector<std::uint32_t>{14, 13, 4}));
}

drcrash_async_thread_state stateWith(std::initializer_list<std::pair<std::uint32_t, std::uint64_t>> registers) {
  drcrash_async_thread_state state;
  for (const auto& [reg, value] : registers) drcrash_async_thread_state_set_reg(&state, reg, value);
  return state;
}

TEST(CompactUnwindTest, AppliesEntriesToAStackInMemory) {
  // A frame-based function: [fp] = caller's fp, [fp+8] = return address, rbx and r15 saved at fp-16, fp-8.
  std::uint64_t stack[8] = {0, 0x1111, 0x2222, 0xCA11E7F9, 0x4010AD};
  const auto fp = reinterpret_cast<std::uint64_t>(&stack[3]);
  drcrash_async_unwind_entry entry;
  ASSERT_EQ(drcrash_async_unwind_entry_decode(&entry, kDrcrashCpuTypeX86_64, 0x01020000 | 1 | (5u << 3)), DRCRASH_ESUCCESS);
  drcrash_async_thread_state next;
  const drcrash_async_thread_state framed = stateWith({{DRCRASH_REG_FP, fp}, {DRCRASH_REG_SP, fp - 64}, {3, 7}});
  ASSERT_EQ(drcrash_async_unwind_entry_apply(0, &framed, &entry, &next), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_IP), 0x4010ADu);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_FP), 0xCA11E7F9u);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_SP), fp + 16);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, 4), 0x1111u);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, 16), 0x2222u);
  EXPECT_FALSE(drcrash_async_thread_state_has_reg(&next, 3)) << "volatile registers are cleared";
  const drcrash_async_thread_state empty;
  EXPECT_EQ(drcrash_async_unwind_entry_apply(0, &empty, &entry, &next), DRCRASH_ENOTFOUND) << "no frame pointer";

  // Frameless, no registers: the return address is the top word of the frame.
  std::uint64_t frameless[4] = {0, 0, 0, 0x4020BE};
  ASSERT_EQ(drcrash_async_unwind_entry_decode(&entry, kDrcrashCpuTypeX86_64, 0x02040000), DRCRASH_ESUCCESS);
  const drcrash_async_thread_state leaf = stateWith({{DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(frameless)}});
  ASSERT_EQ(drcrash_async_unwind_entry_apply(0, &leaf, &entry, &next), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_IP), 0x4020BEu);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_SP), reinterpret_cast<std::uint64_t>(frameless + 4));

  // Frameless indirect: the stack size is an immediate inside the function's code, plus the adjust.
  std::uint8_t code[32] = {};
  const std::uint32_t immediate = 24;
  std::memcpy(code + 0x14, &immediate, 4);
  std::uint64_t indirect[4] = {0, 0, 0x3333, 0x4030CF};  // rbx saved below the return address
  ASSERT_EQ(drcrash_async_unwind_entry_decode(&entry, kDrcrashCpuTypeX86_64, 0x03142400), DRCRASH_ESUCCESS);
  const drcrash_async_thread_state deep = stateWith({{DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(indirect)}});
  ASSERT_EQ(drcrash_async_unwind_entry_apply(reinterpret_cast<std::uint64_t>(code), &deep, &entry, &next), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_IP), 0x4030CFu);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, 4), 0x3333u);
  // Unreadable immediate: the read's error comes back.
  EXPECT_EQ(drcrash_async_unwind_entry_apply(8, &deep, &entry, &next), DRCRASH_ENOTFOUND);

  ASSERT_EQ(drcrash_async_unwind_entry_decode(&entry, kDrcrashCpuTypeX86_64, 0x04000010), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_unwind_entry_apply(0, &leaf, &entry, &next), DRCRASH_ENOTSUP);
}

}  // namespace
}  // namespace crashreporter
