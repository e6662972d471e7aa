#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

void writePlain(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::vector<std::string> folderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

mode_t permissionsOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

mode_t currentUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

class FilesTest : public ::testing::Test {
 protected:
  testing_support::TemporaryDirectory folder_;
};

TEST_F(FilesTest, AtomicWriteReplacesContentsAndLeavesOnlyTheTarget) {
  const fs::path target = folder_ / "settings.plist";
  ASSERT_TRUE(writeFileAtomically(target, "first version, somewhat longer").ok());
  ASSERT_TRUE(writeFileAtomically(target, "second").ok());
  // Binary contents round-trip untouched.
  const std::string binary("a\0b\xff\n", 5);
  ASSERT_TRUE(writeFileAtomically(folder_ / "blob", binary).ok());

  EXPECT_EQ(readFile(target).value(), "second");
  EXPECT_EQ(readFile(folder_ / "blob").value(), binary);
  EXPECT_EQ(folderEntries(folder_.path()).size(), 2u);
}

// Limits the size of files this process may write while alive, so a write
// fails part-way even for root (who ignores folder permissions).
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST_F(FilesTest, FailedWriteKeepsOldContentsAndRemovesTemporaryFile) {
  const std::string oldContents = "operator's settings";
  const std::string bigContents(256 * 1024, 'x');

  struct Case {
    const char* name;
    fs::path target;
    std::function<Status()> write;
    int expectedErrno;
    bool needsNonRoot;
  };
  const fs::path regular = folder_ / "regular";
  const fs::path occupiedByFolder = folder_ / "occupied";
  const fs::path readOnlyFolder = folder_ / "readonly";
  Case cases[] = {
      {"write fails part-way", regular,
       [&] {
         ScopedFileSizeLimit limit(4096);
         return writeFileAtomically(regular, bigContents);
       },
       EFBIG, false},
      {"rename onto a folder fails", occupiedByFolder, [&] { return writeFileAtomically(occupiedByFolder, "new"); },
       EISDIR, false},
      {"folder is read-only", readOnlyFolder / "file",
       [&] { return writeFileAtomically(readOnlyFolder / "file", "new"); }, EACCES, true},
  };
  writePlain(regular, oldContents);
  fs::create_directory(occupiedByFolder);
  writePlain(occupiedByFolder / "inside", oldContents);
  fs::create_directory(readOnlyFolder);
  writePlain(readOnlyFolder / "file", oldContents);
  fs::permissions(readOnlyFolder, fs::perms::owner_read | fs::perms::owner_exec);

  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && ::geteuid() == 0) continue;  // root writes into read-only folders
    const auto before = folderEntries(c.target.parent_path());
    Status status = c.write();
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().is(kFileErrorDomain, FileErrorCode::WriteFailed));
    EXPECT_EQ(status.error().userInfo.at("errno"), Value(c.expectedErrno));
    EXPECT_NE(status.error().localizedDescription.find(c.target.string()), std::string::npos)
        << status.error().localizedDescription;
    EXPECT_EQ(folderEntries(c.target.parent_path()), before) << "a temporary file was left behind";
  }
  fs::permissions(readOnlyFolder, fs::perms::owner_all);
  EXPECT_EQ(readFile(regular).value(), oldContents);
  EXPECT_EQ(readFile(occupiedByFolder / "inside").value(), oldContents);
  EXPECT_EQ(readFile(readOnlyFolder / "file").value(), oldContents);
}

TEST_F(FilesTest, OwnerOnlyWriteIsPrivateEvenOverAWiderFile) {
  const fs::path secret = folder_ / "secret";
  writePlain(secret, "old");
  ::chmod(secret.c_str(), 0644);

  ASSERT_TRUE(writeFileAtomically(secret, "new", true).ok());
  EXPECT_EQ(permissionsOf(secret), 0600u);

  ASSERT_TRUE(writeFileAtomically(secret, "public again").ok());
  EXPECT_EQ(permissionsOf(secret), 0666u & ~currentUmask());
}

TEST_F(FilesTest, ReadFileTellsMissingFromUnreadable) {
  writePlain(folder_ / "ten", "0123456789");
  struct Case {
    fs::path path;
    std::optional<std::size_t> limit;
    std::optional<FileErrorCode> error;  // nullopt: reads fine
  } cases[] = {
      {folder_ / "absent", std::nullopt, FileErrorCode::NotFound},
      {folder_ / "ten" / "below-a-file", std::nullopt, FileErrorCode::NotFound},
      {folder_.path(), std::nullopt, FileErrorCode::ReadFailed},
      {folder_ / "ten", 9, FileErrorCode::ReadFailed},
      {folder_ / "ten", 10, std::nullopt},
      // Reports a size of 0: the reader must not trust it.
      {"/proc/self/status", 1 << 20, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string() + " limit " + (c.limit ? std::to_string(*c.limit) : "none"));
    Result<std::string> result = readFile(c.path, c.limit);
    if (!c.error) {
      ASSERT_TRUE(result.ok()) << result.error().describe();
      EXPECT_FALSE(result->empty());
      continue;
    }
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is(kFileErrorDomain, *c.error)) << result.error().describe();
    EXPECT_NE(result.error().localizedDescription.find(c.path.string()), std::string::npos);
  }
}

