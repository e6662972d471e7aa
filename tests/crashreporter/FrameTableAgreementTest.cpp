// Our reading of .eh_frame against binutils' readelf on real objects: for
// every FDE of libstdc++ and of this test binary, the FDE found for its start
// and for a middle row has the same range, and the CFA rule at both agrees.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DwarfCfaProgram.h"

namespace crashreporter {
namespace {

using namespace drcrash::async;

struct ReferenceFde {
  std::uint64_t start = 0, end = 0;
  std::vector<std::pair<std::uint64_t, std::string>> rows;  // location, CFA rule as readelf prints it
};

std::vector<ReferenceFde> readelfFrames(const std::string& path) {
  std::vector<ReferenceFde> fdes;
  FILE* pipe = popen((std::string(CRASH_TEST_READELF) + " --debug-dump=frames-interp '" + path + "' 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return fdes;
  std::map<std::uint64_t, std::string> cieRule;  // CIE offset -> its initial CFA rule
  std::string section;
  ReferenceFde* fde = nullptr;
  std::uint64_t cie = 0;
  bool inCie = false;
  std::array<char, 1024> line;
  while (fgets(line.data(), line.size(), pipe) != nullptr) {
    const std::string text = line.data();
    if (text.rfind("Contents of the ", 0) == 0) section = text;
    if (section.find(".eh_frame section") == std::string::npos) continue;
    unsigned long long offset = 0, cieOffset = 0, start = 0, end = 0, location = 0;
    char rule[64];
    if (std::sscanf(text.c_str(), "%llx %*x %*x FDE cie=%llx pc=%llx..%llx", &offset, &cieOffset, &start, &end) == 4) {
      fdes.push_back({start, end, {}});
      fde = &fdes.back();
      cie = cieOffset;
      inCie = false;
    } else if (text.find(" CIE ") != std::string::npos && std::sscanf(text.c_str(), "%llx", &offset) == 1) {
      fde = nullptr;
      cie = offset;
      inCie = true;
    } else if (text.size() > 17 && text[16] == ' ' && std::sscanf(text.c_str(), "%16llx %63s", &location, rule) == 2) {
      if (inCie && cieRule.count(cie) == 0) cieRule[cie] = rule;
      if (fde != nullptr) fde->rows.emplace_back(location, rule);
    } else if (text == "\n" && fde != nullptr && fde->rows.empty() && cieRule.count(cie) != 0) {
      fde->rows.emplace_back(fde->start, cieRule[cie]);  // no rows of its own: the CIE's rule holds
    }
  }
  pclose(pipe);
  return fdes;
}

std::string registerName(std::uint32_t dwarf) {
  static const char* const kNames[] = {"rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp",
                                       "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
  return dwarf < 16 ? kNames[dwarf] : "r" + std::to_string(dwarf);
}

class FrameTableAgreementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drcrash_async_memory_init();
    drcrash_async_loaded_images_init(&images_);
    drcrash_async_loaded_images_refresh(&images_);
  }
  void TearDown() override { drcrash_async_loaded_images_free(&images_); }

  const drcrash_async_image* imageContaining(const std::string& part) {
    for (auto* image = drcrash_async_loaded_images_next(&images_, nullptr); image != nullptr;
         image = drcrash_async_loaded_images_next(&images_, image)) {
      if (std::string(image->name).find(part) != std::string::npos) return image;
    }
    return nullptr;
  }

  // Our CFA rule at `pc` (an in-memory address), as readelf writes it.
  std::string cfaRuleAt(const drcrash_async_image& image, const drcrash_async_dwarf_fde_info& fde, std::uint64_t pc) {
    drcrash_async_mobject section;
    if (drcrash_async_mobject_init(&section, image.unwind_segment_start, image.eh_frame_limit - image.unwind_segment_start,
                                   true) != DRCRASH_ESUCCESS) {
      return "no section";
    }
    const drcrash_async_byteorder* bo = &drcrash_async_byteorder_native;
    const gnu_ehptr_reader<std::uint64_t> reader(bo);
    dwarf_cfa_state<std::uint64_t, std::int64_t> rules;
    if (eval_program<std::uint64_t, std::int64_t>(&rules, &section, false, 0, fde.pc_start, &fde.cie, &reader, bo,
                                                  fde.cie.initial_instructions_offset, 0,
                                                  fde.cie.initial_instructions_length) != DRCRASH_ESUCCESS ||
        eval_program<std::uint64_t, std::int64_t>(&rules, &section, true, pc, fde.pc_start, &fde.cie, &reader, bo,
                                                  fde.instructions_offset, 0, fde.instructions_length) != DRCRASH_ESUCCESS) {
      return "program failed";
    }
    const auto& cfa = rules.get_cfa_rule();
    switch (cfa.kind) {
      case CfaRuleKind::Expression: return "exp";
      case CfaRuleKind::RegisterOffset: return registerName(cfa.reg) + "+" + std::to_string(cfa.offset);
      case CfaRuleKind::RegisterSignedOffset: {
        const std::string sign = cfa.signed_offset < 0 ? "" : "+";
        return registerName(cfa.reg) + sign + std::to_string(cfa.signed_offset);
      }
      default: return "undefined";
    }
  }

  void expectAgreement(const drcrash_async_image& image) {
    const std::vector<ReferenceFde> reference = readelfFrames(image.name);
    ASSERT_GT(reference.size(), 10u) << image.name;
    const drcrash_async_read_cache_scope cache;
    std::size_t mismatches = 0;
    for (const ReferenceFde& expected : reference) {
      if (expected.start == expected.end || expected.rows.empty()) continue;
      const auto& middle = expected.rows[expected.rows.size() / 2];
      for (const auto& [location, rule] : {expected.rows.front(), middle}) {
        drcrash_async_dwarf_fde_info fde;
        const std::uint64_t pc = image.load_bias + location;
        const drcrash_error_t found =
            drcrash_async_eh_frame_hdr_find_fde(image.eh_frame_hdr, image.eh_frame_hdr_size, image.eh_frame_limit, pc, &fde);
        const std::string ours = found == DRCRASH_ESUCCESS ? cfaRuleAt(image, fde, pc) : "not found";
        const bool agree = found == DRCRASH_ESUCCESS && fde.pc_start - image.load_bias == expected.start &&
                           fde.pc_end - image.load_bias == expected.end && ours == rule;
        if (!agree && ++mismatches <= 5) {
          ADD_FAILURE() << image.name << " FDE " << std::hex << expected.start << ".." << expected.end << " at " << location
                        << ": readelf " << rule << ", ours " << ours << " in " << (fde.pc_start - image.load_bias) << ".."
                        << (fde.pc_end - image.load_bias);
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << image.name;
  }

  drcrash_async_loaded_images images_;
};

TEST_F(FrameTableAgreementTest, EveryFdeOfTheCppLibraryAndThisProgramAgreesWithReadelf) {
  for (const char* part : {"libstdc++.so.6", "crashreporter_tests"}) {
    const drcrash_async_image* image = imageContaining(part);
    ASSERT_NE(image, nullptr) << part;
    ASSERT_NE(image->eh_frame_hdr, 0u) << part;
    expectAgreement(*image);
  }
}

}  // namespace
}  // namespace crashreporter
