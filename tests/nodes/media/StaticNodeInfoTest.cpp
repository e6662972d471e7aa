// Hand-entered node addresses: their dictionary form as saved in the
// defaults, and loading from saved dictionaries good and bad.

#include <gtest/gtest.h>

#include "nodes/media/NodeModelErrors.h"
#include "nodes/media/StaticNodeInfo.h"

namespace nodes {
namespace {

using platform::Dictionary;
using platform::Value;

TEST(StaticNodeInfo, NewInfoIsEmptyAndRoundTrips) {
  StaticNodeInfo info;
  EXPECT_EQ(info.dict(), (Dictionary{{"ipAdress", ""}, {"portNumber", ""}}));

  info.setIpAdress("192.0.2.10");
  info.setPortNumber("7500");
  StaticNodeInfo restored;
  ASSERT_TRUE(restored.loadFromDict(info.dict()).ok());
  EXPECT_EQ(restored, info);
}

TEST(StaticNodeInfo, LoadSetsPresentStringsAndKeepsTheRest) {
  struct Case {
    Dictionary dict;
    const char* ipAdress;
    const char* portNumber;
    bool ok;
  };
  const Case cases[] = {
      {{}, "10.0.0.1", "7500", true},
      {{{"ipAdress", "10.0.0.2"}}, "10.0.0.2", "7500", true},
      {{{"portNumber", "8000"}, {"discoveredByNetServices", false}}, "10.0.0.1", "8000", true},
      {{{"portNumber", 8000}}, "10.0.0.1", "7500", false},
      {{{"ipAdress", Dictionary{}}, {"portNumber", "9000"}}, "10.0.0.1", "9000", false},
      {{{"ipAdress", Value()}}, "10.0.0.1", "7500", true},  // none counts as absent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Value(c.dict).describe());
    StaticNodeInfo info;
    info.setIpAdress("10.0.0.1");
    info.setPortNumber("7500");
    platform::Status status = info.loadFromDict(c.dict);
    EXPECT_EQ(status.ok(), c.ok);
    if (!status.ok()) {
      EXPECT_TRUE(status.error().is(kNodeModelErrorDomain, NodeModelErrorCode::WrongType));
    }
    EXPECT_EQ(info.ipAdress(), c.ipAdress);
    EXPECT_EQ(info.portNumber(), c.portNumber);
  }
}

}  // namespace
}  // namespace nodes
