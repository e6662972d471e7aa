#pragma once
// Error objects (domain, code, localized description, user info) and Result<T>,
// the return type of every operation whose failure is expected (network, file,
// parse, user input).

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "platform/Value.h"

namespace platform {

struct Error {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
  Dictionary userInfo;

  Error() = default;
  Error(std::string domain, std::int64_t code, std::string description, Dictionary userInfo = {})
      : domain(std::move(domain)), code(code), localizedDescription(std::move(description)), userInfo(std::move(userInfo)) {}
  template <typename Code>
    requires std::is_enum_v<Code>
  Error(std::string domain, Code code, std::string description, Dictionary userInfo = {})
      : Error(std::move(domain), static_cast<std::int64_t>(code), std::move(description), std::move(userInfo)) {}

  template <typename Code>
    requires std::is_enum_v<Code>
  bool is(std::string_view d, Code c) const { return domain == d && code == static_cast<std::int64_t>(c); }

  // "domain (code): description" for logs.
  std::string describe() const;

  friend bool operator==(const Error&, const Error&) = default;
};

// Either a value or an Error. Deliberately small: ok(), value(), error().
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : storage_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return storage_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(storage_); }
  const T& value() const& { return std::get<0>(storage_); }
  T&& value() && { return std::get<0>(std::move(storage_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { return std::get<1>(storage_); }

 private:
  std::variant<T, Error> storage_;
};

// Result of an operation with nothing to return.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}
  static Status success() { return {}; }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

}  // namespace platform
