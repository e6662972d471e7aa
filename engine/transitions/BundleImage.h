#pragma once
// Images shipped as resources of the main bundle, found by name without an
// extension ("Transition", "TR_CrossFade"), as the desktop's named images are.
// Stateless; safe on any thread (reads the file on each call).

#include <string_view>

#include "foundation/imaging/CGImageUtil.h"

namespace engine {

// The first of "<name>.png", ".jpg", ".jpeg", ".tiff" in the main bundle,
// decoded; none when there is none or it does not decode.
foundation::ImageRef bundleImageNamed(std::string_view name);

}  // namespace engine
