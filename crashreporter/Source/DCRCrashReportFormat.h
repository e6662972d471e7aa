#pragma once
// The 8 bytes that open every crash report: seven magic bytes "drcrash" and the
// format version at offset 7. Writer and reader both use these constants, so
// they can never disagree on where the message starts.

#include <cstddef>
#include <cstdint>

namespace crashreporter {

inline constexpr std::size_t kDrcrashMagicLength = 7;
inline constexpr std::uint8_t kDrcrashReportVersion = 1;
inline constexpr std::size_t kDrcrashHeaderLength = kDrcrashMagicLength + 1;
inline constexpr std::uint8_t kDrcrashReportHeader[kDrcrashHeaderLength] = {'d', 'r', 'c', 'r', 'a', 's', 'h',
                                                                            kDrcrashReportVersion};

}  // namespace crashreporter
