#include "foundation/PathUtilities.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace foundation {
namespace {

constexpr std::size_t kPasswordBufferSize = 16384;

std::optional<std::string> homeOfUser(const std::string& user) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(kPasswordBufferSize);
  const int failed = user.empty() ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)
                                  : getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (failed != 0 || found == nullptr || entry.pw_dir == nullptr) return std::nullopt;
  return std::string(entry.pw_dir);
}

std::optional<std::string> currentHome() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return std::string(home);
  return homeOfUser({});
}

}  // namespace

std::string expandTildeInPath(std::string_view path) {
  if (path.empty() || path.front() != '~') return std::string(path);
  const std::size_t slash = path.find('/');
  const std::string user(path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1));
  const std::optional<std::string> home = user.empty() ? currentHome() : homeOfUser(user);
  if (!home) return std::string(path);
  if (slash == std::string_view::npos) return pathWithComponents(pathComponents(*home));
  return stringByAppendingPathComponent(*home, path.substr(slash + 1));
}

std::vector<std::string> pathComponents(std::string_view path) {
  std::vector<std::string> components;
  if (!path.empty() && path.front() == '/') components.emplace_back("/");
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) components.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return components;
}

std::string pathWithComponents(const std::vector<std::string>& components) {
  std::string path;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (component == "/") {
      if (i == 0) path.push_back('/');
      continue;
    }
    if (!path.empty() && path.back() != '/') path += '/';
    path += component;
  }
  return path;
}

std::string stringByAppendingPathComponent(std::string_view base, std::string_view component) {
  std::vector<std::string> components = pathComponents(base);
  for (std::string& part : pathComponents(component)) {
    if (part != "/") components.push_back(std::move(part));
  }
  return pathWithComponents(components);
}

std::string stringByDeletingPathExtension(std::string_view path) {
  std::vector<std::string> components = pathComponents(path);
  if (components.empty() || components.back() == "/") return pathWithComponents(components);
  std::string& name = components.back();
  if (name == "." || name == "..") return pathWithComponents(components);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return pathWithComponents(components);
}

std::optional<std::string> absolutePathFromBaseDirPath(std::string_view path, std::string_view base) {
  if (!path.empty() && path.front() == '~') return expandTildeInPath(path);
  // An absolute path already names its file; appending it to the base would
  // point into a folder that does not exist.
  if (!path.empty() && path.front() == '/') return std::string(path);
  const std::string expandedBase = expandTildeInPath(base);
  if (path.empty() || path.front() != '.') return stringByAppendingPathComponent(expandedBase, path);

  std::vector<std::string> components = pathComponents(expandedBase);
  for (std::string& component : pathComponents(path)) {
    if (component == ".") continue;
    if (component == "..") {
      if (components.size() <= 1) return std::nullopt;  // only the root (or nothing) left
      components.pop_back();
      continue;
    }
    components.push_back(std::move(component));
  }
  return pathWithComponents(components);
}

std::string relativePathFromBaseDirPath(std::string_view path, std::string_view base) {
  const std::vector<std::string> pathParts = pathComponents(expandTildeInPath(path));
  const std::vector<std::string> baseParts = pathComponents(expandTildeInPath(base));
  const auto isAbsolute = [](const std::vector<std::string>& parts) { return !parts.empty() && parts[0] == "/"; };
  // Without a shared root no chain of ".." leads from one to the other.
  if (isAbsolute(pathParts) != isAbsolute(baseParts)) return pathWithComponents(pathParts);
  std::size_t shared = 0;
  while (shared < pathParts.size() && shared < baseParts.size() && pathParts[shared] == baseParts[shared]) ++shared;

  std::vector<std::string> relative(baseParts.size() - shared, "..");
  relative.insert(relative.end(), pathParts.begin() + static_cast<std::ptrdiff_t>(shared), pathParts.end());
  if (relative.empty()) return ".";
  // A first component such as "~take" would read back as a home folder.
  if (relative.front().starts_with('~')) relative.insert(relative.begin(), ".");
  return pathWithComponents(relative);
}

}  // namespace foundation
