#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crashreporter/Source/DwarfCfaProgram.h"
#include "crashreporter/Source/DwarfExpression.h"
#include "crashreporter/Source/DwarfFrameInfo.h"

namespace crashreporter::drcrash::async {
namespace {

using Bytes = std::vector<std::uint8_t>;
const drcrash_async_byteorder* const kNative = &drcrash_async_byteorder_native;

std::uint64_t at(const Bytes& bytes, std::size_t offset = 0) {
  return reinterpret_cast<std::uint64_t>(bytes.data()) + offset;
}

drcrash_async_mobject window(const Bytes& bytes) {
  drcrash_async_mobject mobj;
  EXPECT_EQ(drcrash_async_mobject_init(&mobj, at(bytes), bytes.size(), true), DRCRASH_ESUCCESS);
  return mobj;
}

std::string hex(const Bytes& bytes) {
  std::string out;
  char b[4];
  for (auto v : bytes) out += (std::snprintf(b, sizeof b, "%02x ", v), b);
  return out;
}

TEST(DwarfEncodingTest, ReadsLeb128AsTheTableSays) {
  const struct {
    Bytes bytes;
    drcrash_error_t error;
    std::uint64_t unsignedValue;
    std::int64_t signedValue;
  } cases[] = {
      {{0x00}, DRCRASH_ESUCCESS, 0, 0},
      {{0x7f}, DRCRASH_ESUCCESS, 127, -1},
      {{0x80, 0x01}, DRCRASH_ESUCCESS, 128, 128},
      {{0x80, 0x7f}, DRCRASH_ESUCCESS, 0x3f80, -128},
      {{0xe5, 0x8e, 0x26}, DRCRASH_ESUCCESS, 624485, 624485},
      {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}, DRCRASH_ESUCCESS, ~0ull, -1},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, DRCRASH_ENOTSUP, 0, 0},
      {{0x80}, DRCRASH_EINVAL, 0, 0},
  };
  for (const auto& c : cases) {
    auto mobj = window(c.bytes);
    std::uint64_t u = 0, size = 0;
    std::int64_t s = 0;
    EXPECT_EQ(read_uleb128(&mobj, at(c.bytes), 0, &u, &size), c.error) << hex(c.bytes);
    EXPECT_EQ(read_sleb128(&mobj, at(c.bytes), 0, &s, &size), c.error) << hex(c.bytes);
    if (c.error == DRCRASH_ESUCCESS) {
      EXPECT_EQ(u, c.unsignedValue) << hex(c.bytes);
      EXPECT_EQ(s, c.signedValue) << hex(c.bytes);
      EXPECT_EQ(size, c.bytes.size());
    }
  }
}

TEST(DwarfEncodingTest, DecodesPointerEncodings) {
  static std::uint64_t target = 0x1122334455667788ull;
  Bytes indirect(8);
  const std::uint64_t targetAddress = reinterpret_cast<std::uint64_t>(&target);
  std::memcpy(indirect.data(), &targetAddress, 8);
  const Bytes minus16 = {0xf0, 0xff, 0xff, 0xff};
  const Bytes udata4 = {0x78, 0x56, 0x34, 0x12};
  gnu_ehptr_reader<std::uint64_t> reader(kNative);
  std::uint64_t value, size;

  auto m1 = window(minus16);
  ASSERT_EQ(reader.read(&m1, at(minus16), 0, 0x1b, &value, &size), DRCRASH_ESUCCESS);
  EXPECT_EQ(value, at(minus16) - 16);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0x50, &value, &size), DRCRASH_ENOTSUP) << "aligned without a base";
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0x30, &value, &size), DRCRASH_ENOTSUP) << "datarel without a base";
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0x05, &value, &size), DRCRASH_ENOTSUP) << "format 5";
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0x60, &value, &size), DRCRASH_ENOTSUP) << "application 6";
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0xff, &value, &size), DRCRASH_ENOTFOUND) << "omit";
  EXPECT_EQ(reader.read(&m1, at(minus16), 0, 0x04, &value, &size), DRCRASH_EINVAL) << "8 bytes past a 4-byte window";

  auto m2 = window(udata4);
  ASSERT_EQ(reader.read(&m2, at(udata4), 0, 0x03, &value, &size), DRCRASH_ESUCCESS);
  EXPECT_EQ(value, 0x12345678u);
  reader.set_data_base(0x1000);
  ASSERT_EQ(reader.read(&m2, at(udata4), 0, 0x3b, &value, &size), DRCRASH_ESUCCESS);
  EXPECT_EQ(value, 0x1000u + 0x12345678u);

  auto m3 = window(indirect);
  ASSERT_EQ(reader.read(&m3, at(indirect), 0, 0x80, &value, &size), DRCRASH_ESUCCESS);
  EXPECT_EQ(value, target);
}

