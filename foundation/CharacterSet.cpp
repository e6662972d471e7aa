#include "foundation/CharacterSet.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/uniset.h>

#include "foundation/Utf16.h"

namespace foundation {

// A frozen set answers contains() from any thread without locking.
struct CharacterSet::Impl {
  icu::UnicodeSet set;
};

namespace {

std::shared_ptr<const CharacterSet::Impl> freeze(icu::UnicodeSet set) {
  auto impl = std::make_shared<CharacterSet::Impl>();
  impl->set = std::move(set);
  impl->set.freeze();
  return impl;
}

icu::UnicodeSet categories(std::int32_t mask) {
  icu::UnicodeSet set;
  UErrorCode status = U_ZERO_ERROR;
  set.applyIntPropertyValue(UCHAR_GENERAL_CATEGORY_MASK, mask, status);
  if (U_FAILURE(status)) set.clear();  // ICU data missing: an empty set rather than a guess
  return set;
}

}  // namespace

CharacterSet::CharacterSet(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

CharacterSet CharacterSet::decimalDigits() {
  static const auto impl = freeze(categories(U_GC_ND_MASK));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::whitespaces() {
  static const auto impl = freeze(categories(U_GC_ZS_MASK).add(0x09));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::whitespacesAndNewlines() {
  static const auto impl = freeze(categories(U_GC_Z_MASK).add(0x09).add(0x0A, 0x0D).add(0x85));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::letters() {
  static const auto impl = freeze(categories(U_GC_L_MASK | U_GC_M_MASK));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::alphanumerics() {
  static const auto impl = freeze(categories(U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::punctuation() {
  static const auto impl = freeze(categories(U_GC_P_MASK));
  return CharacterSet(impl);
}

CharacterSet CharacterSet::withCharactersInString(std::string_view characters) {
  icu::UnicodeSet set;
  for (std::size_t i = 0; i < characters.size();) set.add(static_cast<UChar32>(nextCodePoint(characters, i)));
  return CharacterSet(freeze(std::move(set)));
}

CharacterSet CharacterSet::withRange(char32_t first, char32_t last) {
  icu::UnicodeSet set;
  if (first <= last && first <= 0x10FFFF) set.add(static_cast<UChar32>(first), static_cast<UChar32>(std::min<char32_t>(last, 0x10FFFF)));
  return CharacterSet(freeze(std::move(set)));
}

CharacterSet CharacterSet::inverted() const {
  // A copy of a frozen set stays frozen and ignores changes, so start empty.
  icu::UnicodeSet set;
  set.addAll(impl_->set).complement();
  return CharacterSet(freeze(std::move(set)));
}

bool CharacterSet::contains(char32_t character) const {
  return character <= 0x10FFFF && impl_->set.contains(static_cast<UChar32>(character));
}

}  // namespace foundation
