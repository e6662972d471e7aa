// The clip catalogue's SQLite file. Identifiers in the SQL text come only from
// the fixed schema table; every value is a bound parameter. Key lists are
// bound as one JSON array and read with json_each, so a list of any length is
// one statement and one indexed lookup per key.

#include "nodes/catalogue/ClipCatalogueStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <nlohmann/json.hpp>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <variant>

#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using catalogue::AttributeKind;
using catalogue::ClipAttribute;
using platform::Error;
using platform::Result;
using platform::Status;
using platform::Value;

// The schema this code writes (PRAGMA user_version).
constexpr int kSchemaVersion = 1;

// Upper bound of the strings that begin with a prefix: valid UTF-8 never
// holds the byte 0xFF, so "prefix" <= s < "prefix\xFF" selects exactly them.
std::string prefixUpperBound(std::string_view prefix) { return std::string(prefix) + '\xFF'; }

std::string quoted(std::string_view identifier) { return "\"" + std::string(identifier) + "\""; }

Error storeError(ClipCatalogueErrorCode code, std::string description) {
  return Error(kClipCatalogueErrorDomain, code, "Clip catalogue: " + std::move(description));
}

ClipCatalogueErrorCode codeForResult(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ClipCatalogueErrorCode::Busy;
    case SQLITE_CONSTRAINT:
      return ClipCatalogueErrorCode::ConstraintViolated;
    case SQLITE_CORRUPT:
      return ClipCatalogueErrorCode::Damaged;
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
      return ClipCatalogueErrorCode::CannotOpen;
    default:
      return ClipCatalogueErrorCode::StorageFailed;
  }
}

std::string columnDefinition(const ClipAttribute& attribute) {
  const std::string name = quoted(attribute.name);
  std::string definition = name;
  switch (attribute.kind) {
    case AttributeKind::Text:
      definition += " TEXT NOT NULL DEFAULT ''";
      break;
    case AttributeKind::Integer:
      definition += " INTEGER NOT NULL DEFAULT 0";
      break;
    case AttributeKind::Int32:
      definition += " INTEGER NOT NULL DEFAULT 0 CHECK (" + name + " BETWEEN -2147483648 AND 2147483647)";
      break;
    case AttributeKind::Real:
      definition += " REAL NOT NULL DEFAULT 0";
      break;
    case AttributeKind::Boolean:
      definition += " INTEGER NOT NULL DEFAULT 0 CHECK (" + name + " IN (0, 1))";
      break;
    case AttributeKind::Date:
      definition += " INTEGER";  // microseconds since 1970, UTC
      break;
    case AttributeKind::Any:
      definition += " ANY";
      break;
  }
  if (attribute.name == clipinfo::kUniqueID) definition += " UNIQUE CHECK (" + name + " <> '')";
  return definition;
}

std::string schemaScript() {
  std::string clip = "CREATE TABLE \"Clip\" (";
  bool first = true;
  for (const ClipAttribute& attribute : catalogue::clipAttributes()) {
    if (!first) clip += ", ";
    first = false;
    clip += columnDefinition(attribute);
  }
  clip += ") STRICT;\n";
  const std::string parent = " REFERENCES \"Clip\"(\"clipInfoUniqueID\") ON DELETE CASCADE ON UPDATE CASCADE";
  return clip +
         "CREATE INDEX \"ClipByPath\" ON \"Clip\"(\"clipInfoAbsolutePathToMediaItem\", \"clipInfoNodeUniqueID\");\n"
         "CREATE INDEX \"ClipByNode\" ON \"Clip\"(\"clipInfoNodeUniqueID\", \"clipInfoMediaItemUniqueID\");\n"
         "CREATE INDEX \"ClipByMediaItem\" ON \"Clip\"(\"clipInfoMediaItemUniqueID\", "
         "\"clipInfoMediaFolderUniqueID\");\n"
         "CREATE INDEX \"ClipByMediaFolder\" ON \"Clip\"(\"clipInfoMediaFolderUniqueID\");\n"
         "CREATE TABLE \"ClipAttributes\" (\"attributeName\" TEXT NOT NULL, \"attributeValue\" ANY, "
         "\"toClipInfoUniqueID\" TEXT NOT NULL" +
         parent +
         ", UNIQUE (\"toClipInfoUniqueID\", \"attributeName\")) STRICT;\n"
         "CREATE TABLE \"ClipLanguages\" (\"languageCode\" TEXT NOT NULL, \"toClipInfoUniqueID\" TEXT NOT NULL" +
         parent +
         ") STRICT;\n"
         "CREATE INDEX \"ClipLanguagesByClip\" ON \"ClipLanguages\"(\"toClipInfoUniqueID\");\n"
         "CREATE TABLE \"Metadata\" (\"ClipInfoUniqueID\" TEXT NOT NULL" +
         parent +
         ", \"Key\" TEXT NOT NULL DEFAULT '', \"Type\" TEXT NOT NULL DEFAULT '', "
         "\"Value\" TEXT NOT NULL DEFAULT '') STRICT;\n"
         "CREATE INDEX \"MetadataByClip\" ON \"Metadata\"(\"ClipInfoUniqueID\");\n"
         "PRAGMA user_version = " +
         std::to_string(kSchemaVersion) + ";\n";
}

