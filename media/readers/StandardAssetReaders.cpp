#include "media/readers/StandardAssetReaders.h"

#include "media/readers/audio/CVNAudioAssetReader.h"
#include "media/readers/image/CVNImageAssetReader.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

namespace media {

void registerStandardAssetReaders() {
  CVNFFmpegMovieAssetReader::registerMovieReader();
  CVNImageAssetReader::registerImageReader();
  CVNAudioAssetReader::registerAudioReader();
}

}  // namespace media
