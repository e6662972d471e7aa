#include "foundation/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <limits>
#include <memory>

namespace foundation {
namespace {

const char* converterName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::ASCII:
      return "US-ASCII";
    case TextEncoding::UTF8:
      return "UTF-8";
    case TextEncoding::ISOLatin1:
      return "ISO-8859-1";
    case TextEncoding::CodePage1252:
      return "windows-1252";
    case TextEncoding::UTF16BigEndian:
      return "UTF-16BE";
    case TextEncoding::UTF16LittleEndian:
      return "UTF-16LE";
  }
  return nullptr;
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

std::optional<std::u16string> utf16FromUTF8(std::string_view utf8) {
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), length, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  return out;
}

}  // namespace

bool isValidUTF8(std::string_view bytes) { return utf16FromUTF8(bytes).has_value(); }

std::optional<std::string> encodeText(std::string_view utf8, TextEncoding encoding) {
  std::optional<std::u16string> units = utf16FromUTF8(utf8);  // also checks the UTF-8
  if (!units) return std::nullopt;
  if (encoding == TextEncoding::UTF8) return std::string(utf8);
  if (units->empty()) return std::string();

  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(converterName(encoding), &status));
  if (U_FAILURE(status)) return std::nullopt;
  // Refuse unmappable characters instead of writing a substitute byte.
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) return std::nullopt;

  const auto sourceLength = static_cast<int32_t>(units->size());
  const int8_t maxCharSize = ucnv_getMaxCharSize(converter.get());
  if (sourceLength > std::numeric_limits<int32_t>::max() / maxCharSize - 10) return std::nullopt;
  const int32_t capacity = UCNV_GET_MAX_BYTES_FOR_STRING(sourceLength, maxCharSize);
  std::string out(static_cast<std::size_t>(capacity), '\0');
  int32_t written = ucnv_fromUChars(converter.get(), out.data(), capacity, units->data(), sourceLength, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace foundation
