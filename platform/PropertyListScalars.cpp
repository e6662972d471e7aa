// The scalar forms of XML property-list text (<integer>, <real>, <date>),
// shared by the XML readers.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "platform/PropertyListDetail.h"

namespace platform::detail {

using std::chrono::microseconds;
using std::chrono::seconds;

// Decimal or 0x-hex with an optional sign; nullopt when malformed or outside int64.
std::optional<std::int64_t> parseInteger(std::string_view text, bool& outOfRange) {
  outOfRange = false;
  text = trimXmlSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec == std::errc::result_out_of_range) {
    // Still malformed if the digits run into something else.
    const char* p = text.data();
    while (p < text.data() + text.size() && std::isxdigit(static_cast<unsigned char>(*p)) &&
           (base == 16 || std::isdigit(static_cast<unsigned char>(*p)))) {
      ++p;
    }
    outOfRange = p == text.data() + text.size();
    return std::nullopt;
  }
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (negative) {
    if (magnitude > kMaxPositive + 1) {
      outOfRange = true;
      return std::nullopt;
    }
    return magnitude == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > kMaxPositive) {
    outOfRange = true;
    return std::nullopt;
  }
  return static_cast<std::int64_t>(magnitude);
}

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<double> parseReal(std::string_view text) {
  text = trimXmlSpace(text);
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body.front() == '-' || body.front() == '+')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equalsIgnoringCase(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  if (equalsIgnoringCase(body, "inf") || equalsIgnoringCase(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (body.empty() || body.front() == '-' || body.front() == '+') return std::nullopt;
  // from_chars would also take "inf"/"nan" spellings handled above, and
  // accepts no hex here.
  if (!std::isdigit(static_cast<unsigned char>(body.front())) && body.front() != '.') return std::nullopt;
  double result = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), result, std::chars_format::general);
  if (end != body.data() + body.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: overflow reads as infinity,
    // underflow as zero, as strtod rounds them.
    const std::size_t e = body.find_first_of("eE");
    const bool underflow = e != std::string_view::npos && e + 1 < body.size() && body[e + 1] == '-';
    result = underflow ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc()) {
    return std::nullopt;
  }
  return negative ? -result : result;
}

// YYYY[-MM[-DD[THH[:MM[:SS[.fraction]]]]]]Z, always UTC.
std::optional<Date> parseDate(std::string_view text) {
  text = trimXmlSpace(text);
  std::size_t pos = 0;
  auto digits = [&](int count, int& out) {
    if (pos + static_cast<std::size_t>(count) > text.size()) return false;
    int value = 0;
    for (int k = 0; k < count; ++k) {
      const char c = text[pos + static_cast<std::size_t>(k)];
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    pos += static_cast<std::size_t>(count);
    out = value;
    return true;
  };
  auto accept = [&](char c) {
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  };
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  std::int64_t fractionMicroseconds = 0;
  if (!digits(4, year)) return std::nullopt;
  if (accept('-')) {
    if (!digits(2, month)) return std::nullopt;
    if (accept('-')) {
      if (!digits(2, day)) return std::nullopt;
      if (accept('T')) {
        if (!digits(2, hour)) return std::nullopt;
        if (accept(':')) {
          if (!digits(2, minute)) return std::nullopt;
          if (accept(':')) {
            if (!digits(2, second)) return std::nullopt;
            if (accept('.')) {
              std::int64_t scale = 100000;
              const std::size_t start = pos;
              while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                fractionMicroseconds += (text[pos] - '0') * scale;
                scale /= 10;
                ++pos;
              }
              if (pos == start) return std::nullopt;
            }
          }
        }
      }
    }
  }
  if (!accept('Z') || pos != text.size()) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                        std::chrono::day{static_cast<unsigned>(day)}};
  if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return Date{std::chrono::sys_days{ymd}} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
         seconds{second} + microseconds{fractionMicroseconds};
}

}  // namespace platform::detail
