#include "pluginframework/CVNDisplayMode.h"

#include <cmath>
#include <cstdio>

namespace pluginframework {

CVNDisplayMode::CVNDisplayMode(std::string name, std::int64_t frameDuration, std::int32_t timeScale,
                               std::int32_t width, std::int32_t height, FieldDominance fieldDominance)
    : name_(std::move(name)),
      frameDuration_(frameDuration),
      timeScale_(timeScale),
      width_(width),
      height_(height),
      fieldDominance_(fieldDominance) {}

double CVNDisplayMode::frameRate() const {
  return frameDuration_ == 0 ? 0.0 : static_cast<double>(timeScale_) / static_cast<double>(frameDuration_);
}

platform::media::MediaTime CVNDisplayMode::frameRateAsCMTime() const {
  return platform::media::MediaTime::make(timeScale_, static_cast<std::int32_t>(frameDuration_));
}

platform::media::MediaTime CVNDisplayMode::frameDurationAsCMTime() const {
  return platform::media::MediaTime::make(frameDuration_, timeScale_);
}

bool CVNDisplayMode::interlaced() const {
  return fieldDominance_ == FieldDominance::BottomFieldFirst || fieldDominance_ == FieldDominance::TopFieldFirst;
}

bool CVNDisplayMode::isPAL() const {
  const double rate = frameRate();
  return std::fabs(rate - 25.0) < 0.001 || std::fabs(rate - 50.0) < 0.001;
}

std::string CVNDisplayMode::descriptionForDisplayMode(const CVNDisplayMode* mode) {
  if (!mode) return "No display mode";
  const char* order = "unknown field order";
  switch (mode->fieldDominance_) {
    case FieldDominance::BottomFieldFirst: order = "interlaced, bottom field first"; break;
    case FieldDominance::TopFieldFirst: order = "interlaced, top field first"; break;
    case FieldDominance::Progressive: order = "progressive"; break;
    case FieldDominance::Unknown: break;
  }
  char text[256];
  std::snprintf(text, sizeof text, "%s (%d x %d, %.2f fps, %s)", mode->name_.c_str(), mode->width_, mode->height_,
                mode->frameRate(), order);
  return text;
}

}  // namespace pluginframework
