#include "nodes/media/Plugin.h"

namespace nodes {

Plugin::Attributes Plugin::attributes() const {
  std::lock_guard guard(lock_);
  return attributes_;
}

void Plugin::setAttributes(Attributes attributes) {
  std::lock_guard guard(lock_);
  attributes_ = std::move(attributes);
}

void Plugin::addAttribute(std::shared_ptr<Attribute> attribute) {
  if (!attribute) return;
  std::lock_guard guard(lock_);
  attributes_.push_back(std::move(attribute));
}

std::optional<std::string> Plugin::name() const {
  std::lock_guard guard(lock_);
  return name_;
}

void Plugin::setName(std::optional<std::string> name) {
  std::lock_guard guard(lock_);
  name_ = std::move(name);
}

}  // namespace nodes