const std::string& clipColumnList() {
  static const std::string list = [] {
    std::string columns;
    for (const ClipAttribute& attribute : catalogue::clipAttributes()) {
      if (!columns.empty()) columns += ", ";
      columns += quoted(attribute.name);
    }
    return columns;
  }();
  return list;
}

// Positions of the Clip attributes in key order, so a row is built with
// appends at the end of its map.
const std::vector<std::size_t>& attributePositionsByName() {
  static const std::vector<std::size_t> positions = [] {
    const auto attributes = catalogue::clipAttributes();
    std::vector<std::size_t> order(attributes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return attributes[a].name < attributes[b].name; });
    return order;
  }();
  return positions;
}

std::string jsonArray(const std::vector<std::string>& keys) {
  try {
    return nlohmann::json(keys).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const std::exception&) {
    return "[]";  // unreachable with the replacing handler; matches nothing
  }
}

const char* keyColumn(ClipPredicate::KeyAttribute key) {
  switch (key) {
    case ClipPredicate::KeyAttribute::UniqueID:
      return "\"clipInfoUniqueID\"";
    case ClipPredicate::KeyAttribute::AbsolutePath:
      return "\"clipInfoAbsolutePathToMediaItem\"";
    case ClipPredicate::KeyAttribute::MediaItemUniqueID:
      return "\"clipInfoMediaItemUniqueID\"";
    case ClipPredicate::KeyAttribute::None:
      break;
  }
  return nullptr;
}

const char* orderColumn(ClipPredicate::Order order) {
  switch (order) {
    case ClipPredicate::Order::UniqueID:
      return "\"clipInfoUniqueID\"";
    case ClipPredicate::Order::AbsolutePath:
      return "\"clipInfoAbsolutePathToMediaItem\"";
    case ClipPredicate::Order::MediaItemUniqueID:
      return "\"clipInfoMediaItemUniqueID\"";
    case ClipPredicate::Order::None:
      break;
  }
  return nullptr;
}

using Parameter = std::variant<std::string, std::int64_t>;

// " WHERE ..." for the predicate, with its parameters in order.
std::string whereClause(const ClipPredicate& p, std::vector<Parameter>& parameters) {
  std::vector<std::string> conditions;
  auto equal = [&](const char* column, const std::optional<std::string>& value) {
    if (!value) return;
    conditions.push_back(std::string(column) + " = ?");
    parameters.emplace_back(*value);
  };
  auto beginsWith = [&](const char* column, const std::optional<std::string>& prefix) {
    if (!prefix) return;
    conditions.push_back(std::string(column) + " >= ? AND " + column + " < ?");
    parameters.emplace_back(*prefix);
    parameters.emplace_back(prefixUpperBound(*prefix));
  };
  equal("\"clipInfoUniqueID\"", p.uniqueID);
  equal("\"clipInfoNodeUniqueID\"", p.nodeUniqueID);
  equal("\"clipInfoAbsolutePathToMediaItem\"", p.absolutePath);
  equal("\"clipInfoMediaItemUniqueID\"", p.mediaItemUniqueID);
  beginsWith("\"clipInfoMediaItemUniqueID\"", p.mediaItemUniqueIDPrefix);
  equal("\"clipInfoMediaFolderUniqueID\"", p.mediaFolderUniqueID);
  beginsWith("\"clipInfoDisplayName\"", p.displayNamePrefix);
  if (p.zira) {
    conditions.push_back("\"clipInfoZira\" = ?");
    parameters.emplace_back(std::int64_t{*p.zira ? 1 : 0});
  }
  if (const char* column = keyColumn(p.keyAttribute)) {
    conditions.push_back(std::string(column) + " IN (SELECT value FROM json_each(?))");
    parameters.emplace_back(jsonArray(p.keys));
  }
  std::string clause;
  for (const std::string& condition : conditions) {
    clause += clause.empty() ? " WHERE " : " AND ";
    clause += condition;
  }
  return clause;
}

}  // namespace

