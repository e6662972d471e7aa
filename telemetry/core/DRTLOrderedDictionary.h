#pragma once
// DRTLOrderedDictionary: a dictionary that keeps its keys in first-insertion
// order. Setting a key already present replaces its value in place; equality
// needs equal entries in an equal order. Filled once, then only read; not
// synchronised.

#include <cstddef>
#include <string>

#include "telemetry/core/DRTLDevice.h"

namespace telemetry::core {

class DRTLOrderedDictionary {
 public:
  DRTLOrderedDictionary() : json_(DRTLJSON::object()) {}

  void setObject(DRTLJSON value, const std::string& key) { json_[key] = std::move(value); }
  // The value, or a JSON null when the key is absent.
  const DRTLJSON& objectForKey(const std::string& key) const;
  std::size_t count() const { return json_.size(); }
  void removeAllObjects() { json_ = DRTLJSON::object(); }
  // The entries in insertion order, ready for the JSON writer.
  const DRTLJSON& json() const { return json_; }

  bool isEqualToDictionary(const DRTLOrderedDictionary& other) const { return json_ == other.json_; }

 private:
  DRTLJSON json_;  // ordered_json keeps insertion order and compares in order
};

}  // namespace telemetry::core
