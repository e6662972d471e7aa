#include "platform/Keychain.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

using namespace std::string_literals;

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

class KeychainTest : public ::testing::Test {
 protected:
  void TearDown() override { setDiagnosticHandler(nullptr); }

  std::optional<std::string> lookUp(const Keychain& keychain, std::string_view service, std::string_view account) {
    auto found = keychain.password(service, account);
    EXPECT_TRUE(found) << found.error().describe();
    return found ? *found : std::nullopt;
  }

  testing_support::TemporaryDirectory folder_;
  // A folder that does not exist yet: the keychain creates it.
  const std::filesystem::path storePath_ = folder_ / "keychain" / "generic-passwords.plist";
  Keychain keychain_{storePath_};
};

TEST_F(KeychainTest, PasswordsRoundTripExactly) {
  const std::string passwords[] = {
      "plain",
      "p\u00e4ssw\u00f6rd \u5bc6\u7801 \U0001F511",   // non-ASCII UTF-8
      "nul\0and\x01" "control\x7f"s,                // bytes an XML string cannot carry
      "",
  };
  for (const std::string& password : passwords) {
    SCOPED_TRACE(password);
    ASSERT_TRUE(keychain_.setPassword("Z\u00fcrich Studio", "op\u00e9rateur", password));
    EXPECT_EQ(lookUp(keychain_, "Z\u00fcrich Studio", "op\u00e9rateur"), password);
  }
  ASSERT_TRUE(keychain_.setPassword("Z\u00fcrich Studio", "other", "second"));
  EXPECT_EQ(lookUp(keychain_, "Z\u00fcrich Studio", "op\u00e9rateur"), "");
  EXPECT_EQ(lookUp(keychain_, "Z\u00fcrich Studio", "other"), "second");
}

TEST_F(KeychainTest, AbsentItemsAreNotErrors) {
  EXPECT_EQ(lookUp(keychain_, "service", "account"), std::nullopt);
  EXPECT_TRUE(keychain_.removePassword("service", "account"));
  EXPECT_FALSE(std::filesystem::exists(storePath_)) << "reading or removing must not create a store";

  ASSERT_TRUE(keychain_.setPassword("service", "account", "secret"));
  EXPECT_EQ(lookUp(keychain_, "service", "someone else"), std::nullopt);
  EXPECT_EQ(lookUp(keychain_, "other service", "account"), std::nullopt);
  EXPECT_EQ(lookUp(keychain_, "servic", "account"), std::nullopt);

  ASSERT_TRUE(keychain_.setPassword("service", "second", "kept"));
  ASSERT_TRUE(keychain_.removePassword("service", "account"));
  EXPECT_EQ(lookUp(keychain_, "service", "account"), std::nullopt);
  EXPECT_EQ(lookUp(keychain_, "service", "second"), "kept");
}

TEST_F(KeychainTest, LabelsBelongToTheirItem) {
  EXPECT_FALSE(keychain_.setLabel("switcher.local", "admin", "TriCaster login").ok()) << "no such item";
  ASSERT_TRUE(keychain_.setPassword("switcher.local", "admin", "first"));
  ASSERT_TRUE(keychain_.setLabel("switcher.local", "admin", "TriCaster login"));
  // A new password keeps the label; another account has none.
  ASSERT_TRUE(keychain_.setPassword("switcher.local", "admin", "second"));
  EXPECT_EQ(keychain_.label("switcher.local", "admin").value(), std::optional<std::string>("TriCaster login"));
  EXPECT_EQ(keychain_.label("switcher.local", "guest").value(), std::nullopt);
  ASSERT_TRUE(keychain_.removePassword("switcher.local", "admin"));
  EXPECT_EQ(keychain_.label("switcher.local", "admin").value(), std::nullopt);
  ASSERT_TRUE(keychain_.setPassword("switcher.local", "admin", "third"));
  EXPECT_EQ(keychain_.label("switcher.local", "admin").value(), std::nullopt) << "a removed item's label is gone";
}

TEST_F(KeychainTest, StoreAndFolderAreOwnerOnly) {
  ASSERT_TRUE(keychain_.setPassword("service", "account", "secret"));
  EXPECT_EQ(modeOf(storePath_), 0600u);
  EXPECT_EQ(modeOf(storePath_.parent_path()), 0700u);
  ASSERT_TRUE(keychain_.setPassword("service", "account", "changed"));
  EXPECT_EQ(modeOf(storePath_), 0600u);
}