struct ClipCatalogueStore::Impl {
  sqlite3* db = nullptr;
  std::filesystem::path path;
  bool inTransaction = false;
  std::unordered_map<std::string, sqlite3_stmt*> statements;  // prepared once, reused

  ~Impl() {
    for (auto& [sql, statement] : statements) sqlite3_finalize(statement);
    if (db) sqlite3_close_v2(db);
  }

  Error error(int rc, std::string_view context) const {
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return storeError(codeForResult(rc), std::string(context) + ": " + message + " (" + path.string() + ")");
  }

  Result<sqlite3_stmt*> prepare(const std::string& sql) {
    auto found = statements.find(sql);
    if (found != statements.end()) return found->second;
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                      &statement, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(statement);
      return error(rc, "cannot prepare a statement");
    }
    statements.emplace(sql, statement);
    return statement;
  }

  Status exec(const std::string& sql, std::string_view context) {
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return error(rc, context);
    return {};
  }

  // SQLite's quick check: success when the file is sound, Damaged with the
  // first problem it names otherwise.
  Status quickCheck() {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &statement, nullptr);
    std::string verdict;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(statement);
      if (rc == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        verdict = text ? text : "";
      }
    }
    if (rc != SQLITE_ROW) verdict = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    if (verdict == "ok") return {};
    return storeError(ClipCatalogueErrorCode::Damaged,
                      "the store at " + path.string() + " is damaged: " + verdict);
  }

  Status requireTransaction(std::string_view what) const {
    if (inTransaction) return {};
    return storeError(ClipCatalogueErrorCode::NotInTransaction, std::string(what) + " outside a transaction refused");
  }
};