// Builds .eh_frame records with 32-bit lengths.
class EhFrameBuilder {
 public:
  std::size_t cie(std::uint8_t version, const std::string& augmentation, const Bytes& augmentationData,
                  const Bytes& instructions, std::uint32_t id = 0) {
    const std::size_t start = bytes_.size();
    Bytes body;
    append32(body, id);
    body.push_back(version);
    body.insert(body.end(), augmentation.begin(), augmentation.end());
    body.push_back(0);
    if (version == 4) body.insert(body.end(), {8, 0});
    body.insert(body.end(), {0x01, 0x78, 0x10});  // code align 1, data align -8, return address column 16
    if (!augmentation.empty() && augmentation[0] == 'z') {
      body.push_back(static_cast<std::uint8_t>(augmentationData.size()));
      body.insert(body.end(), augmentationData.begin(), augmentationData.end());
    }
    body.insert(body.end(), instructions.begin(), instructions.end());
    append32(bytes_, static_cast<std::uint32_t>(body.size()));
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return start;
  }

  // An FDE with absolute 8-byte addresses (for a CIE without 'R').
  std::size_t fde(std::size_t cieStart, std::uint64_t start, std::uint64_t range, const Bytes& instructions,
                  bool augmented = false) {
    const std::size_t begin = bytes_.size();
    Bytes body;
    append32(body, static_cast<std::uint32_t>(begin + 4 - cieStart));
    append64(body, start);
    append64(body, range);
    if (augmented) body.push_back(0);
    body.insert(body.end(), instructions.begin(), instructions.end());
    append32(bytes_, static_cast<std::uint32_t>(body.size()));
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return begin;
  }

  void terminator() { append32(bytes_, 0); }
  const Bytes& bytes() const { return bytes_; }

 private:
  static void append32(Bytes& b, std::uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); }
  static void append64(Bytes& b, std::uint64_t v) { for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); }
  Bytes bytes_;
};

TEST(DwarfFrameInfoTest, ParsesCiesAsTheTableSays) {
  const struct {
    const char* name;
    std::uint8_t version;
    std::string augmentation;
    Bytes data;
    drcrash_error_t error;
    bool pointerEncoding, lsda, personality, signal;
  } cases[] = {
      {"version 1, no augmentation", 1, "", {}, DRCRASH_ESUCCESS, false, false, false, false},
      {"version 3 zR", 3, "zR", {0x1b}, DRCRASH_ESUCCESS, true, false, false, false},
      {"version 4", 4, "", {}, DRCRASH_ESUCCESS, false, false, false, false},
      {"zPLR", 1, "zPLR", {0x03, 0x00, 0x10, 0x00, 0x00, 0x1b, 0x1b}, DRCRASH_ESUCCESS, true, true, true, false},
      {"zPLRS", 1, "zPLRS", {0x03, 0x00, 0x10, 0x00, 0x00, 0x1b, 0x1b}, DRCRASH_ESUCCESS, true, true, true, true},
      {"version 2", 2, "", {}, DRCRASH_EINVAL, false, false, false, false},
      {"augmentation eh", 1, "eh", {}, DRCRASH_ENOTSUP, false, false, false, false},
  };
  for (const auto& c : cases) {
    EhFrameBuilder builder;
    builder.cie(c.version, c.augmentation, c.data, {0x0c, 0x07, 0x08, 0x90, 0x01});
    const Bytes& bytes = builder.bytes();
    auto mobj = window(bytes);
    const gnu_ehptr_reader<std::uint64_t> reader(kNative);
    drcrash_async_dwarf_cie_info cie;
    ASSERT_EQ((drcrash_async_dwarf_cie_info_init<std::uint64_t>(&cie, &mobj, kNative, &reader, at(bytes))), c.error) << c.name;
    if (c.error != DRCRASH_ESUCCESS) continue;
    EXPECT_EQ(cie.cie_version, c.version) << c.name;
    EXPECT_EQ(cie.code_alignment_factor, 1u);
    EXPECT_EQ(cie.data_alignment_factor, -8);
    EXPECT_EQ(cie.return_address_register, 16u);
    EXPECT_EQ(cie.has_pointer_encoding, c.pointerEncoding) << c.name;
    EXPECT_EQ(cie.has_lsda_encoding, c.lsda) << c.name;
    EXPECT_EQ(cie.has_personality_address, c.personality) << c.name;
    if (c.personality) {
      EXPECT_EQ(cie.personality_address, 0x1000u) << c.name;
    }
    EXPECT_EQ(cie.signal_frame, c.signal) << c.name;
    EXPECT_EQ(cie.initial_instructions_length, 5u) << c.name;
  }
  EhFrameBuilder badId;
  badId.cie(1, "", {}, {}, 7);
  auto mobj = window(badId.bytes());
  const gnu_ehptr_reader<std::uint64_t> reader(kNative);
  drcrash_async_dwarf_cie_info cie;
  EXPECT_EQ((drcrash_async_dwarf_cie_info_init<std::uint64_t>(&cie, &mobj, kNative, &reader, at(badId.bytes()))), DRCRASH_EINVAL);
}

