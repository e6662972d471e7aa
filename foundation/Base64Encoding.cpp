#include "foundation/Base64Encoding.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace foundation {
namespace {

// libcrypto counts lengths in int; large buffers go through in slices. The
// encode slice is a multiple of 3 so that no padding appears mid-text.
constexpr std::size_t kEncodeSlice = 3 * 1024 * 1024;
constexpr std::size_t kDecodeSlice = 4 * 1024 * 1024;

// libcrypto's decoder also takes '-' as an end-of-text mark and would drop
// everything after it; only the alphabet, padding and whitespace pass here.
bool hasOnlyBase64Characters(std::string_view text) {
  for (unsigned char c : text) {
    const bool alphabet =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    const bool whitespace = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    if (!alphabet && !whitespace) return false;
  }
  return true;
}

struct EncodeContextDeleter {
  void operator()(EVP_ENCODE_CTX* context) const { EVP_ENCODE_CTX_free(context); }
};

}  // namespace

std::string base64EncodeData(std::span<const std::uint8_t> data) {
  const std::size_t encodedLength = (data.size() + 2) / 3 * 4;
  std::string out(encodedLength + 1, '\0');  // room for the terminator libcrypto writes
  std::size_t produced = 0;
  for (std::size_t offset = 0; offset < data.size(); offset += kEncodeSlice) {
    const std::size_t length = std::min(kEncodeSlice, data.size() - offset);
    produced += static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + produced),
                                                         data.data() + offset, static_cast<int>(length)));
  }
  out.resize(produced);
  return out;
}

std::optional<platform::Data> base64DecodeString(std::string_view text) {
  if (!hasOnlyBase64Characters(text)) return std::nullopt;
  std::unique_ptr<EVP_ENCODE_CTX, EncodeContextDeleter> context(EVP_ENCODE_CTX_new());
  if (!context) return std::nullopt;
  EVP_DecodeInit(context.get());
  platform::Data out(text.size() / 4 * 3 + 3);
  std::size_t produced = 0;
  for (std::size_t offset = 0; offset < text.size(); offset += kDecodeSlice) {
    const std::size_t length = std::min(kDecodeSlice, text.size() - offset);
    int written = 0;
    if (EVP_DecodeUpdate(context.get(), out.data() + produced, &written,
                         reinterpret_cast<const unsigned char*>(text.data() + offset), static_cast<int>(length)) < 0) {
      return std::nullopt;
    }
    produced += static_cast<std::size_t>(written);
  }
  int written = 0;
  if (EVP_DecodeFinal(context.get(), out.data() + produced, &written) != 1) return std::nullopt;
  produced += static_cast<std::size_t>(written);
  out.resize(produced);
  return out;
}

std::string base64EncodeString(std::string_view text, TextEncoding encoding) {
  std::optional<std::string> bytes = encodeText(text, encoding);
  if (!bytes) return std::string();
  return base64EncodeData({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
}

}  // namespace foundation
