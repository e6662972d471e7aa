#pragma once
// ClipCatalogueStore: the clip catalogue's SQLite file: one table per entity
// (Clip, ClipAttributes, ClipLanguages, Metadata), typed columns, the side
// tables tied to their clip by foreign keys that delete them with it, and the
// indexes the catalogue's fetches use. Rows go in and out as CatalogueRow
// dictionaries (nodes/catalogue/ClipCatalogueSchema.h).
//
// Owned by ClipCatalogue; used on one thread at a time (the main thread).
//
// Guarantees:
// - every write runs inside performTransaction (BEGIN IMMEDIATE ... COMMIT);
//   a write outside one is refused, so nothing is ever half-written: a body
//   that fails, a constraint the data breaks, a busy database or a failed
//   commit rolls the whole transaction back;
// - values only ever reach SQL as bound parameters; the SQL text is fixed;
// - the file is in WAL mode with a busy timeout, foreign keys enforced;
// - a file that is not a catalogue of this format is refused at open() with
//   one error and left as it was;
// - damage is told apart: a database whose quick check fails (at open, and
//   again whenever a write fails) is Damaged, so the owner can keep it aside and start afresh instead of
//   failing every write in this and later runs.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/catalogue/ClipCatalogueSchema.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kClipCatalogueErrorDomain = "ClipCatalogueErrorDomain";

enum class ClipCatalogueErrorCode {
  CannotOpen = 1,          // the file cannot be opened or is not a database
  NewerFormat = 2,         // written by a newer version of the catalogue
  Busy = 3,                // another connection holds the write lock
  ConstraintViolated = 4,  // a row broke a rule of the schema (unique ID, type, range)
  WrongType = 5,           // a row value of a type the attribute cannot hold
  UnknownAttribute = 6,    // a row key the entity does not have
  NotInTransaction = 7,    // a write outside performTransaction
  StorageFailed = 8,       // any other SQLite failure (I/O, full disk, read-only)
  Disabled = 9,            // the catalogue could not be opened and does nothing
  Damaged = 10,            // a database whose pages are damaged (its quick check fails)
};

// Which Clip rows a fetch, update or delete addresses: every field given
// must hold (AND); an empty predicate addresses every row.
struct ClipPredicate {
  std::optional<std::string> uniqueID{};
  std::optional<std::string> nodeUniqueID{};
  std::optional<std::string> absolutePath{};
  std::optional<std::string> mediaItemUniqueID{};        // equal
  std::optional<std::string> mediaItemUniqueIDPrefix{};  // begins with (byte-wise)
  std::optional<std::string> mediaFolderUniqueID{};
  std::optional<std::string> displayNamePrefix{};  // begins with (byte-wise, case-sensitive)
  std::optional<bool> zira{};

  // Rows whose `keyAttribute` is one of `keys` (one lookup per distinct key,
  // however long the list).
  enum class KeyAttribute { None, UniqueID, AbsolutePath, MediaItemUniqueID };
  KeyAttribute keyAttribute = KeyAttribute::None;
  std::vector<std::string> keys{};

  // Fetch order (byte-wise, ascending); None: the store's order.
  enum class Order { None, UniqueID, AbsolutePath, MediaItemUniqueID };
  Order orderBy = Order::None;
};

class ClipCatalogueStore {
 public:
  struct Options {
    // How long a write waits for another connection's lock before it fails
    // with Busy.
    std::chrono::milliseconds busyTimeout{5000};
  };

  // Opens the store file, creating it (and its schema) when missing. The
  // folder must exist. CannotOpen for a file that is not a database, an
  // unreadable one or a schema that is not the catalogue's; NewerFormat for a
  // catalogue of a later format; Damaged for a damaged file.
  static platform::Result<std::unique_ptr<ClipCatalogueStore>> open(const std::filesystem::path& file,
                                                                    const Options& options);
  static platform::Result<std::unique_ptr<ClipCatalogueStore>> open(const std::filesystem::path& file) {
    return open(file, Options{});
  }
  ~ClipCatalogueStore();
  ClipCatalogueStore(const ClipCatalogueStore&) = delete;
  ClipCatalogueStore& operator=(const ClipCatalogueStore&) = delete;

