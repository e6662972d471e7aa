// Transition files: a property list loaded into a registry (elements of every
// kind, duplicates, broken dictionaries), then each transition written out in
// its dictionary and XML forms and read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "engine/transitions/CVNTransitionsManager.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto root = platform::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!root || !root->array()) return 0;
  static platform::UserDefaults defaults{std::filesystem::path()};  // nothing persisted
  static platform::NotificationCenter center;
  engine::CVNTransitionsManager manager(&defaults, center);
  std::string error, warnings;
  manager.loadTransitionsFromArray(*root->array(), &error, &warnings);
  for (const auto& transition : manager.transitions()) {
    if (auto copy = transition->copy()) copy->setDuration(copy->duration() * 2, true);
    pugi::xml_document document;
    engine::CVNTransition::initWithXMLElement(transition->XMLElement(document));
  }
  return 0;
}
