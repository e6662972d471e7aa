#pragma once
// An image filter that deinterlaces a frame: the rows of the kept field
// stay, the rows of the other field become the average of the kept rows
// around them. Made by filterWithName (a new filter whatever the name; there
// is no registry). Its CPU kernel is ours and needs no loading. Keyed access
// ("inputImage", "outputImage") logs as the desktop filter did.
// One filter per thread of use.

#include <memory>
#include <string>

#include "foundation/imaging/CGImageUtil.h"

namespace foundation {

class CVNDeinterlaceCIFilter {
 public:
  static std::unique_ptr<CVNDeinterlaceCIFilter> filterWithName(const std::string& name);
  std::string name() const { return "CVNDeinterlaceCIFilter"; }

  const ImageRef& inputImage() const { return inputImage_; }
  void setInputImage(ImageRef image) { inputImage_ = std::move(image); }
  // None without an input image; the kernel over the input with field 0.0
  // (the even rows kept).
  ImageRef outputImage() const;

  // Stores "inputImage" (an image) and logs "setting value %@ forKey %@".
  void setValueForKey(const ImageRef& value, const std::string& key);
  // "outputImage" answers outputImage(); other keys log "asking for value for key %@".
  ImageRef valueForKey(const std::string& key) const;
  // Only logs "setting nil value for key %@".
  void setNilValueForKey(const std::string& key);

  // The kernel: `field` 0 keeps the even rows, 1 the odd rows. Premultiplied
  // RGBA in, a new image out; none for other formats.
  static ImageRef deinterlace(const ImageRef& image, double field);

 private:
  ImageRef inputImage_;
};

}  // namespace foundation
