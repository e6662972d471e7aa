#include "platform/NumberFormatter.h"

#include <unicode/coll.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace platform {
namespace {

Error numberError(NumberFormatterErrorCode code, std::string reason) {
  return Error(kNumberFormatterErrorDomain, code, std::move(reason));
}

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// Fraction digits beyond this are noise for a double.
constexpr int kMaxFractionDigits = 20;

}  // namespace

struct NumberFormatter::Impl {
  mutable std::mutex mutex;
  std::unique_ptr<icu::DecimalFormat> format;  // guarded by mutex
  std::string localeId;
};

NumberFormatter::NumberFormatter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NumberFormatter::NumberFormatter(NumberFormatter&&) noexcept = default;
NumberFormatter& NumberFormatter::operator=(NumberFormatter&&) noexcept = default;
NumberFormatter::~NumberFormatter() = default;

Result<NumberFormatter> NumberFormatter::create(std::string_view localeId) {
  icu::Locale locale = localeId.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(localeId).c_str());
  if (locale.isBogus()) {
    return numberError(NumberFormatterErrorCode::UnknownLocale, "malformed locale id '" + std::string(localeId) + "'");
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> base(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
  auto* decimal = dynamic_cast<icu::DecimalFormat*>(base.get());
  if (U_FAILURE(status) || !decimal) {
    return numberError(NumberFormatterErrorCode::FormatterUnavailable,
                       std::string("no decimal formatter for locale '") + locale.getName() + "' (" +
                           u_errorName(status) + ")");
  }
  base.release();
  auto impl = std::make_unique<Impl>();
  impl->format.reset(decimal);
  impl->format->setGroupingUsed(true);
  impl->format->setMinimumFractionDigits(0);
  impl->format->setMaximumFractionDigits(3);
  // Strict parsing: "1,2,3" or "12abc" is an error, not 123 or 12.
  impl->format->setLenient(false);
  impl->localeId = locale.getName();
  return NumberFormatter(std::move(impl));
}

bool NumberFormatter::usesGroupingSeparator() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->format->isGroupingUsed();
}

void NumberFormatter::setUsesGroupingSeparator(bool uses) {
  std::lock_guard guard(impl_->mutex);
  impl_->format->setGroupingUsed(uses);
}

int NumberFormatter::minimumFractionDigits() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->format->getMinimumFractionDigits();
}

void NumberFormatter::setMinimumFractionDigits(int digits) {
  digits = std::clamp(digits, 0, kMaxFractionDigits);
  std::lock_guard guard(impl_->mutex);
  impl_->format->setMinimumFractionDigits(digits);
}

int NumberFormatter::maximumFractionDigits() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->format->getMaximumFractionDigits();
}

void NumberFormatter::setMaximumFractionDigits(int digits) {
  digits = std::clamp(digits, 0, kMaxFractionDigits);
  std::lock_guard guard(impl_->mutex);
  impl_->format->setMaximumFractionDigits(digits);
}

std::string NumberFormatter::stringFromNumber(double number) const {
  icu::UnicodeString out;
  {
    std::lock_guard guard(impl_->mutex);
    impl_->format->format(number, out);
  }
  return toUtf8(out);
}

std::string NumberFormatter::stringFromNumber(std::int64_t number) const {
  icu::UnicodeString out;
  {
    std::lock_guard guard(impl_->mutex);
    impl_->format->format(static_cast<int64_t>(number), out);
  }
  return toUtf8(out);
}

Result<double> NumberFormatter::numberFromString(std::string_view text) const {
  const icu::UnicodeString input = fromUtf8(text);
  icu::Formattable parsed;
  icu::ParsePosition position(0);
  {
    std::lock_guard guard(impl_->mutex);
    impl_->format->parse(input, parsed, position);
  }
  UErrorCode status = U_ZERO_ERROR;
  const double value = parsed.getDouble(status);
  if (position.getErrorIndex() >= 0 || position.getIndex() == 0 || position.getIndex() != input.length() ||
      U_FAILURE(status)) {
    return numberError(NumberFormatterErrorCode::ParseFailed,
                       "'" + std::string(text) + "' is not a number in locale '" + impl_->localeId + "'");
  }
  return value;
}

const std::string& NumberFormatter::localeIdentifier() const { return impl_->localeId; }

namespace {

// A pair of collators for one locale: the first decides by letters, accents
// and numbers only; the second breaks ties by case and width.
struct StandardCollators {
  std::unique_ptr<icu::Collator> primary;
  std::unique_ptr<icu::Collator> tieBreak;
};

StandardCollators makeCollators(std::string_view localeId) {
  icu::Locale locale = localeId.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(localeId).c_str());
  // The C/POSIX locale maps to a collation that orders upper and lower case as
  // different letters; file-browser order ignores case, so use the root rules.
  if (locale.isBogus() || std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> primary(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !primary) return {};
  primary->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  primary->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
  std::unique_ptr<icu::Collator> tieBreak(primary->clone());
  if (tieBreak) tieBreak->setAttribute(UCOL_STRENGTH, UCOL_IDENTICAL, status);
  if (U_FAILURE(status) || !tieBreak) return {};
  return {std::move(primary), std::move(tieBreak)};
}

// A collator is not safe for concurrent use and costly to create, so each
// thread keeps its own, per locale id. The cache is capped: ids come from
// code, but a long-lived thread should not grow without bound.
constexpr std::size_t kMaxCachedLocales = 8;

const StandardCollators& collatorsFor(std::string_view localeId) {
  thread_local std::map<std::string, StandardCollators, std::less<>> cache;
  if (auto found = cache.find(localeId); found != cache.end()) return found->second;
  if (cache.size() >= kMaxCachedLocales) cache.clear();
  return cache.emplace(std::string(localeId), makeCollators(localeId)).first->second;
}

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int localizedStandardCompare(std::string_view a, std::string_view b, std::string_view localeId) {
  const StandardCollators& collators = collatorsFor(localeId);
  if (!collators.primary) return sign(a.compare(b));  // ICU data missing: plain byte order
  const icu::StringPiece left(a.data(), a.size());
  const icu::StringPiece right(b.data(), b.size());
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult order = collators.primary->compareUTF8(left, right, status);
  if (order == UCOL_EQUAL && U_SUCCESS(status)) order = collators.tieBreak->compareUTF8(left, right, status);
  if (U_FAILURE(status)) return sign(a.compare(b));
  return static_cast<int>(order);
}

int localizedStandardCompare(std::string_view a, std::string_view b) { return localizedStandardCompare(a, b, {}); }

}  // namespace platform
