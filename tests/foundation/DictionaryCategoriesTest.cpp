#include <gtest/gtest.h>

#include <chrono>

#include "foundation/DictionaryCategories.h"
#include "foundation/ManagedObjectNNV.h"
#include "platform/Clock.h"

namespace foundation {
namespace {

using platform::Dictionary;
using platform::Value;

TEST(DictionaryCategoriesTest, NoNilSettersNeverStoreNone) {
  Dictionary dictionary{{"kept", Value(1)}};
  setNoNillObject(dictionary, "kept", Value());
  setNoNillObject(dictionary, "absent", Value());
  setNoNillObject(dictionary, "set", Value("x"));
  setNoNillValue(dictionary, "empty", Value());
  setNoNillValue(dictionary, "kept", Value(2));
  EXPECT_EQ(dictionary, (Dictionary{{"kept", Value(2)}, {"set", Value("x")}, {"empty", Value("")}}));
}

TEST(DictionaryCategoriesTest, NoNilGettersAnswerEmptyStringForNone) {
  const Dictionary dictionary{{"a", Value(1)}, {"none", Value()}};
  EXPECT_EQ(noNillObjectForKey(dictionary, "a"), Value(1));
  EXPECT_EQ(noNillObjectForKey(dictionary, "missing"), Value(""));
  EXPECT_EQ(noNillObjectForKey(dictionary, "none"), Value(""));
  EXPECT_EQ(noNillValueForKey(dictionary, "missing"), Value(""));
  EXPECT_EQ(noNillObjectForKey(Value(dictionary), "a"), Value(1));
  EXPECT_EQ(noNillValueForKey(Value("not a dictionary"), "a"), Value(""));
}

TEST(DictionaryCategoriesTest, MergeKeepsMasterOnSharedKeys) {
  const Dictionary master{{"a", Value(1)}};
  const Dictionary other{{"a", Value(2)}, {"b", Value(3)}};
  EXPECT_EQ(mergedDictWithMasterDict(master, other), (Dictionary{{"a", Value(1)}, {"b", Value(3)}}));
  EXPECT_EQ(mergedDictWithMasterDict(std::nullopt, other), other);
  EXPECT_EQ(mergedDictWithMasterDict(master, std::nullopt), master);
  EXPECT_EQ(mergedDictWithMasterDict(std::nullopt, std::nullopt), std::nullopt);
}

TEST(DictionaryCategoriesTest, CatalogueWritesReplaceNoneByTheKeysDefault) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  const auto now = std::chrono::floor<std::chrono::microseconds>(clock.wallNow());

  struct Case {
    const char* key;
    Value stored;  // none: the attribute is removed
  } cases[] = {
      {"clipInfoOnline", Value(false)},
      {"clipInfoHasInPoint", Value(false)},
      {"clipInfoHasOutPoint", Value(false)},
      {"clipInfoDropFrame", Value(false)},
      {"clipInfoLastModificationDate", Value(now)},
      {"eventInfoColor", Value()},
      {"clipInfoName", Value("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Dictionary attributes{{c.key, Value(7)}};
    setNoNillCatalogueValue(attributes, c.key, Value());
    if (c.stored.isNone()) {
      EXPECT_FALSE(attributes.contains(c.key));
    } else {
      EXPECT_EQ(attributes[c.key], c.stored);
    }
    setNoNillCatalogueValue(attributes, c.key, Value(true));
    EXPECT_EQ(attributes[c.key], Value(true));
  }
}

}  // namespace
}  // namespace foundation