TEST(DwarfFrameInfoTest, FindsTheFdeThatHoldsAnAddressAndStopsAtTheTerminator) {
  EhFrameBuilder builder;
  const std::size_t cie = builder.cie(1, "", {}, {0x0c, 0x07, 0x08});
  const std::size_t first = builder.fde(cie, 0x1000, 0x100, {0x0e, 0x10});
  builder.fde(cie, 0x2000, 0x10, {});
  builder.terminator();
  builder.fde(cie, 0x3000, 0x10, {});
  const Bytes& bytes = builder.bytes();
  auto mobj = window(bytes);
  drcrash_async_dwarf_fde_info fde;
  const auto find = [&](std::uint64_t pc) {
    return drcrash_async_cfi_find_fde<std::uint64_t>(&mobj, kNative, false, at(bytes), pc, &fde);
  };
  ASSERT_EQ(find(0x1050), DRCRASH_ESUCCESS);
  EXPECT_EQ(fde.pc_start, 0x1000u);
  EXPECT_EQ(fde.pc_end, 0x1100u);
  EXPECT_EQ(fde.instructions_length, 2u);
  EXPECT_EQ(fde.cie_offset, at(bytes));
  ASSERT_EQ(find(0x2000), DRCRASH_ESUCCESS);
  EXPECT_EQ(find(0x1100), DRCRASH_ENOTFOUND) << "the range end is exclusive";
  EXPECT_EQ(find(0x3000), DRCRASH_ENOTFOUND) << "behind the terminator";

  // An FDE whose CIE pointer reaches below address zero.
  Bytes broken = bytes;
  broken[first + 7] = 0xff;  // the top byte of the first FDE's CIE pointer
  auto brokenWindow = window(broken);
  EXPECT_EQ((drcrash_async_cfi_find_fde<std::uint64_t>(&brokenWindow, kNative, false, at(broken), 0x1050, &fde)),
            DRCRASH_EINVAL);
}

using State = dwarf_cfa_state<std::uint64_t, std::int64_t>;

drcrash_error_t run(State* state, const Bytes& program) {
  drcrash_async_dwarf_cie_info cie;
  cie.code_alignment_factor = 1;
  cie.data_alignment_factor = -8;
  cie.return_address_register = 16;
  auto mobj = window(program);
  return eval_program<std::uint64_t, std::int64_t>(state, &mobj, false, 0, 0, &cie, nullptr, kNative, at(program), 0,
                                                   program.size());
}

TEST(DwarfCfaProgramTest, RunsProgramsWithinTheirLimits) {
  const struct {
    const char* name;
    Bytes program;
    drcrash_error_t error;
  } cases[] = {
      {"five remember-states", Bytes(5, 0x0a), DRCRASH_ESUCCESS},
      {"six remember-states", Bytes(6, 0x0a), DRCRASH_ENOMEM},
      {"restore-state at level 0", {0x0b}, DRCRASH_EINVAL},
      {"def_cfa_register without a CFA rule", {0x0d, 0x06}, DRCRASH_EINVAL},
      {"args size is accepted", {0x0c, 0x07, 0x08, 0x2e, 0x10}, DRCRASH_ESUCCESS},
      {"an unknown opcode", {0x2d}, DRCRASH_ENOTSUP},
      {"an operand past the end", {0x0c, 0x07}, DRCRASH_EINVAL},
      {"a register above 32 bits", {0x07, 0x80, 0x80, 0x80, 0x80, 0x10}, DRCRASH_ENOTSUP},
  };
  for (const auto& c : cases) {
    State state;
    EXPECT_EQ(run(&state, c.program), c.error) << c.name;
  }
  Bytes many;
  for (std::uint32_t reg = 0; reg < 101; ++reg) many.insert(many.end(), {0x05, static_cast<std::uint8_t>(reg), 0x01});
  State full;
  EXPECT_EQ(run(&full, many), DRCRASH_ENOMEM) << "101 registers";
}

