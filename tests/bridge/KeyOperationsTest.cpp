// Key operations whose outcome depends on what the client library answers between two calls.
#include <gtest/gtest.h>

#include "bridge/softphone/SoftphoneLink.h"
#include "platform/RealClock.h"
#include "tests/bridge/BridgeFakes.h"

namespace bridge::test {
namespace {

class KeyOperationsTest : public ::testing::Test {
 protected:
  KeyOperationsTest() : link_(SoftphoneLinkPorts{client_, clock_}, ring_, SoftphoneLinkHooks{}) {
    link_.State().clientAttached = true;
  }

  FakeClient client_;
  platform::RealClock clock_;
  RingState ring_;
  CSoftphoneLink link_;
};

TEST_F(KeyOperationsTest, HoldFollowsTheCallsOfTheSecondQuery) {
  // Call 8 is held when the key is pressed; by the second query call 9 is in progress too.
  client_.callNumberEx = {{0, 0, 1, {}, {}, {8}}, {1, 0, 1, {9}, {}, {8}}};
  link_.OnKeyHold();
  EXPECT_EQ(client_.holds, 1);
  EXPECT_EQ(client_.commands, (std::vector<std::string>{"FOCUS"}));
}

TEST_F(KeyOperationsTest, HoldResumesOnlyTheHeldIdsItCouldRead) {
  // One held call at first, two by the second query: the array holds one id, and that one is
  // resumed; the ids are never read beyond the array.
  client_.callNumberEx = {{0, 0, 1, {}, {}, {8}}, {0, 0, 2, {}, {}, {8, 11}}};
  link_.OnKeyHold();
  EXPECT_EQ(client_.holds, 0);
  EXPECT_EQ(client_.commands, (std::vector<std::string>{"FOCUS", "SET CALL 8 STATUS INPROGRESS"}));
}

TEST_F(KeyOperationsTest, HoldWithNothingHeldAtFirstResumesNothing) {
  client_.callNumberEx = {{0, 0, 0, {}, {}, {}}, {0, 0, 1, {}, {}, {8}}};
  link_.OnKeyHold();
  EXPECT_EQ(client_.holds, 0);
  EXPECT_EQ(client_.commands, (std::vector<std::string>{"FOCUS"}));
}

}  // namespace
}  // namespace bridge::test
