#include <gtest/gtest.h>

#include <any>
#include <string>
#include <utility>
#include <vector>

#include "foundation/ArrayCategory.h"
#include "foundation/KeyPathObserving.h"
#include "foundation/NSIndexSetEnumerator.h"
#include "foundation/PreviewBufferValue.h"

namespace foundation {
namespace {

using platform::Value;

TEST(CollectionCategoriesTest, ArrayHelpers) {
  const platform::Array values{Value(1), Value("a"), Value(1), Value(2)};
  EXPECT_EQ(reversedArray(values), (platform::Array{Value(2), Value(1), Value("a"), Value(1)}));
  EXPECT_EQ(arrayByRemovingObject(values, Value(1)), (platform::Array{Value("a"), Value(2)}));
  EXPECT_EQ(firstObject(values), Value(1));
  EXPECT_EQ(firstObject(platform::Array{}), std::nullopt);
  EXPECT_EQ(myMutableArrayWithObject(Value("x"), 3), (platform::Array{Value("x"), Value("x"), Value("x")}));
  EXPECT_TRUE(myMutableArrayWithObject(Value("x"), 0).empty());
  EXPECT_TRUE(myMutableArrayWithObject(Value("x"), -3).empty());
}

std::vector<std::uint32_t> drain(NSIndexSetEnumerator& enumerator) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t index = 0; enumerator.nextIndex(index);) out.push_back(index);
  return out;
}

TEST(CollectionCategoriesTest, IndexSetEnumeratorWalksTheIndexesInRange) {
  struct Case {
    NSIndexSetEnumerator::IndexSet set;
    std::uint64_t location, length;
    std::vector<std::uint32_t> expected;
  } cases[] = {
      {{2, 5, 9}, 3, 5, {5}},
      {{2, 5, 9}, 0, 100, {2, 5, 9}},
      {{2, 5, 9}, 9, 1, {9}},
      {{2, 5, 9}, 6, 0, {}},
      {{}, 0, 10, {}},
      {{0x1'0000'0007, UINT64_MAX}, 0x1'0000'0000, UINT64_MAX, {7, 0xFFFFFFFF}},  // low 32 bits; no wrap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.location) + "+" + std::to_string(c.length));
    auto enumerator = NSIndexSetEnumerator::indexSetEnumeratorWithIndexSet(c.set, c.location, c.length);
    EXPECT_EQ(enumerator.count(), c.expected.size());
    EXPECT_EQ(drain(enumerator), c.expected);
  }
}

TEST(CollectionCategoriesTest, IndexSetEnumeratorPositionsAndReset) {
  auto empty = NSIndexSetEnumerator::indexSetEnumeratorWithIndexSet({});
  std::uint32_t index = 42;
  EXPECT_EQ(empty.count(), 0u);
  EXPECT_FALSE(empty.nextIndex(index));
  EXPECT_EQ(index, 42u);
  EXPECT_EQ(empty.indexAtIndex(0), NSIndexSetEnumerator::kNoIndex);

  auto enumerator = NSIndexSetEnumerator::indexSetEnumeratorWithIndexSet({4, 8});
  EXPECT_EQ(drain(enumerator), (std::vector<std::uint32_t>{4, 8}));
  EXPECT_FALSE(enumerator.nextIndex(index));  // stays exhausted
  EXPECT_EQ(enumerator.indexAtIndex(1), 8u);
  EXPECT_EQ(enumerator.indexAtIndex(2), NSIndexSetEnumerator::kNoIndex);
  enumerator.reset();
  EXPECT_EQ(drain(enumerator), (std::vector<std::uint32_t>{4, 8}));
}

// The boxed pair comes back whole, and only from its own box.
TEST(CollectionCategoriesTest, PreviewBufferValueUnboxesOnlyItsOwnBox) {
  const foundation::PreviewBuffer largest{0xFFFFFFFFu, 0x80000001u};
  EXPECT_EQ(foundation::previewBuffer(foundation::valueWithPreviewBuffer(largest)), largest);
  EXPECT_EQ(foundation::previewBuffer(std::any(std::pair<unsigned, unsigned>(1, 2))), std::nullopt);
  EXPECT_EQ(foundation::previewBuffer(std::any()), std::nullopt);
}

TEST(CollectionCategoriesTest, KeyPathObservingAddsAndRemovesPerKeyPathInOrder) {
  platform::ObservableObject object;
  std::vector<std::string> seen;
  KeyPathObserving observing;
  observing.addObserver(object, {"name", "rate", "name"},
                        [&](std::string_view keyPath, const Value&, const Value& now) {
                          seen.push_back(std::string(keyPath) + "=" + now.stringOr("?"));
                        });
  EXPECT_EQ(observing.registrationCount(), 3u);
  object.didChangeValueForKey("name", Value("a"), Value("b"));
  object.didChangeValueForKey("rate", Value("25"), Value("50"));
  EXPECT_EQ(seen, (std::vector<std::string>{"name=b", "name=b", "rate=50"}));

  observing.removeObserver({"name"});
  EXPECT_EQ(observing.registrationCount(), 1u);
  seen.clear();
  object.didChangeValueForKey("name", Value("b"), Value("c"));
  object.didChangeValueForKey("rate", Value("50"), Value("30"));
  EXPECT_EQ(seen, (std::vector<std::string>{"rate=30"}));

  observing.removeAll();
  EXPECT_FALSE(object.hasObserversForKey("rate"));
}

}  // namespace
}  // namespace foundation
