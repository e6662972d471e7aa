#pragma once
// NumberFormatter: decimal numbers to text and back in a locale ("1,234.5" in
// en_US, "1’234.5" in de_CH), with optional grouping and bounds on the number
// of fraction digits. Also localizedStandardCompare, the ordering used for
// names shown in lists.
//
// Owned by whoever formats. Any thread: calls (setters included) are
// serialised by an internal mutex, because the underlying formatter is not
// safe for concurrent use.
//
// Guarantees: fraction digits beyond the maximum are rounded half-to-even;
// parsing accepts only a whole string in the locale's format (grouping
// separators allowed) and reports anything else as an Error.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace platform {

inline constexpr const char* kNumberFormatterErrorDomain = "NumberFormatterErrorDomain";
enum class NumberFormatterErrorCode { UnknownLocale = 1, ParseFailed = 2, FormatterUnavailable = 3 };

class NumberFormatter {
 public:
  // An empty locale id means the current locale. Defaults: grouping on,
  // 0 to 3 fraction digits.
  static Result<NumberFormatter> create(std::string_view localeId = {});

  NumberFormatter(NumberFormatter&&) noexcept;
  NumberFormatter& operator=(NumberFormatter&&) noexcept;
  ~NumberFormatter();

  bool usesGroupingSeparator() const;
  void setUsesGroupingSeparator(bool uses);
  int minimumFractionDigits() const;
  // Raises the maximum too when it would fall below the minimum.
  void setMinimumFractionDigits(int digits);
  int maximumFractionDigits() const;
  // Lowers the minimum too when it would rise above the maximum.
  void setMaximumFractionDigits(int digits);

  std::string stringFromNumber(double number) const;
  std::string stringFromNumber(std::int64_t number) const;
  Result<double> numberFromString(std::string_view text) const;

  const std::string& localeIdentifier() const;

 private:
  struct Impl;
  explicit NumberFormatter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Orders strings the way people expect names in a list: by the current
// locale's collation, ignoring case, and comparing runs of digits by their
// numeric value ("Clip 2" < "Clip 10"). Strings that differ only in case are
// still ordered (lower case first), so sorting is deterministic; 0 means the
// strings are canonically equivalent. Returns -1, 0 or 1. Invalid UTF-8
// sequences compare as U+FFFD. Thread-safe.
int localizedStandardCompare(std::string_view a, std::string_view b);
// The same with an explicit locale id ("sv_SE", "en_US_POSIX").
int localizedStandardCompare(std::string_view a, std::string_view b, std::string_view localeId);

}  // namespace platform
