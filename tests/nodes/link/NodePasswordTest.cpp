// Node passwords in a keychain store on a temporary file: add, replace,
// delete, non-ASCII text, and a store that cannot be used.

#include <gtest/gtest.h>

#include <fstream>

#include "nodes/link/NodePasswordKeychain.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

class NodePassword : public ::testing::Test {
 protected:
  testing_support::TemporaryDirectory folder_;
  platform::Keychain keychain_{folder_ / "keychain" / "passwords.plist"};
  const std::string service_ = nodePasswordServiceName("1B4E28BA-2FA1-41D2-883F-0016D3CCA427");
};

TEST_F(NodePassword, ServiceNameCarriesTheNodeUniqueID) {
  EXPECT_EQ(service_, "com.dirarovazovo.RuzizevuZazo.1B4E28BA-2FA1-41D2-883F-0016D3CCA427");
}

TEST_F(NodePassword, StoringAddsThenReplaces) {
  EXPECT_EQ(FindKeychainPasswordForService(service_, keychain_).status, kKeychainStatusItemNotFound);
  EXPECT_FALSE(KeychainPasswordForService(service_, keychain_).has_value());

  EXPECT_EQ(StoreKeychainPasswordForService("first", service_, keychain_), kKeychainStatusSuccess);
  EXPECT_EQ(KeychainPasswordForService(service_, keychain_), "first");
  EXPECT_EQ(StoreKeychainPasswordForService("second", service_, keychain_), kKeychainStatusSuccess);
  EXPECT_EQ(KeychainPasswordForService(service_, keychain_), "second");

  KeychainLookup lookup = FindKeychainPasswordForService(service_, keychain_);
  ASSERT_EQ(lookup.status, kKeychainStatusSuccess);
  EXPECT_EQ(lookup.item->service, service_);
  EXPECT_EQ(lookup.item->account, "account");
  EXPECT_EQ(AddKeychainPasswordForService(service_, "third", keychain_), kKeychainStatusDuplicateItem);
  EXPECT_EQ(KeychainPasswordForService(service_, keychain_), "second");
}

TEST_F(NodePassword, NonAsciiPasswordsAndNodeIDsSurvive) {
  const std::string password = "pässwörd – 日本語 🎬";
  const std::string service = nodePasswordServiceName("régie-2");
  ASSERT_EQ(StoreKeychainPasswordForService(password, service, keychain_), kKeychainStatusSuccess);
  EXPECT_EQ(KeychainPasswordForService(service, keychain_), password);
  // A fresh instance on the same file reads the same bytes.
  platform::Keychain reopened(keychain_.storePath());
  EXPECT_EQ(KeychainPasswordForService(service, reopened), password);
}

TEST_F(NodePassword, DeletingRemovesOnlyThatService) {
  const std::string otherService = nodePasswordServiceName("OTHER");
  ASSERT_EQ(StoreKeychainPasswordForService("a", service_, keychain_), kKeychainStatusSuccess);
  ASSERT_EQ(StoreKeychainPasswordForService("b", otherService, keychain_), kKeychainStatusSuccess);
  EXPECT_EQ(DeleteKeychainPasswordForService(service_, keychain_), kKeychainStatusSuccess);
  EXPECT_FALSE(KeychainPasswordForService(service_, keychain_).has_value());
  EXPECT_EQ(KeychainPasswordForService(otherService, keychain_), "b");
  EXPECT_EQ(DeleteKeychainPasswordForService(service_, keychain_), kKeychainStatusSuccess);
}

TEST_F(NodePassword, UnreadableStoreAnswersAnErrorStatusAndIsKept) {
  // A damaged store is kept aside and replaced (see the keychain's tests);
  // one that cannot be read at all stays, and every call says so.
  std::filesystem::create_directories(keychain_.storePath() / "in the way");
  testing_support::CapturedDiagnostics diagnostics;

  EXPECT_EQ(FindKeychainPasswordForService(service_, keychain_).status, kKeychainStatusIOError);
  EXPECT_FALSE(KeychainPasswordForService(service_, keychain_).has_value());
  EXPECT_EQ(StoreKeychainPasswordForService("x", service_, keychain_), kKeychainStatusIOError);
  EXPECT_GE(diagnostics.count("Node password"), 1u);

  EXPECT_TRUE(std::filesystem::is_directory(keychain_.storePath() / "in the way"));
}

}  // namespace
}  // namespace nodes