namespace {

// One use of a prepared statement: binds in order, and resets the statement
// (ending its read) when it goes away.
class Use {
 public:
  Use(ClipCatalogueStore::Impl& impl, sqlite3_stmt* statement) : impl_(impl), statement_(statement) {}
  ~Use() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  void text(std::string_view value) {
    sqlite3_bind_text64(statement_, ++index_, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  // Text that outlives this use (bindings are cleared before it ends).
  void borrowedText(std::string_view value) {
    sqlite3_bind_text64(statement_, ++index_, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
  }
  // The next value binds to parameter `position` + 1.
  void seek(int position) { index_ = position; }
  void integer(std::int64_t value) { sqlite3_bind_int64(statement_, ++index_, value); }
  void real(double value) { sqlite3_bind_double(statement_, ++index_, value); }
  void null() { sqlite3_bind_null(statement_, ++index_); }
  void blob(const platform::Data& data) {
    sqlite3_bind_blob64(statement_, ++index_, data.data(), data.size(), SQLITE_TRANSIENT);
  }
  void parameters(const std::vector<Parameter>& values) {
    for (const Parameter& value : values) {
      if (const auto* s = std::get_if<std::string>(&value)) {
        text(*s);
      } else {
        integer(std::get<std::int64_t>(value));
      }
    }
  }

  // SQLITE_ROW or SQLITE_DONE; anything else becomes an error.
  Result<bool> step(std::string_view context) {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return impl_.error(rc, context);
  }
  Status run(std::string_view context) {
    Result<bool> row = step(context);
    if (!row.ok()) return row.error();
    return {};
  }

  sqlite3_stmt* statement() const { return statement_; }

 private:
  ClipCatalogueStore::Impl& impl_;
  sqlite3_stmt* statement_;
  int index_ = 0;
};

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

// A column of any storage class as the value it was stored from.
Value anyColumn(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
      return Value(columnText(statement, column));
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
      return Value(bytes ? platform::Data(bytes, bytes + size) : platform::Data());
    }
    default:
      return Value();
  }
}

Value attributeColumn(sqlite3_stmt* statement, int column, AttributeKind kind) {
  switch (kind) {
    case AttributeKind::Text:
      return Value(columnText(statement, column));
    case AttributeKind::Integer:
    case AttributeKind::Int32:
      return Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
    case AttributeKind::Real:
      return Value(sqlite3_column_double(statement, column));
    case AttributeKind::Boolean:
      return Value(sqlite3_column_int64(statement, column) != 0);
    case AttributeKind::Date:
      if (sqlite3_column_type(statement, column) == SQLITE_NULL) return Value();
      return Value(platform::Date(std::chrono::microseconds(sqlite3_column_int64(statement, column))));
    case AttributeKind::Any:
      return anyColumn(statement, column);
  }
  return Value();
}

// The columns of clipColumnList(), starting at column 0.
CatalogueRow clipRow(sqlite3_stmt* statement) {
  const auto attributes = catalogue::clipAttributes();
  CatalogueRow row;
  for (std::size_t position : attributePositionsByName()) {
    Value value = attributeColumn(statement, static_cast<int>(position), attributes[position].kind);
    if (!value.isNone()) row.emplace_hint(row.end(), std::string(attributes[position].name), std::move(value));
  }
  return row;
}

Error wrongType(std::string_view name, const Value& value, std::string_view expected) {
  return storeError(ClipCatalogueErrorCode::WrongType, "\"" + std::string(name) + "\": expected " +
                                                           std::string(expected) + ", found " +
                                                           platform::typeName(value.type()));
}

// Binds a value of no fixed type (codes, attribute values).
Status bindAny(Use& use, std::string_view name, const Value* value) {
  if (!value || value->isNone()) {
    use.null();
  } else if (const std::string* s = value->string()) {
    use.borrowedText(*s);
  } else if (value->isInteger() || value->isBoolean()) {
    use.integer(*value->integer());
  } else if (value->isReal()) {
    use.real(*value->real());
  } else if (const platform::Data* data = value->data()) {
    use.blob(*data);
  } else {
    return wrongType(name, *value, "a string, number, boolean or data");
  }
  return {};
}

// Binds one Clip attribute; a missing or none value binds its empty value.
Status bindAttribute(Use& use, const ClipAttribute& attribute, const Value* value) {
  const bool none = !value || value->isNone();
  switch (attribute.kind) {
    case AttributeKind::Text:
      if (none) {
        use.text("");
      } else if (const std::string* s = value->string()) {
        use.borrowedText(*s);
      } else {
        return wrongType(attribute.name, *value, "a string");
      }
      return {};
    case AttributeKind::Integer:
    case AttributeKind::Int32:
    case AttributeKind::Boolean:
      if (none) {
        use.integer(0);
      } else if (value->isInteger() || value->isBoolean() || value->isReal()) {
        if (attribute.kind == AttributeKind::Boolean) {
          use.integer(*value->boolean() ? 1 : 0);
        } else {
          use.integer(*value->integer());
        }
      } else {
        return wrongType(attribute.name, *value, "a number");
      }
      return {};
    case AttributeKind::Real:
      if (none) {
        use.real(0.0);
      } else if (value->isNumber() || value->isBoolean()) {
        use.real(*value->real());
      } else {
        return wrongType(attribute.name, *value, "a number");
      }
      return {};
    case AttributeKind::Date:
      if (none) {
        use.null();
      } else if (std::optional<platform::Date> date = value->date()) {
        use.integer(date->time_since_epoch().count());
      } else {
        return wrongType(attribute.name, *value, "a date");
      }
      return {};
    case AttributeKind::Any:
      return bindAny(use, attribute.name, value);
  }
  return {};
}

// The attributes named by the keys of `changes`, or UnknownAttribute.
Result<std::vector<const ClipAttribute*>> attributesOf(const CatalogueRow& changes) {
  std::vector<const ClipAttribute*> attributes;
  attributes.reserve(changes.size());
  for (const auto& [key, value] : changes) {
    const ClipAttribute* attribute = catalogue::clipAttributeNamed(key);
    if (!attribute) {
      return storeError(ClipCatalogueErrorCode::UnknownAttribute, "a Clip has no attribute \"" + key + "\"");
    }
    attributes.push_back(attribute);
  }
  return attributes;
}

std::string setClause(const std::vector<const ClipAttribute*>& attributes) {
  std::string clause;
  for (const ClipAttribute* attribute : attributes) {
    clause += clause.empty() ? " SET " : ", ";
    clause += quoted(attribute->name) + " = ?";
  }
  return clause;
}

Status bindChanges(Use& use, const std::vector<const ClipAttribute*>& attributes, const CatalogueRow& changes) {
  std::size_t i = 0;
  for (const auto& [key, value] : changes) {
    Status bound = bindAttribute(use, *attributes[i++], &value);
    if (!bound.ok()) return bound;
  }
  return {};
}

Result<std::vector<std::string>> collectTexts(Use& use, std::string_view context) {
  std::vector<std::string> texts;
  for (;;) {
    Result<bool> row = use.step(context);
    if (!row.ok()) return row.error();
    if (!*row) return texts;
    texts.push_back(columnText(use.statement(), 0));
  }
}

}  // namespace

ClipCatalogueStore::ClipCatalogueStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ClipCatalogueStore::~ClipCatalogueStore() = default;

Result<std::unique_ptr<ClipCatalogueStore>> ClipCatalogueStore::open(const std::filesystem::path& file,
                                                                     const Options& options) {
  auto impl = std::make_unique<Impl>();
  impl->path = file;
  const int rc = sqlite3_open_v2(file.c_str(), &impl->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    return storeError(ClipCatalogueErrorCode::CannotOpen,
                      "cannot open the store at " + file.string() + ": " + sqlite3_errstr(rc));
  }
  sqlite3_extended_result_codes(impl->db, 1);
  sqlite3_busy_timeout(impl->db, static_cast<int>(options.busyTimeout.count()));

  auto cannotOpen = [](Error error) {
    if (!error.is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::Damaged))
      error.code = static_cast<std::int64_t>(ClipCatalogueErrorCode::CannotOpen);
    return error;
  };
  // The first read of the file: one that is not a database fails here,
  // before anything is written to it.
  Result<sqlite3_stmt*> userVersion = impl->prepare("PRAGMA user_version");
  if (!userVersion.ok()) userVersion = impl->error(sqlite3_errcode(impl->db), "cannot open the store");
  if (!userVersion.ok()) return cannotOpen(userVersion.error());
  int version = 0;
  {
    Use use(*impl, *userVersion);
    Result<bool> row = use.step("cannot open the store");
    if (!row.ok()) return cannotOpen(row.error());
    version = *row ? sqlite3_column_int(*userVersion, 0) : 0;
  }
  if (version > kSchemaVersion) {
    return storeError(ClipCatalogueErrorCode::NewerFormat, "the store at " + file.string() + " has format " +
                                                               std::to_string(version) + ", newer than " +
                                                               std::to_string(kSchemaVersion));
  }
  for (const char* pragma : {"PRAGMA foreign_keys = ON", "PRAGMA synchronous = FULL", "PRAGMA temp_store = MEMORY"}) {
    Status set = impl->exec(pragma, "cannot configure the store");
    if (!set.ok()) return cannotOpen(set.error());
  }
  {
    Result<sqlite3_stmt*> journal = impl->prepare("PRAGMA journal_mode = WAL");
    if (!journal.ok()) return cannotOpen(journal.error());
    Use use(*impl, *journal);
    Result<bool> row = use.step("cannot set the journal mode");
    if (!row.ok()) return cannotOpen(row.error());
    if (!*row || columnText(*journal, 0) != "wal") {
      platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                                 "Clip catalogue: the store at " + file.string() + " runs without write-ahead log");
    }
  }

  // Garbage inside a database file shows only when the damaged pages are
  // read, typically by a write: look at every page now.
  if (Status sound = impl->quickCheck(); !sound.ok()) return sound.error();

  auto store = std::unique_ptr<ClipCatalogueStore>(new ClipCatalogueStore(std::move(impl)));
  Impl& opened = *store->impl_;
  if (version == 0) {
    Result<sqlite3_stmt*> tables = opened.prepare("SELECT count(*) FROM sqlite_schema");
    if (!tables.ok()) return cannotOpen(tables.error());
    std::int64_t count = 0;
    {
      Use use(opened, *tables);
      Result<bool> row = use.step("cannot read the schema");
      if (!row.ok()) return cannotOpen(row.error());
      count = sqlite3_column_int64(*tables, 0);
    }
    if (count != 0) {
      return storeError(ClipCatalogueErrorCode::CannotOpen,
                        "the database at " + file.string() + " is not a clip catalogue");
    }
    Status created = store->performTransaction([&] { return opened.exec(schemaScript(), "cannot create the schema"); });
    if (!created.ok()) return created.error();
  }
  // A store whose Clip table lacks an attribute cannot serve the catalogue.
  Result<sqlite3_stmt*> select = opened.prepare("SELECT " + clipColumnList() + " FROM \"Clip\" LIMIT 0");
  if (!select.ok()) {
    return storeError(
        ClipCatalogueErrorCode::CannotOpen,
        "the database at " + file.string() + " is not a clip catalogue: " + select.error().localizedDescription);
  }
  return store;
}

