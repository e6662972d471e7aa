#pragma once
// Text path helpers: tilde expansion, components, extensions, and the
// relative and absolute forms in which project files store the paths of
// their media ("../Media/clip.mov" next to the project, resolved back against
// the project's path).
//
// Stateless free functions; safe on any thread (tilde expansion reads $HOME
// and the password database). Paths are UTF-8 text and are not looked up on
// disk: ".." and symbolic links are resolved only where stated.
//
// Components: "/" is the first component of an absolute path; empty
// components (repeated or trailing slashes) are dropped, so "/a//b/" splits
// into "/", "a", "b".

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// "~" and "~/x" become the home folder ($HOME, else the password database);
// "~name/x" the home folder of user name. Any other path, or an unknown user,
// comes back unchanged.
std::string expandTildeInPath(std::string_view path);

std::vector<std::string> pathComponents(std::string_view path);
// Components joined by "/"; a "/" component counts only in first place.
std::string pathWithComponents(const std::vector<std::string>& components);
// `base` and `component` joined by one "/", without a trailing slash.
std::string stringByAppendingPathComponent(std::string_view base, std::string_view component);
// The path without the extension of its last component ("a/b.mov" -> "a/b");
// a name that only starts with a dot (".hidden") has no extension.
std::string stringByDeletingPathExtension(std::string_view path);

// `path` resolved against the folder `base`:
// - a path starting with "~" is tilde-expanded and returned;
// - an absolute path is returned unchanged;
// - a path not starting with "." is appended to the (tilde-expanded) base as it
//   is ("a/../b" is not resolved);
// - a path starting with "." is applied component by component to the base's
//   components: "." is skipped, ".." removes the last one, anything else is
//   appended. None when ".." would remove the base's last remaining component.
std::optional<std::string> absolutePathFromBaseDirPath(std::string_view path, std::string_view base);

// `path` relative to the folder `base`, both tilde-expanded: their shared
// leading components are dropped and one ".." stands for each base component
// left. "." when nothing is left. When one of them is absolute and the other
// not, there is no relative form and the (expanded) path is returned. A
// result whose first component starts with "~" gets "./" in front, so that
// absolutePathFromBaseDirPath does not read it as a home folder.
std::string relativePathFromBaseDirPath(std::string_view path, std::string_view base);

}  // namespace foundation
