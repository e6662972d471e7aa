#pragma once
// DRTLSessionContext and DRTLUserIdContext: the current session id and user
// id, with a persisted, time-stamped history of earlier values (one entry per
// run) so that a log built later is stamped with the id current at its time.
// Each context locks itself for every change and look-up; any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/DRTLHistoryInfo.h"

namespace telemetry::core {

class DRTLSessionContext {
 public:
  static std::shared_ptr<DRTLSessionContext> sharedInstance();
  static void resetSharedInstance();
  DRTLSessionContext();

  std::optional<std::string> sessionId() const;
  void setSessionId(const std::optional<std::string>& sessionId);
  // The id of the newest entry not later than `date`.
  std::optional<std::string> sessionIdAt(platform::Date date) const;
  void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

  std::vector<std::shared_ptr<DRTLSessionHistoryInfo>> sessionHistory() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<DRTLSessionHistoryInfo> currentSessionInfo_;           // guarded by mutex_
  std::vector<std::shared_ptr<DRTLSessionHistoryInfo>> sessionHistory_;  // guarded by mutex_; oldest first
};

class DRTLUserIdContext;

class DRTLUserIdContextDelegate {
 public:
  virtual ~DRTLUserIdContextDelegate() = default;
  virtual void userIdContextDidUpdateUserId(DRTLUserIdContext& context, const std::optional<std::string>& userId) = 0;
};

inline constexpr std::size_t kDRTLUserIdMaxLength = 256;

class DRTLUserIdContext {
 public:
  static std::shared_ptr<DRTLUserIdContext> sharedInstance();
  static void resetSharedInstance();
  DRTLUserIdContext();

  std::optional<std::string> userId() const;
  void setUserId(const std::optional<std::string>& userId);
  std::optional<std::string> userIdAt(platform::Date date) const;
  void clearUserIdHistory();
  void addDelegate(const std::shared_ptr<DRTLUserIdContextDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<DRTLUserIdContextDelegate>& delegate);

  std::vector<std::shared_ptr<DRTLUserIdHistoryInfo>> userIdHistory() const;

  static bool isUserIdValidForDirAraded(const std::optional<std::string>& userId);
  static bool isUserIdValidForRizErazuzude(const std::optional<std::string>& userId);
  static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<DRTLUserIdHistoryInfo> currentUserIdInfo_;           // guarded by mutex_
  std::vector<std::shared_ptr<DRTLUserIdHistoryInfo>> userIdHistory_;  // guarded by mutex_; oldest first
  std::vector<std::weak_ptr<DRTLUserIdContextDelegate>> delegates_;    // guarded by mutex_; not owned
};

// The newest entry whose time is not later than `date` (entries oldest first).
template <typename T>
std::shared_ptr<T> newestEntryNotLaterThan(const std::vector<std::shared_ptr<T>>& history, platform::Date date) {
  for (auto it = history.rbegin(); it != history.rend(); ++it) {
    if ((*it)->timestamp && *(*it)->timestamp <= date) return *it;
  }
  return nullptr;
}

}  // namespace telemetry::core
