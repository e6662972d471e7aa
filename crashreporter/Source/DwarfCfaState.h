#pragma once
// dwarf_cfa_state: the rule table call-frame instructions build. Fixed
// storage, no heap: 100 register rules shared by 6 levels (remember/restore
// state), looked up through 14 buckets per level. Async-signal-safe.

#include <cstdint>

namespace crashreporter::drcrash::async {

enum drcrash_dwarf_cfa_reg_rule_t : std::uint8_t {
  DRCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,
  DRCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
  DRCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,
  DRCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,
  DRCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
  DRCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
};

enum class CfaRuleKind : std::uint8_t { Undefined = 0, Expression = 1, RegisterOffset = 2, RegisterSignedOffset = 3 };

template <typename T, typename ST>
struct dwarf_cfa_rule {
  CfaRuleKind kind = CfaRuleKind::Undefined;
  std::uint32_t reg = 0;
  T offset = 0;                 // RegisterOffset
  ST signed_offset = 0;         // RegisterSignedOffset
  std::uint64_t expression = 0; // Expression: address of the first byte
  std::uint64_t expression_length = 0;
};

template <typename T, typename ST>
class dwarf_cfa_state {
 public:
  static constexpr std::uint8_t kMaxRules = 100;
  static constexpr std::uint8_t kMaxLevels = 6;
  static constexpr std::uint8_t kBuckets = 14;
  static constexpr std::uint8_t kEnd = 255;

  dwarf_cfa_state() {
    for (std::uint8_t i = 0; i < kMaxRules; ++i) entries_[i].next = i + 1 < kMaxRules ? i + 1 : kEnd;
    free_ = 0;
    for (auto& bucket : buckets_[0]) bucket = kEnd;
  }

  bool set_register(std::uint32_t reg, drcrash_dwarf_cfa_reg_rule_t rule, T value) {
    std::uint8_t* link = &buckets_[level_][reg % kBuckets];
    while (*link != kEnd) {
      Entry& e = entries_[*link];
      if (e.reg == reg) {
        e.rule = rule;
        e.value = value;
        return true;
      }
      link = &e.next;
    }
    if (free_ == kEnd) return false;
    const std::uint8_t index = free_;
    free_ = entries_[index].next;
    entries_[index] = Entry{reg, rule, value, kEnd};
    *link = index;
    ++counts_[level_];
    return true;
  }

  bool get_register_rule(std::uint32_t reg, drcrash_dwarf_cfa_reg_rule_t* rule, T* value) const {
    for (std::uint8_t i = buckets_[level_][reg % kBuckets]; i != kEnd; i = entries_[i].next) {
      if (entries_[i].reg == reg) {
        *rule = entries_[i].rule;
        *value = entries_[i].value;
        return true;
      }
    }
    return false;
  }

  void remove_register(std::uint32_t reg) {
    std::uint8_t* link = &buckets_[level_][reg % kBuckets];
    while (*link != kEnd) {
      const std::uint8_t index = *link;
      if (entries_[index].reg == reg) {
        *link = entries_[index].next;
        entries_[index].next = free_;
        free_ = index;
        --counts_[level_];
      } else {
        link = &entries_[index].next;
      }
    }
  }

  std::uint8_t get_register_count() const { return counts_[level_]; }

  void set_cfa_register(std::uint32_t reg, T offset) {
    cfa_[level_] = dwarf_cfa_rule<T, ST>{CfaRuleKind::RegisterOffset, reg, offset, 0, 0, 0};
  }
  void set_cfa_register_signed(std::uint32_t reg, ST offset) {
    cfa_[level_] = dwarf_cfa_rule<T, ST>{CfaRuleKind::RegisterSignedOffset, reg, 0, offset, 0, 0};
  }
  void set_cfa_expression(std::uint64_t address, std::uint64_t length) {
    cfa_[level_] = dwarf_cfa_rule<T, ST>{CfaRuleKind::Expression, 0, 0, 0, address, length};
  }
  const dwarf_cfa_rule<T, ST>& get_cfa_rule() const { return cfa_[level_]; }
  dwarf_cfa_rule<T, ST>& cfa_rule() { return cfa_[level_]; }

  bool push_state() {
    if (level_ + 1 >= kMaxLevels) return false;
    // The new level starts as a copy of this one; it must fit in the free entries.
    std::uint8_t available = 0;
    for (std::uint8_t i = free_; i != kEnd; i = entries_[i].next) ++available;
    if (available < counts_[level_]) return false;
    const std::uint8_t below = level_;
    ++level_;
    for (auto& bucket : buckets_[level_]) bucket = kEnd;
    counts_[level_] = 0;
    cfa_[level_] = cfa_[below];
    for (std::uint8_t b = 0; b < kBuckets; ++b) {
      for (std::uint8_t i = buckets_[below][b]; i != kEnd; i = entries_[i].next) {
        set_register(entries_[i].reg, entries_[i].rule, entries_[i].value);
      }
    }
    return true;
  }

  bool pop_state() {
    if (level_ == 0) return false;
    for (std::uint8_t b = 0; b < kBuckets; ++b) {
      std::uint8_t i = buckets_[level_][b];
      while (i != kEnd) {
        const std::uint8_t next = entries_[i].next;
        entries_[i].next = free_;
        free_ = i;
        i = next;
      }
    }
    --level_;
    return true;
  }

  // Visits every rule of the current level: visit(reg, rule, value).
  template <typename Visit>
  void for_each_rule(Visit visit) const {
    for (std::uint8_t b = 0; b < kBuckets; ++b) {
      for (std::uint8_t i = buckets_[level_][b]; i != kEnd; i = entries_[i].next) {
        visit(entries_[i].reg, entries_[i].rule, entries_[i].value);
      }
    }
  }

 private:
  struct Entry {
    std::uint32_t reg = 0;
    drcrash_dwarf_cfa_reg_rule_t rule = DRCRASH_DWARF_CFA_REG_RULE_OFFSET;
    T value = 0;
    std::uint8_t next = kEnd;
  };

  Entry entries_[kMaxRules];
  std::uint8_t buckets_[kMaxLevels][kBuckets] = {};
  std::uint8_t counts_[kMaxLevels] = {};
  dwarf_cfa_rule<T, ST> cfa_[kMaxLevels] = {};
  std::uint8_t level_ = 0;
  std::uint8_t free_ = 0;
};

}  // namespace crashreporter::drcrash::async
