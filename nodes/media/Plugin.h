#pragma once
// Plugin: a node plug-in with the attributes it declares. Kept for the model's
// completeness: node attributes carry their plug-in's name in pluginName, and
// nothing in the system groups them into Plugin objects yet.
//
// Any thread: fields guarded by the private lock; readers get copies.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "nodes/media/Attribute.h"

namespace nodes {

class Plugin {
 public:
  using Attributes = std::vector<std::shared_ptr<Attribute>>;

  Plugin() = default;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  Attributes attributes() const;
  void setAttributes(Attributes attributes);
  void addAttribute(std::shared_ptr<Attribute> attribute);
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> name);

 private:
  mutable std::mutex lock_;
  Attributes attributes_;            // guarded by lock_
  std::optional<std::string> name_;  // guarded by lock_
};

}  // namespace nodes
