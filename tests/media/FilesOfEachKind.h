#pragma once
// A movie, a still, a sound and a text file in a temporary folder, made with
// ffmpeg at test time: what the reader factory is asked to open.

#include <filesystem>
#include <fstream>

#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace testing_support {

class FilesOfEachKind {
 public:
  FilesOfEachKind() {
    made_ = runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48 -t 0.2 " + shellQuoted(movie)) &&
            runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48 -frames:v 1 " + shellQuoted(still)) &&
            runCommand("ffmpeg -v error -y -f lavfi -i sine=d=0.2 " + shellQuoted(sound));
    std::ofstream(text) << "not media";
  }
  // Whether ffmpeg made the three media files.
  bool made() const { return made_; }

 private:
  TemporaryDirectory directory_;

 public:
  const std::filesystem::path movie = directory_ / "clip.mov";
  const std::filesystem::path still = directory_ / "still.png";
  const std::filesystem::path sound = directory_ / "sound.wav";
  const std::filesystem::path text = directory_ / "notes.txt";

 private:
  bool made_ = false;
};

}  // namespace testing_support
