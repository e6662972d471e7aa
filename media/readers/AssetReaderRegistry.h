#pragma once
// The readers the factory may choose, each registered under its kind as it
// lands: the factory and the validity queries ask movie, then image, then
// audio. One process-wide registry (shared()); tests register stand-ins with
// a ScopedAssetReaderRegistration. Thread-safe; the predicates run without
// the lock held.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/readers/CVNAssetReader.h"

namespace media {

enum class AssetReaderKind { Movie = 1, Image = 2, Audio = 3 };

struct AssetReaderRegistration {
  AssetReaderKind kind = AssetReaderKind::Movie;
  std::function<bool(const MediaURL&)> canOpenAssetWithMediaURL;
  std::function<std::shared_ptr<CVNAssetReader>(const MediaURL&, const std::optional<std::string>&)> create;
};

class AssetReaderRegistry {
 public:
  static AssetReaderRegistry& shared();

  // Replaces any registration of the same kind.
  void registerReader(AssetReaderRegistration registration);
  void unregisterReader(AssetReaderKind kind);
  // The registrations in asking order (movie, image, audio).
  std::vector<AssetReaderRegistration> registrations() const;

 private:
  struct State;
  AssetReaderRegistry();
  std::shared_ptr<State> state_;
};

// Registers for its lifetime, then restores what was registered before.
class ScopedAssetReaderRegistration {
 public:
  explicit ScopedAssetReaderRegistration(AssetReaderRegistration registration);
  ~ScopedAssetReaderRegistration();
  ScopedAssetReaderRegistration(const ScopedAssetReaderRegistration&) = delete;
  ScopedAssetReaderRegistration& operator=(const ScopedAssetReaderRegistration&) = delete;

 private:
  AssetReaderKind kind_;
  std::optional<AssetReaderRegistration> previous_;
};

}  // namespace media
