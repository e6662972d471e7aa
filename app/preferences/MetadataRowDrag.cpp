#include "app/preferences/MetadataRowDrag.h"

#include <algorithm>
#include <memory>

#include "platform/KeyedArchive.h"

namespace app::preferences {
namespace {

constexpr const char* kIndexSetClassName = "IndexSet";
constexpr const char* kIndexesKey = "indexes";

class ArchivedIndexSet final : public platform::Archivable {
 public:
  explicit ArchivedIndexSet(std::vector<std::size_t> rows) : rows_(std::move(rows)) {}
  std::string className() const override { return kIndexSetClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override {
    platform::Array indexes(rows_.size());
    std::transform(rows_.begin(), rows_.end(), indexes.begin(),
                   [](std::size_t row) { return platform::Value(static_cast<std::int64_t>(row)); });
    encoder.encodeValue(kIndexesKey, platform::Value(std::move(indexes)));
  }
  const std::vector<std::size_t>& rows() const { return rows_; }

 private:
  std::vector<std::size_t> rows_;
};

platform::Result<std::shared_ptr<platform::Archivable>> decodeIndexSet(const platform::KeyedArchiveDecoder& decoder) {
  platform::Result<platform::Value> indexes = decoder.requireValue(kIndexesKey, platform::Value::Type::Array);
  if (!indexes.ok()) return indexes.error();
  std::vector<std::size_t> rows;
  for (const platform::Value& index : *indexes->array()) {
    if (!index.isInteger() || *index.integer() < 0) return decoder.error(kIndexesKey, "holds a value that is no row");
    rows.push_back(static_cast<std::size_t>(*index.integer()));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return std::shared_ptr<platform::Archivable>(std::make_shared<ArchivedIndexSet>(std::move(rows)));
}

const platform::KeyedArchiveRegistry& indexSetRegistry() {
  static const auto* registry = [] {
    auto* made = new platform::KeyedArchiveRegistry;  // lives for the process
    made->registerClass(kIndexSetClassName, decodeIndexSet);
    return made;
  }();
  return *registry;
}

}  // namespace

platform::Result<std::string> archivedRowIndexes(const std::vector<std::size_t>& rows) {
  return platform::archivedData(ArchivedIndexSet(rows));
}

platform::Result<std::vector<std::size_t>> unarchivedRowIndexes(std::string_view bytes) {
  platform::Result<std::shared_ptr<ArchivedIndexSet>> set =
      platform::unarchiveAs<ArchivedIndexSet>(bytes, indexSetRegistry());
  if (!set.ok()) return set.error();
  return (*set)->rows();
}

}  // namespace app::preferences
