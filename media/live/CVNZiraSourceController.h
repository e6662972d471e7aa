#pragma once
// The process-wide registry of live sources: loaded from and saved to the
// user defaults under "ZiraSources", kept bound to the device inputs as they
// appear and disappear, searched by name or input.
//
// Threads: every operation takes the registry's lock; device notifications
// arrive on the main queue.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/live/CVNZiraSource.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace pluginframework {
class CVNDeviceController;
}

namespace media {

inline constexpr const char* kZiraSourcesDefaultsKey = "ZiraSources";
inline constexpr const char* kZiraSourcesDidChangeNotification = "ZiraSourcesDidChange";

class CVNZiraSourceController final : public CVNZiraSourceDelegate {
 public:
  // Where sources come from and go (tests give their own).
  struct Environment {
    platform::UserDefaults* defaults = nullptr;
    platform::NotificationCenter* notificationCenter = nullptr;
    std::shared_ptr<pluginframework::CVNDeviceController> devices;
  };
  explicit CVNZiraSourceController(Environment environment);
  ~CVNZiraSourceController() override;
  CVNZiraSourceController(const CVNZiraSourceController&) = delete;
  CVNZiraSourceController& operator=(const CVNZiraSourceController&) = delete;

  static CVNZiraSourceController& sharedZiraSourceController();

  std::shared_ptr<CVNZiraSource> sourceWithName(const std::string& name) const;
  std::shared_ptr<CVNZiraSource> firstEnabledSourceWithInputUniqueID(const std::string& uniqueID,
                                                                     const CVNZiraSource* ignoring) const;
  std::vector<std::shared_ptr<CVNZiraSource>> sourcesWithInputUniqueID(const std::string& uniqueID) const;
  std::vector<std::shared_ptr<CVNZiraSource>> ziraSources() const;
  void insertZiraSources(const std::vector<std::shared_ptr<CVNZiraSource>>& sources, std::size_t at);
  void removeZiraSources(std::size_t at, std::size_t count);

  void loadZiraSourcesFromPrefs();
  void saveZiraSourcesToPrefs();
  void applicationWillTerminate();
  void ziraSourceDidUpdateLastKnownConnectionDescriptionTo(CVNZiraSource& source,
                                                            const std::string& description) override;

 private:
  void deviceInputsChanged(const platform::Notification& notification, bool appeared);

  Environment environment_;
  mutable std::recursive_mutex mutex_;
  std::vector<std::shared_ptr<CVNZiraSource>> sources_;  // guarded by mutex_
  platform::ObserverToken appeared_;
  platform::ObserverToken disappeared_;
};

}  // namespace media
