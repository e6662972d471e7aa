#include "media/readers/AssetReaderRegistry.h"

#include <algorithm>
#include <mutex>

namespace media {

struct AssetReaderRegistry::State {
  mutable std::mutex mutex;
  std::vector<AssetReaderRegistration> registrations;  // guarded by mutex; sorted by kind
};

AssetReaderRegistry::AssetReaderRegistry() : state_(std::make_shared<State>()) {}

AssetReaderRegistry& AssetReaderRegistry::shared() {
  static AssetReaderRegistry* registry = new AssetReaderRegistry;  // lives for the process
  return *registry;
}

void AssetReaderRegistry::registerReader(AssetReaderRegistration registration) {
  std::lock_guard lock(state_->mutex);
  auto& list = state_->registrations;
  std::erase_if(list, [&](const AssetReaderRegistration& r) { return r.kind == registration.kind; });
  list.push_back(std::move(registration));
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.kind < b.kind; });
}

void AssetReaderRegistry::unregisterReader(AssetReaderKind kind) {
  std::lock_guard lock(state_->mutex);
  std::erase_if(state_->registrations, [&](const AssetReaderRegistration& r) { return r.kind == kind; });
}

std::vector<AssetReaderRegistration> AssetReaderRegistry::registrations() const {
  std::lock_guard lock(state_->mutex);
  return state_->registrations;
}

ScopedAssetReaderRegistration::ScopedAssetReaderRegistration(AssetReaderRegistration registration)
    : kind_(registration.kind) {
  for (auto& existing : AssetReaderRegistry::shared().registrations()) {
    if (existing.kind == kind_) previous_ = existing;
  }
  AssetReaderRegistry::shared().registerReader(std::move(registration));
}

ScopedAssetReaderRegistration::~ScopedAssetReaderRegistration() {
  if (previous_) {
    AssetReaderRegistry::shared().registerReader(*previous_);
  } else {
    AssetReaderRegistry::shared().unregisterReader(kind_);
  }
}

}  // namespace media