TEST(DwarfCfaProgramTest, RememberAndRestoreKeepAndDiscardRules) {
  State state;
  // offset r3 at cfa-8; remember; offset r4; args size; restore.
  ASSERT_EQ(run(&state, {0x0c, 0x07, 0x10, 0x83, 0x01, 0x0a, 0x84, 0x02}), DRCRASH_ESUCCESS);
  drcrash_dwarf_cfa_reg_rule_t rule;
  std::uint64_t value;
  EXPECT_TRUE(state.get_register_rule(3, &rule, &value)) << "set before remember, still in effect";
  EXPECT_TRUE(state.get_register_rule(4, &rule, &value));
  EXPECT_EQ(state.get_cfa_rule().offset, 16u);
  ASSERT_EQ(run(&state, {0x0b}), DRCRASH_ESUCCESS);
  EXPECT_TRUE(state.get_register_rule(3, &rule, &value));
  EXPECT_EQ(value, static_cast<std::uint64_t>(-8));
  EXPECT_FALSE(state.get_register_rule(4, &rule, &value)) << "discarded with the level";
}

TEST(DwarfCfaProgramTest, AppliesRulesToRecoverTheCallersRegisters) {
  std::uint64_t stack[4] = {0, 0x4242, 0x99, 0};
  State state;
  // CFA = rsp + 16; return address (column 16) at CFA - 8; rbx (3) at CFA - 0 (stack[2]).
  ASSERT_EQ(run(&state, {0x0c, 0x07, 0x10, 0x90, 0x01, 0x83, 0x00}), DRCRASH_ESUCCESS);
  drcrash_async_dwarf_cie_info cie;
  cie.return_address_register = 16;
  drcrash_async_thread_state current;
  drcrash_async_thread_state_set_reg(&current, DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(stack));
  drcrash_async_thread_state_set_reg(&current, DRCRASH_REG_IP, 0x1234);
  drcrash_async_thread_state_set_reg(&current, 3, 7);  // rax: volatile, dropped
  drcrash_async_thread_state next;
  ASSERT_EQ((apply_state<std::uint64_t, std::int64_t>(&state, &cie, &current, kNative, &next)), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_IP), 0x4242u);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_SP), reinterpret_cast<std::uint64_t>(stack) + 16);
  EXPECT_EQ(drcrash_async_thread_state_get_reg(&next, 4), 0x99u) << "rbx from its rule";
  EXPECT_FALSE(drcrash_async_thread_state_has_reg(&next, 3));
}

TEST(DwarfExpressionTest, EvaluatesAndRefusesAsTheTableSays) {
  const struct {
    const char* name;
    Bytes expression;
    drcrash_error_t error;
    std::uint64_t result;
  } cases[] = {
      {"lit5 lit3 minus", {0x35, 0x33, 0x1c}, DRCRASH_ESUCCESS, 2},
      {"division by zero", {0x35, 0x30, 0x1b}, DRCRASH_EINVAL, 0},
      {"logical shift right", {0x0e, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x31, 0x25}, DRCRASH_ESUCCESS,
       0x7fffffffffffffffull},
      {"arithmetic shift right", {0x0e, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x31, 0x26}, DRCRASH_ESUCCESS, ~0ull},
      {"empty stack", {0x96}, DRCRASH_EINVAL, 0},
      {"skip loop", {0x2f, 0xfd, 0xff}, DRCRASH_EINVAL, 0},
      {"bra taken", {0x31, 0x28, 0x01, 0x00, 0x32, 0x33}, DRCRASH_ESUCCESS, 3},
      {"skip out of the expression", {0x2f, 0x10, 0x00}, DRCRASH_EINVAL, 0},
      {"breg7 + 8", {0x77, 0x08}, DRCRASH_ESUCCESS, 0x1008},
      {"breg of an unknown register", {0x70 + 16, 0x00}, DRCRASH_ENOTSUP, 0},
      {"breg of an unset register", {0x70 + 0, 0x00}, DRCRASH_ENOTFOUND, 0},
      {"DW_OP_addr is not supported", {0x03, 0, 0, 0, 0, 0, 0, 0, 0}, DRCRASH_ENOTSUP, 0},
      {"pick past the depth", {0x31, 0x15, 0x01}, DRCRASH_EINVAL, 0},
      {"deref_size 3", {0x31, 0x94, 0x03}, DRCRASH_EINVAL, 0},
      {"comparisons", {0x32, 0x33, 0x2d}, DRCRASH_ESUCCESS, 1},
  };
  drcrash_async_thread_state registers;
  drcrash_async_thread_state_set_reg(&registers, DRCRASH_REG_SP, 0x1000);
  for (const auto& c : cases) {
    auto mobj = window(c.expression);
    std::uint64_t result = 0;
    EXPECT_EQ((drcrash_async_dwarf_expression_eval<std::uint64_t, std::int64_t>(&mobj, &registers, kNative, at(c.expression), 0,
                                                                                 c.expression.size(), nullptr, 0, &result)),
              c.error)
        << c.name;
    if (c.error == DRCRASH_ESUCCESS) {
      EXPECT_EQ(result, c.result) << c.name;
    }
  }
}

}  // namespace
}  // namespace crashreporter::drcrash::async
