// Feeds arbitrary bytes to the playlist file reader, salvage included. What it
// reads must write back and read again whole, with the same rows.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "platform/Diagnostics.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The item reader reports each refused key; the fuzzer would drown in them.
  platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::Result<nodes::PlaylistFileContents> contents = nodes::readPlaylistFile(bytes);
  if (!contents.ok() || contents->isLegacy) return 0;
  // A document always writes its unique ID (a new one when the file had none).
  if (!contents->settings.playlistUniqueID) contents->settings.playlistUniqueID = "PLAYLIST";
  platform::Result<std::string> written = nodes::writePlaylistFile(contents->settings, contents->items);
  if (!written.ok()) return 0;  // text the writer cannot carry
  platform::Result<nodes::PlaylistFileContents> again = nodes::readPlaylistFile(*written);
  if (!again.ok() || again->hasLosses() || again->items.size() != contents->items.size()) __builtin_trap();
  return 0;
}
