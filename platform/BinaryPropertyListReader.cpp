// The binary property-list reader (read only; the system writes XML).

#include "platform/PropertyListDetail.h"
#include "platform/Utf8.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace platform::detail {
namespace {

using std::chrono::microseconds;

// Binary dates count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t kBinaryEpochUnixSeconds = 978307200;

// Binary reader ("bplist00")
//
// Layout: header, objects, offset table, 32-byte trailer (6 unused bytes,
// offset size, reference size, object count, top object, table offset; all
// big-endian). Every offset, count and reference is checked against the input
// before it is used.

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes)
      : bytes_(reinterpret_cast<const std::uint8_t*>(bytes.data())), size_(bytes.size()) {}

  Result<Value> read() {
    constexpr std::size_t kHeaderSize = 8;
    constexpr std::size_t kTrailerSize = 32;
    if (size_ < kHeaderSize + kTrailerSize + 1) return failAt(0, "binary property list is truncated");
    const std::size_t trailer = size_ - kTrailerSize;
    offsetSize_ = bytes_[trailer + 6];
    referenceSize_ = bytes_[trailer + 7];
    const std::uint64_t objectCount = bigEndian(trailer + 8, 8);
    const std::uint64_t topObject = bigEndian(trailer + 16, 8);
    const std::uint64_t tableOffset = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) {
      return failAt(trailer, "binary trailer has an invalid offset or reference size");
    }
    if (objectCount == 0 || topObject >= objectCount) return failAt(trailer, "binary trailer has no top object");
    if (tableOffset < kHeaderSize + 1 || tableOffset > trailer ||
        objectCount > (trailer - tableOffset) / offsetSize_) {
      return failAt(trailer, "binary offset table lies outside the file");
    }
    objectsEnd_ = static_cast<std::size_t>(tableOffset);
    tableOffset_ = static_cast<std::size_t>(tableOffset);
    objectCount_ = static_cast<std::size_t>(objectCount);
    // Shared objects are copied at each reference; this bounds the total.
    budget_ = size_ * kPropertyListExpansionFactor;
    inProgress_.assign(objectCount_, false);
    Value value;
    if (!readObject(static_cast<std::size_t>(topObject), value, 0)) return std::move(*error_);
    return value;
  }

 private:
  std::uint64_t bigEndian(std::size_t offset, std::size_t width) const {
    std::uint64_t value = 0;
    for (std::size_t k = 0; k < width; ++k) value = (value << 8) | bytes_[offset + k];
    return value;
  }

  Error failAt(std::size_t offset, std::string_view what) {
    return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ", what,
                     static_cast<std::int64_t>(offset), path_.empty() ? nullptr : &path_);
  }

  bool fail(std::size_t offset, std::string_view what) {
    error_ = failAt(offset, what);
    return false;
  }

  bool spend(std::size_t offset, std::size_t cost) {
    if (cost >= budget_) return fail(offset, "binary object references expand beyond the size limit");
    budget_ -= cost + 1;
    return true;
  }

  // Reads the element count that follows a marker whose low nibble is 0xF, or
  // is that nibble; `pos` moves past it.
  bool readCount(std::size_t& pos, unsigned nibble, std::uint64_t& count) {
    if (nibble != 0xF) {
      count = nibble;
      return true;
    }
    if (pos >= objectsEnd_) return fail(pos, "binary object count is truncated");
    const std::uint8_t marker = bytes_[pos];
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) return fail(pos, "binary object count is not an integer");
    const std::size_t width = std::size_t{1} << (marker & 0x0F);
    if (width > objectsEnd_ - pos - 1) return fail(pos, "binary object count is truncated");
    count = bigEndian(pos + 1, width);
    pos += 1 + width;
    return true;
  }

  // `count` items of `width` bytes must lie before the offset table.
  bool checkExtent(std::size_t start, std::uint64_t count, std::size_t width) {
    if (start > objectsEnd_ || count > (objectsEnd_ - start) / width) {
      return fail(start, "binary object runs past the end of the object data");
    }
    return true;
  }

  bool objectReference(std::size_t pos, std::size_t& object) {
    const std::uint64_t reference = bigEndian(pos, referenceSize_);
    if (reference >= objectCount_) return fail(pos, "binary object reference is out of range");
    object = static_cast<std::size_t>(reference);
    return true;
  }

  bool readObject(std::size_t object, Value& out, int depth) {
    const std::size_t entry = tableOffset_ + object * offsetSize_;
    const std::uint64_t offset = bigEndian(entry, offsetSize_);
    if (offset < 8 || offset >= objectsEnd_) return fail(entry, "binary object offset is out of range");
    std::size_t pos = static_cast<std::size_t>(offset);
    const std::uint8_t marker = bytes_[pos++];
    const unsigned low = marker & 0x0F;
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x08 || marker == 0x09) {
          if (!spend(offset, 1)) return false;
          out = Value(marker == 0x09);
          return true;
        }
        return fail(offset, "binary null or fill object is not a property-list value");
      case 0x1:
        return readInteger(offset, pos, low, out);
      case 0x2: {
        if (low != 2 && low != 3) return fail(offset, "binary real has an invalid size");
        const std::size_t width = std::size_t{1} << low;
        if (!checkExtent(pos, 1, width) || !spend(offset, 1)) return false;
        const std::uint64_t raw = bigEndian(pos, width);
        if (width == 4) {
          float f;
          const auto bits = static_cast<std::uint32_t>(raw);
          std::memcpy(&f, &bits, sizeof f);
          out = Value(static_cast<double>(f));
        } else {
          double d;
          std::memcpy(&d, &raw, sizeof d);
          out = Value(d);
        }
        return true;
      }
      case 0x3: {
        if (low != 3) return fail(offset, "binary date has an invalid size");
        if (!checkExtent(pos, 1, 8) || !spend(offset, 1)) return false;
        const std::uint64_t raw = bigEndian(pos, 8);
        double sinceEpoch;
        std::memcpy(&sinceEpoch, &raw, sizeof sinceEpoch);
        const double unixSeconds = sinceEpoch + static_cast<double>(kBinaryEpochUnixSeconds);
        // Microseconds in int64 reach about 292,000 years either way.
        if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 9.0e12) {
          return fail(offset, "binary date is out of range");
        }
        out = Value(Date{microseconds{std::llround(unixSeconds * 1e6)}});
        return true;
      }
      case 0x4: {
        std::uint64_t count = 0;
        if (!readCount(pos, low, count) || !checkExtent(pos, count, 1)) return false;
        if (!spend(offset, static_cast<std::size_t>(count))) return false;
        out = Value(Data(bytes_ + pos, bytes_ + pos + count));
        return true;
      }
      case 0x5: {
        std::uint64_t count = 0;
        if (!readCount(pos, low, count) || !checkExtent(pos, count, 1)) return false;
        if (!spend(offset, static_cast<std::size_t>(count))) return false;
        std::string text(reinterpret_cast<const char*>(bytes_ + pos), static_cast<std::size_t>(count));
        for (char c : text) {
          if (static_cast<unsigned char>(c) >= 0x80) return fail(offset, "binary ASCII string holds a non-ASCII byte");
        }
        out = Value(std::move(text));
        return true;
      }
      case 0x6:
        return readUtf16(offset, pos, low, out);
      case 0xA:
      case 0xC:
        return readArray(object, offset, pos, low, out, depth);
      case 0xD:
        return readDictionary(object, offset, pos, low, out, depth);
      default:
        return fail(offset, "unknown binary object type");
    }
  }

  bool readInteger(std::size_t offset, std::size_t pos, unsigned low, Value& out) {
    if (low > 4) return fail(offset, "binary integer has an invalid size");
    const std::size_t width = std::size_t{1} << low;
    if (!checkExtent(pos, 1, width) || !spend(offset, 1)) return false;
    if (width == 16) {
      // Sixteen bytes carry integers beyond int64; only those that fit are kept.
      const std::uint64_t high = bigEndian(pos, 8);
      const std::uint64_t lowBits = bigEndian(pos + 8, 8);
      const bool fitsPositive = high == 0 && lowBits <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      const bool fitsNegative = high == ~std::uint64_t{0} && (lowBits >> 63) == 1;
      if (!fitsPositive && !fitsNegative) return fail(offset, "binary integer does not fit in 64 bits");
      out = Value(static_cast<std::int64_t>(lowBits));
      return true;
    }
    const std::uint64_t raw = bigEndian(pos, width);
    // Eight bytes are two's complement; narrower integers are unsigned.
    out = Value(static_cast<std::int64_t>(raw));
    return true;
  }

  bool readUtf16(std::size_t offset, std::size_t pos, unsigned low, Value& out) {
    std::uint64_t count = 0;
    if (!readCount(pos, low, count) || !checkExtent(pos, count, 2)) return false;
    if (!spend(offset, static_cast<std::size_t>(count) * 2)) return false;
    std::string text;
    text.reserve(static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < count; ++k) {
      std::uint32_t unit = static_cast<std::uint32_t>(bigEndian(pos + 2 * k, 2));
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (k + 1 >= count) return fail(offset, "binary UTF-16 string ends inside a surrogate pair");
        const auto next = static_cast<std::uint32_t>(bigEndian(pos + 2 * (k + 1), 2));
        if (next < 0xDC00 || next > 0xDFFF) return fail(offset, "binary UTF-16 string has an unpaired surrogate");
        unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++k;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return fail(offset, "binary UTF-16 string has an unpaired surrogate");
      }
      appendUtf8(text, static_cast<char32_t>(unit));
    }
    out = Value(std::move(text));
    return true;
  }

  // Marks `object` as being read for the lifetime of the guard: meeting it
  // again below itself is a cycle.
  class CycleGuard {
   public:
    CycleGuard(std::vector<bool>& inProgress, std::size_t object) : inProgress_(inProgress), object_(object) {
      inProgress_[object_] = true;
    }
    ~CycleGuard() { inProgress_[object_] = false; }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;

   private:
    std::vector<bool>& inProgress_;
    std::size_t object_;
  };

  bool enterContainer(std::size_t object, std::size_t offset, int depth) {
    if (depth >= kPropertyListMaxDepth) return fail(offset, "nesting is too deep");
    if (inProgress_[object]) return fail(offset, "binary object refers to itself (a cycle)");
    return true;
  }

  bool readArray(std::size_t object, std::size_t offset, std::size_t pos, unsigned low, Value& out, int depth) {
    if (!enterContainer(object, offset, depth)) return false;
    std::uint64_t count = 0;
    if (!readCount(pos, low, count) || !checkExtent(pos, count, referenceSize_) || !spend(offset, 1)) return false;
    CycleGuard guard(inProgress_, object);
    Array array;
    array.reserve(static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < count; ++k) {
      std::size_t element = 0;
      if (!objectReference(pos + k * referenceSize_, element)) return false;
      path_.push_back({{}, k, false});
      Value value;
      if (!readObject(element, value, depth + 1)) return false;
      path_.pop_back();
      array.push_back(std::move(value));
    }
    out = Value(std::move(array));
    return true;
  }

  bool readDictionary(std::size_t object, std::size_t offset, std::size_t pos, unsigned low, Value& out, int depth) {
    if (!enterContainer(object, offset, depth)) return false;
    std::uint64_t count = 0;
    if (!readCount(pos, low, count) || !checkExtent(pos, count, 2 * std::size_t{referenceSize_}) ||
        !spend(offset, 1)) {
      return false;
    }
    CycleGuard guard(inProgress_, object);
    Dictionary dictionary;
    const std::size_t valuesStart = pos + static_cast<std::size_t>(count) * referenceSize_;
    for (std::size_t k = 0; k < count; ++k) {
      std::size_t keyObject = 0;
      std::size_t valueObject = 0;
      if (!objectReference(pos + k * referenceSize_, keyObject) ||
          !objectReference(valuesStart + k * referenceSize_, valueObject)) {
        return false;
      }
      Value key;
      if (!readObject(keyObject, key, depth + 1)) return false;
      if (!key.isString()) return fail(offset, "binary dictionary key is not a string");
      std::string keyText = *key.string();
      path_.push_back({keyText, 0, true});
      Value value;
      if (!readObject(valueObject, value, depth + 1)) return false;
      path_.pop_back();
      dictionary.insert_or_assign(std::move(keyText), std::move(value));
    }
    out = Value(std::move(dictionary));
    return true;
  }

  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t offsetSize_ = 0;
  std::size_t referenceSize_ = 0;
  std::size_t objectCount_ = 0;
  std::size_t tableOffset_ = 0;
  std::size_t objectsEnd_ = 0;
  std::size_t budget_ = 0;
  std::vector<bool> inProgress_;
  std::vector<PathSegment> path_;
  std::optional<Error> error_;
};


}  // namespace

Result<Value> readBinaryPropertyList(std::string_view bytes) { return BinaryReader(bytes).read(); }

}  // namespace platform::detail
