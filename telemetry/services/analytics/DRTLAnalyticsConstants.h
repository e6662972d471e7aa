#pragma once
// Names and limits the analytics service shares across its files.

#include <cstddef>

namespace telemetry::analytics {

inline constexpr const char* kDRTLAnalyticsLogTag = "DirAradedAnalytics";

inline constexpr std::size_t kDRTLMaxEventNameLength = 256;
inline constexpr std::size_t kDRTLMaxTypedPropertiesPerEvent = 20;
// Names and string values of this length or more are cut to one less.
inline constexpr std::size_t kDRTLMaxTypedPropertyLength = 125;

}  // namespace telemetry::analytics