  const std::filesystem::path& path() const;

  // Runs `body` in one write transaction: BEGIN IMMEDIATE, the body, COMMIT.
  // When the body returns an error, or beginning or committing fails, the
  // transaction is rolled back and that error returned (Damaged when the
  // file's quick check then fails). Not nestable (a call from inside a body
  // is refused).
  platform::Status performTransaction(const std::function<platform::Status()>& body);
  bool isInTransaction() const;

  // ---- Clip ----
  // Full rows (every attribute that has a value).
  platform::Result<std::vector<CatalogueRow>> fetchClips(const ClipPredicate& predicate) const;
  // Only the "clipInfoUniqueID" of each row.
  platform::Result<std::vector<std::string>> fetchClipUniqueIDs(const ClipPredicate& predicate) const;
  platform::Result<std::int64_t> countClips(const ClipPredicate& predicate = {}) const;

  // Inserts a row; attributes it lacks, or holds as none, get their empty
  // value ("", 0, NO; nothing for the Date and Any ones). WrongType for a
  // value the attribute cannot hold, UnknownAttribute for a key the entity
  // lacks; ConstraintViolated when "clipInfoUniqueID" is missing, empty or
  // already taken, or a 32-bit attribute is out of range.
  platform::Status insertClip(const CatalogueRow& row);
  // Sets the attributes in `changes` (none values as for insertClip) on the
  // row with that unique ID. False when there is no such row.
  platform::Result<bool> updateClip(std::string_view uniqueID, const CatalogueRow& changes);
  // Sets `changes` on every matching row; the unique IDs of those rows.
  platform::Result<std::vector<std::string>> updateClips(const ClipPredicate& predicate, const CatalogueRow& changes);
  // Deletes every matching row with its attribute, language and metadata
  // rows; the unique IDs of the deleted clips.
  platform::Result<std::vector<std::string>> deleteClips(const ClipPredicate& predicate);

  // ---- ClipAttributes ----
  // Rows {"attributeName", "attributeValue", "toClipInfoUniqueID"} of those
  // clips (every row for none), ordered by clip unique ID.
  platform::Result<std::vector<CatalogueRow>> fetchAttributes(
      const std::optional<std::vector<std::string>>& clipUniqueIDs) const;
  // Replaces the clip's attribute rows by one row per entry (text values).
  platform::Status setAttributes(std::string_view clipUniqueID, const platform::Dictionary& attributes);
  platform::Status deleteAttributes(const std::vector<std::string>& clipUniqueIDs);

  // ---- ClipLanguages ----
  // Rows {"languageCode", "toClipInfoUniqueID"} (every row for none).
  platform::Result<std::vector<CatalogueRow>> fetchLanguages(
      const std::optional<std::vector<std::string>>& clipUniqueIDs) const;
  platform::Status setLanguages(std::string_view clipUniqueID, const std::vector<std::string>& languageCodes);
  platform::Status deleteLanguages(const std::vector<std::string>& clipUniqueIDs);

  // ---- Metadata ----
  // Rows {"ClipInfoUniqueID", "Key", "Type", "Value"} of those clips,
  // ordered by clip unique ID, then as inserted.
  platform::Result<std::vector<CatalogueRow>> fetchMetadata(const std::vector<std::string>& clipUniqueIDs) const;
  // One row of the four string keys (missing ones stored as ""); the clip
  // must exist.
  platform::Status insertMetadata(const CatalogueRow& row);
  platform::Status deleteMetadata(const std::vector<std::string>& clipUniqueIDs);

  struct Impl;  // the connection and its prepared statements; opaque

 private:
  explicit ClipCatalogueStore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace nodes
