#pragma once
// The notifications the window layer posts on the default notification
// centre, on the main thread, as the application stops or starts being the
// active one (Qt's application state: leaving or reaching "active").

namespace platform {

inline constexpr const char* kApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";
inline constexpr const char* kApplicationWillBecomeActiveNotification = "NSApplicationWillBecomeActiveNotification";

}  // namespace platform