const std::filesystem::path& ClipCatalogueStore::path() const { return impl_->path; }

bool ClipCatalogueStore::isInTransaction() const { return impl_->inTransaction; }

Status ClipCatalogueStore::performTransaction(const std::function<Status()>& body) {
  Impl& impl = *impl_;
  if (impl.inTransaction) {
    return storeError(ClipCatalogueErrorCode::StorageFailed, "a transaction inside a transaction refused");
  }
  Status begun = impl.exec("BEGIN IMMEDIATE", "cannot begin a transaction");
  if (!begun.ok()) return begun;
  impl.inTransaction = true;
  Status status;
  try {
    status = body();
  } catch (const std::exception& exception) {
    status = storeError(ClipCatalogueErrorCode::StorageFailed, std::string("transaction failed: ") + exception.what());
  }
  if (status.ok()) status = impl.exec("COMMIT", "cannot commit");
  if (!status.ok() && !sqlite3_get_autocommit(impl.db)) {
    Status rolledBack = impl.exec("ROLLBACK", "cannot roll back");
    if (!rolledBack.ok()) platform::reportDiagnostic(platform::DiagnosticLevel::Error, rolledBack.error().describe());
  }
  impl.inTransaction = false;
  // A write that failed for a reason of the file (not of the data): tell
  // damage apart from a passing problem.
  const bool fileFailure = !status.ok() && (status.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::StorageFailed) ||
                                            status.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::Damaged));
  if (fileFailure) {
    if (Status sound = impl.quickCheck(); !sound.ok()) return sound;
  }
  return status;
}

