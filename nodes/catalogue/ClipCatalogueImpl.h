#pragma once
// ClipCatalogue's state, shared by its set-up and queue (ClipCatalogue.cpp)
// and its queries (ClipCatalogueQueries.cpp). Internal.

#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/catalogue/ClipCatalogueStore.h"
#include "platform/Error.h"

namespace nodes {

struct ClipCatalogue::Impl {
  Options options;
  std::filesystem::path rootPath;
  std::filesystem::path versionsFolderPath;
  std::filesystem::path categoriesFilePath;
  std::filesystem::path mediaStoreURL;
  bool storeWasCreated = false;
  std::unique_ptr<ClipCatalogueStore> store;  // nullptr: disabled
  std::optional<platform::Error> openError;

  mutable std::mutex queueLock;
  std::deque<CatalogueOperationRecord> operationsToProcess;  // guarded by queueLock
  bool processingScheduled = false;                          // guarded by queueLock
  bool droppedWhileDisabled = false;                         // guarded by queueLock
  bool isBusy = false;                                       // main thread only

  platform::NotificationCenter& center() const {
    return options.notificationCenter ? *options.notificationCenter : platform::NotificationCenter::defaultCenter();
  }
};

}  // namespace nodes
