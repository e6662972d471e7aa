#include "engine/transitions/BundleImage.h"

#include "platform/Bundle.h"

namespace engine {

foundation::ImageRef bundleImageNamed(std::string_view name) {
  auto bundle = platform::Bundle::main();
  for (const char* extension : {"png", "jpg", "jpeg", "tiff"}) {
    if (auto path = bundle->pathForResource(name, extension)) {
      return foundation::CGImageUtil::newImageRefFromURL(*path, nullptr);
    }
  }
  return nullptr;
}

}  // namespace engine