// ---- Clip ----

Result<std::vector<CatalogueRow>> ClipCatalogueStore::fetchClips(const ClipPredicate& predicate) const {
  std::vector<Parameter> parameters;
  std::string sql = "SELECT " + clipColumnList() + " FROM \"Clip\"" + whereClause(predicate, parameters);
  if (const char* order = orderColumn(predicate.orderBy)) sql += std::string(" ORDER BY ") + order;
  Result<sqlite3_stmt*> statement = impl_->prepare(sql);
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  use.parameters(parameters);
  std::vector<CatalogueRow> rows;
  for (;;) {
    Result<bool> row = use.step("cannot fetch clips");
    if (!row.ok()) return row.error();
    if (!*row) return rows;
    rows.push_back(clipRow(*statement));
  }
}

Result<std::vector<std::string>> ClipCatalogueStore::fetchClipUniqueIDs(const ClipPredicate& predicate) const {
  std::vector<Parameter> parameters;
  std::string sql = "SELECT \"clipInfoUniqueID\" FROM \"Clip\"" + whereClause(predicate, parameters);
  if (const char* order = orderColumn(predicate.orderBy)) sql += std::string(" ORDER BY ") + order;
  Result<sqlite3_stmt*> statement = impl_->prepare(sql);
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  use.parameters(parameters);
  return collectTexts(use, "cannot fetch clip unique IDs");
}

Result<std::int64_t> ClipCatalogueStore::countClips(const ClipPredicate& predicate) const {
  std::vector<Parameter> parameters;
  Result<sqlite3_stmt*> statement =
      impl_->prepare("SELECT count(*) FROM \"Clip\"" + whereClause(predicate, parameters));
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  use.parameters(parameters);
  Result<bool> row = use.step("cannot count clips");
  if (!row.ok()) return row.error();
  return static_cast<std::int64_t>(sqlite3_column_int64(*statement, 0));
}

Status ClipCatalogueStore::insertClip(const CatalogueRow& row) {
  if (Status inside = impl_->requireTransaction("inserting a clip"); !inside.ok()) return inside;
  static const std::string sql = [] {
    std::string placeholders;
    for (std::size_t i = 0; i < catalogue::clipAttributes().size(); ++i) placeholders += i == 0 ? "?" : ", ?";
    return "INSERT INTO \"Clip\" (" + clipColumnList() + ") VALUES (" + placeholders + ")";
  }();
  Result<sqlite3_stmt*> statement = impl_->prepare(sql);
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  // The row's keys and the attributes, both in name order, walked together.
  const auto attributes = catalogue::clipAttributes();
  auto entry = row.begin();
  auto unknown = [](const std::string& key) {
    return storeError(ClipCatalogueErrorCode::UnknownAttribute, "a Clip has no attribute \"" + key + "\"");
  };
  for (std::size_t position : attributePositionsByName()) {
    const ClipAttribute& attribute = attributes[position];
    if (entry != row.end() && entry->first < attribute.name) return unknown(entry->first);
    const Value* value = nullptr;
    if (entry != row.end() && entry->first == attribute.name) value = &(entry++)->second;
    use.seek(static_cast<int>(position));
    if (Status bound = bindAttribute(use, attribute, value); !bound.ok()) return bound;
  }
  if (entry != row.end()) return unknown(entry->first);
  return use.run("cannot insert a clip");
}