TEST_F(FilesTest, CreationDateIsBirthTimeOrFallsBackToModificationTime) {
  using namespace std::chrono;
  EXPECT_FALSE(fileCreationDate(folder_ / "absent").has_value());

  const auto before = system_clock::now() - seconds(2);
  const fs::path file = folder_ / "file";
  writePlain(file, "x");
  const auto after = system_clock::now() + seconds(2);
  const auto oldModification = system_clock::time_point(seconds(1'000'000'000));  // 2001
  fs::last_write_time(file, fs::file_time_type::clock::from_sys(oldModification));

  // Where birth times are kept the rewrite of the modification time must not
  // show; where they are not, the modification time is the answer.
  auto created = fileCreationDate(file);
  ASSERT_TRUE(created.has_value());
  bool isBirth = *created >= before && *created <= after;
  EXPECT_TRUE(isBirth || *created == oldModification);

  // /proc keeps no birth times: the fallback path.
  const fs::path procFile = "/proc/self/status";
  auto procCreated = fileCreationDate(procFile);
  ASSERT_TRUE(procCreated.has_value());
  EXPECT_EQ(*procCreated, fs::file_time_type::clock::to_sys(fs::last_write_time(procFile)));
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class XdgFoldersTest : public FilesTest {
 protected:
  void SetUp() override {
    home_ = folder_ / "home";
    environment_.set("HOME", home_.string());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR"}) {
      environment_.set(name, std::nullopt);
    }
  }

  ScopedEnvironment environment_;
  fs::path home_;
};

TEST_F(XdgFoldersTest, VariablesWinAndInvalidOnesFallBackUnderHome) {
  struct Case {
    const char* variable;
    fs::path (*getter)();
    const char* defaultUnderHome;
  } folders[] = {
      {"XDG_CONFIG_HOME", userConfigurationFolder, ".config"},
      {"XDG_DATA_HOME", userApplicationSupportFolder, ".local/share"},
      {"XDG_CACHE_HOME", userCachesFolder, ".cache"},
      {"XDG_DOCUMENTS_DIR", userDocumentsFolder, "Documents"},
  };
  for (const Case& c : folders) {
    SCOPED_TRACE(c.variable);
    environment_.set(c.variable, "/srv/elsewhere");
    EXPECT_EQ(c.getter(), fs::path("/srv/elsewhere"));
    environment_.set(c.variable, "relative/path");  // invalid by the XDG rules
    EXPECT_EQ(c.getter(), home_ / c.defaultUnderHome);
    environment_.set(c.variable, "");
    EXPECT_EQ(c.getter(), home_ / c.defaultUnderHome);
    environment_.set(c.variable, std::nullopt);
  }
  EXPECT_FALSE(fs::exists(home_)) << "a getter created a folder";
}

TEST_F(XdgFoldersTest, DocumentsFolderReadsUserDirsFile) {
  const fs::path configuration = folder_ / "config";
  environment_.set("XDG_CONFIG_HOME", configuration.string());
  fs::create_directories(configuration);

  struct Case {
    const char* contents;
    fs::path expected;
  } cases[] = {
      {"# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n",
       home_ / "Papers"},
      {"XDG_DOCUMENTS_DIR=\"/data/shared docs\"\n", "/data/shared docs"},
      {"  XDG_DOCUMENTS_DIR = \"${HOME}/My \\\"Docs\\\"\"", home_ / "My \"Docs\""},
      {"XDG_DOCUMENTS_DIR=\"$HOME/First\"\nXDG_DOCUMENTS_DIR=\"$HOME/Second\"\n", home_ / "Second"},
      {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", home_},
      // Not usable: fall back to ~/Documents.
      {"#XDG_DOCUMENTS_DIR=\"$HOME/Commented\"\n", home_ / "Documents"},
      {"XDG_DOCUMENTS_DIR=\"relative/docs\"\n", home_ / "Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n", home_ / "Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/unterminated\n", home_ / "Documents"},
      {"XDG_DOCUMENTS_DIRECTORY=\"/not/this\"\n", home_ / "Documents"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contents);
    writePlain(configuration / "user-dirs.dirs", c.contents);
    EXPECT_EQ(userDocumentsFolder(), c.expected);
  }

  environment_.set("XDG_DOCUMENTS_DIR", "/from/environment");
  EXPECT_EQ(userDocumentsFolder(), fs::path("/from/environment"));
}

}  // namespace
}  // namespace platform