TEST_F(KeychainTest, StoreOpenToOthersIsReportedAndTightened) {
  ASSERT_TRUE(keychain_.setPassword("service", "account", "secret"));
  ASSERT_EQ(::chmod(storePath_.c_str(), 0644), 0);
  std::vector<std::string> warnings;
  setDiagnosticHandler([&](DiagnosticLevel level, const std::string& message) {
    if (level == DiagnosticLevel::Warning) warnings.push_back(message);
  });

  EXPECT_EQ(lookUp(keychain_, "service", "account"), "secret");
  EXPECT_EQ(modeOf(storePath_), 0600u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(storePath_.string()), std::string::npos) << warnings[0];
  EXPECT_EQ(warnings[0].find("secret"), std::string::npos) << "never log credentials";
}

// A damaged store once refused every password save, for good: it is kept
// aside, byte for byte, and the keychain starts afresh.
TEST_F(KeychainTest, DamagedStoreIsKeptAsideOnceAndTheKeychainStartsAfresh) {
  const std::string damagedStores[] = {
      "not a property list",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>GenericPasswords</key><dict>",  // truncated
      "<plist version=\"1.0\"><array/></plist>",                                                   // wrong root
      "<plist version=\"1.0\"><dict><key>GenericPasswords</key><dict><key>s</key><dict>"
      "<key>a</key><string>plain</string></dict></dict></dict></plist>",                           // wrong item type
  };
  std::vector<std::string> errors;
  setDiagnosticHandler([&](DiagnosticLevel level, const std::string& message) {
    if (level == DiagnosticLevel::Error) errors.push_back(message);
  });
  for (const std::string& contents : damagedStores) {
    SCOPED_TRACE(contents);
    testing_support::TemporaryDirectory folder;
    Keychain keychain(folder / "keychain" / "generic-passwords.plist");
    std::filesystem::create_directories(keychain.storePath().parent_path());
    ASSERT_TRUE(writeFileAtomically(keychain.storePath(), contents, true));
    errors.clear();

    ASSERT_TRUE(keychain.setPassword("s", "a", "new"));
    EXPECT_EQ(lookUp(keychain, "s", "a"), "new");
    std::optional<std::filesystem::path> aside = keychain.takeDamagedStoreKeptAside();
    ASSERT_TRUE(aside.has_value());
    EXPECT_TRUE(aside->filename().string().starts_with("generic-passwords.plist.corrupt-")) << *aside;
    EXPECT_EQ(readFile(*aside).value(), contents);
    EXPECT_EQ(keychain.takeDamagedStoreKeptAside(), std::nullopt) << "named once";
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(aside->string()), std::string::npos) << errors[0];
  }
}

TEST_F(KeychainTest, UnreadableStoreIsAnErrorNotAnAbsentItem) {
  std::filesystem::create_directories(storePath_);  // a folder where the file should be
  auto read = keychain_.password("s", "a");
  ASSERT_FALSE(read);
  EXPECT_TRUE(read.error().is(kKeychainErrorDomain, KeychainErrorCode::StoreUnreadable)) << read.error().describe();
  EXPECT_FALSE(keychain_.setPassword("s", "a", "x"));
}

TEST_F(KeychainTest, InstancesOnOneFileSeeEachOthersWrites) {
  Keychain other(storePath_);
  ASSERT_TRUE(keychain_.setPassword("service", "first", "one"));
  EXPECT_EQ(lookUp(other, "service", "first"), "one");
  ASSERT_TRUE(other.setPassword("service", "second", "two"));
  EXPECT_EQ(lookUp(keychain_, "service", "second"), "two");
  ASSERT_TRUE(other.removePassword("service", "first"));
  EXPECT_EQ(lookUp(keychain_, "service", "first"), std::nullopt);
}

TEST_F(KeychainTest, ConcurrentWritersLoseNoUpdates) {
  Keychain other(storePath_);
  constexpr int kThreads = 4;
  constexpr int kItemsPerThread = 10;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Keychain& keychain = t % 2 ? other : keychain_;
      for (int i = 0; i < kItemsPerThread; ++i) {
        const std::string account = std::to_string(t) + "-" + std::to_string(i);
        if (!keychain.setPassword("service", account, "pw" + account)) ++failures[t];
        auto read = keychain.password("service", account);
        if (!read || *read != "pw" + account) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kItemsPerThread; ++i) {
      const std::string account = std::to_string(t) + "-" + std::to_string(i);
      EXPECT_EQ(lookUp(keychain_, "service", account), "pw" + account) << account;
    }
  }
}

TEST(KeychainStandardTest, LivesUnderApplicationSupport) {
  EXPECT_EQ(Keychain::standardPath(), userApplicationSupportFolder() / "keychain" / "generic-passwords.plist");
  EXPECT_EQ(Keychain::standard().storePath(), Keychain::standardPath());
}

}  // namespace
}  // namespace platform