Result<bool> ClipCatalogueStore::updateClip(std::string_view uniqueID, const CatalogueRow& changes) {
  if (Status inside = impl_->requireTransaction("updating a clip"); !inside.ok()) return inside.error();
  Result<std::vector<const ClipAttribute*>> attributes = attributesOf(changes);
  if (!attributes.ok()) return attributes.error();
  if (changes.empty()) {
    Result<std::int64_t> count = countClips({.uniqueID = std::string(uniqueID)});
    if (!count.ok()) return count.error();
    return *count > 0;
  }
  Result<sqlite3_stmt*> statement =
      impl_->prepare("UPDATE \"Clip\"" + setClause(*attributes) + " WHERE \"clipInfoUniqueID\" = ?");
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  if (Status bound = bindChanges(use, *attributes, changes); !bound.ok()) return bound.error();
  use.text(uniqueID);
  if (Status ran = use.run("cannot update a clip"); !ran.ok()) return ran.error();
  return sqlite3_changes64(impl_->db) > 0;
}

Result<std::vector<std::string>> ClipCatalogueStore::updateClips(const ClipPredicate& predicate,
                                                                 const CatalogueRow& changes) {
  if (Status inside = impl_->requireTransaction("updating clips"); !inside.ok()) return inside.error();
  Result<std::vector<const ClipAttribute*>> attributes = attributesOf(changes);
  if (!attributes.ok()) return attributes.error();
  if (changes.empty()) return fetchClipUniqueIDs(predicate);
  std::vector<Parameter> parameters;
  const std::string where = whereClause(predicate, parameters);
  Result<sqlite3_stmt*> statement =
      impl_->prepare("UPDATE \"Clip\"" + setClause(*attributes) + where + " RETURNING \"clipInfoUniqueID\"");
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  if (Status bound = bindChanges(use, *attributes, changes); !bound.ok()) return bound.error();
  use.parameters(parameters);
  return collectTexts(use, "cannot update clips");
}

Result<std::vector<std::string>> ClipCatalogueStore::deleteClips(const ClipPredicate& predicate) {
  if (Status inside = impl_->requireTransaction("deleting clips"); !inside.ok()) return inside.error();
  std::vector<Parameter> parameters;
  const std::string where = whereClause(predicate, parameters);
  Result<sqlite3_stmt*> statement = impl_->prepare("DELETE FROM \"Clip\"" + where + " RETURNING \"clipInfoUniqueID\"");
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  use.parameters(parameters);
  return collectTexts(use, "cannot delete clips");
}

// ---- Side tables ----

namespace {

// "SELECT <columns> FROM <table> [WHERE <clip column> IN (...)] ORDER BY
// <clip column>, rowid" and the rows it reads, each column by `kinds`.
Result<std::vector<CatalogueRow>> fetchSideRows(ClipCatalogueStore::Impl& impl, const char* table,
                                                const std::vector<std::pair<const char*, bool>>& columns,
                                                const char* clipColumn,
                                                const std::optional<std::vector<std::string>>& clipUniqueIDs) {
  std::string list;
  for (const auto& [name, any] : columns) list += (list.empty() ? "" : ", ") + quoted(name);
  std::string sql = "SELECT " + list + " FROM " + quoted(table);
  if (clipUniqueIDs) sql += " WHERE " + quoted(clipColumn) + " IN (SELECT value FROM json_each(?))";
  sql += " ORDER BY " + quoted(clipColumn) + ", rowid";
  Result<sqlite3_stmt*> statement = impl.prepare(sql);
  if (!statement.ok()) return statement.error();
  Use use(impl, *statement);
  if (clipUniqueIDs) use.text(jsonArray(*clipUniqueIDs));
  std::vector<CatalogueRow> rows;
  for (;;) {
    Result<bool> row = use.step(std::string("cannot fetch ") + table);
    if (!row.ok()) return row.error();
    if (!*row) return rows;
    CatalogueRow values;
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
      Value value = columns[i].second ? anyColumn(*statement, i) : Value(columnText(*statement, i));
      if (!value.isNone()) values.insert_or_assign(columns[i].first, std::move(value));
    }
    rows.push_back(std::move(values));
  }
}

Status deleteSideRows(ClipCatalogueStore::Impl& impl, const char* table, const char* clipColumn,
                      const std::vector<std::string>& clipUniqueIDs) {
  if (Status inside = impl.requireTransaction(std::string("deleting ") + table); !inside.ok()) return inside;
  if (clipUniqueIDs.empty()) return {};
  Result<sqlite3_stmt*> statement = impl.prepare("DELETE FROM " + quoted(table) + " WHERE " + quoted(clipColumn) +
                                                 " IN (SELECT value FROM json_each(?))");
  if (!statement.ok()) return statement.error();
  Use use(impl, *statement);
  use.text(jsonArray(clipUniqueIDs));
  return use.run(std::string("cannot delete ") + table);
}

}  // namespace

