// Opens mutated movie files through the movie reader's page ring and loads
// their information: no crash, hang or unbounded memory on any input.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("movie", 0);
  if (fd < 0) std::abort();
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const auto path = "/proc/self/fd/" + std::to_string(fd);
  media::CVNFFmpegMovieAssetReader::setShouldCreateVideoFormatDescriptionForDNxHD(true);
  media::CVNFFmpegMovieAssetReader reader(media::MediaURL::fileURLWithPath(path), "fuzz");
  reader.loadInfo(true, false);
  (void)reader.displaySize();
  reader.close();
  return 0;
}