Result<std::vector<CatalogueRow>> ClipCatalogueStore::fetchAttributes(
    const std::optional<std::vector<std::string>>& clipUniqueIDs) const {
  return fetchSideRows(*impl_, catalogue::kClipAttributesEntity,
                       {{clipinfo::kAttributeNameKey, false},
                        {clipinfo::kAttributeValueKey, true},
                        {catalogue::kToClipInfoUniqueID, false}},
                       catalogue::kToClipInfoUniqueID, clipUniqueIDs);
}

Status ClipCatalogueStore::setAttributes(std::string_view clipUniqueID, const platform::Dictionary& attributes) {
  if (Status removed = deleteAttributes({std::string(clipUniqueID)}); !removed.ok()) return removed;
  Result<sqlite3_stmt*> statement = impl_->prepare(
      "INSERT INTO \"ClipAttributes\" (\"attributeName\", \"attributeValue\", \"toClipInfoUniqueID\") VALUES (?, ?, "
      "?)");
  if (!statement.ok()) return statement.error();
  for (const auto& [name, value] : attributes) {
    if (value.isNone()) continue;
    Use use(*impl_, *statement);
    use.text(name);
    if (Status bound = bindAny(use, name, &value); !bound.ok()) return bound;
    use.text(clipUniqueID);
    if (Status ran = use.run("cannot store an attribute"); !ran.ok()) return ran;
  }
  return {};
}

Status ClipCatalogueStore::deleteAttributes(const std::vector<std::string>& clipUniqueIDs) {
  return deleteSideRows(*impl_, catalogue::kClipAttributesEntity, catalogue::kToClipInfoUniqueID, clipUniqueIDs);
}

Result<std::vector<CatalogueRow>> ClipCatalogueStore::fetchLanguages(
    const std::optional<std::vector<std::string>>& clipUniqueIDs) const {
  return fetchSideRows(*impl_, catalogue::kClipLanguagesEntity,
                       {{catalogue::kLanguageCode, false}, {catalogue::kToClipInfoUniqueID, false}},
                       catalogue::kToClipInfoUniqueID, clipUniqueIDs);
}

Status ClipCatalogueStore::setLanguages(std::string_view clipUniqueID, const std::vector<std::string>& languageCodes) {
  if (Status removed = deleteLanguages({std::string(clipUniqueID)}); !removed.ok()) return removed;
  Result<sqlite3_stmt*> statement =
      impl_->prepare("INSERT INTO \"ClipLanguages\" (\"languageCode\", \"toClipInfoUniqueID\") VALUES (?, ?)");
  if (!statement.ok()) return statement.error();
  for (const std::string& code : languageCodes) {
    Use use(*impl_, *statement);
    use.text(code);
    use.text(clipUniqueID);
    if (Status ran = use.run("cannot store a language"); !ran.ok()) return ran;
  }
  return {};
}

Status ClipCatalogueStore::deleteLanguages(const std::vector<std::string>& clipUniqueIDs) {
  return deleteSideRows(*impl_, catalogue::kClipLanguagesEntity, catalogue::kToClipInfoUniqueID, clipUniqueIDs);
}

Result<std::vector<CatalogueRow>> ClipCatalogueStore::fetchMetadata(
    const std::vector<std::string>& clipUniqueIDs) const {
  return fetchSideRows(*impl_, catalogue::kMetadataEntity,
                       {{kMetadataClipUniqueIDKey, false},
                        {kMetadataKeyKey, false},
                        {kMetadataTypeKey, false},
                        {kMetadataValueKey, false}},
                       kMetadataClipUniqueIDKey, clipUniqueIDs);
}

Status ClipCatalogueStore::insertMetadata(const CatalogueRow& row) {
  if (Status inside = impl_->requireTransaction("inserting metadata"); !inside.ok()) return inside;
  Result<sqlite3_stmt*> statement = impl_->prepare(
      "INSERT INTO \"Metadata\" (\"ClipInfoUniqueID\", \"Key\", \"Type\", \"Value\") VALUES (?, ?, ?, ?)");
  if (!statement.ok()) return statement.error();
  Use use(*impl_, *statement);
  for (const char* key : {kMetadataClipUniqueIDKey, kMetadataKeyKey, kMetadataTypeKey, kMetadataValueKey}) {
    auto found = row.find(key);
    if (found == row.end() || found->second.isNone()) {
      use.text("");
    } else if (const std::string* text = found->second.string()) {
      use.text(*text);
    } else {
      return wrongType(key, found->second, "a string");
    }
  }
  return use.run("cannot insert metadata");
}

Status ClipCatalogueStore::deleteMetadata(const std::vector<std::string>& clipUniqueIDs) {
  return deleteSideRows(*impl_, catalogue::kMetadataEntity, kMetadataClipUniqueIDKey, clipUniqueIDs);
}

}  // namespace nodes
