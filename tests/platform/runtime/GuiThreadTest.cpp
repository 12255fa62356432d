#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/runtime/GuiThread.h"

namespace {

TEST(GuiThread, TheThreadThatLoadedTheProgramIsTheGuiThread) {
  EXPECT_TRUE(platform::IsGuiThread());
}

TEST(GuiThread, SynchronizeOnTheGuiThreadRunsAtOnceAndRethrows) {
  int ran = 0;
  platform::Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_THROW(platform::Synchronize([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST(GuiThread, PostedCallsRunInOrderAtTheNextMessageProcessing) {
  std::vector<int> order;
  platform::PostToGui([&] { order.push_back(1); });
  platform::PostToGui([&] { throw std::runtime_error("lost"); });
  platform::PostToGui([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  platform::ProcessMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(GuiThread, ACallPostedByACallWaitsForTheNextRound) {
  int inner = 0;
  platform::PostToGui([&] { platform::PostToGui([&] { ++inner; }); });
  platform::CheckSynchronize();
  EXPECT_EQ(inner, 0);
  platform::CheckSynchronize();
  EXPECT_EQ(inner, 1);
}

TEST(GuiThread, ToolkitHooksAreWokenAndPumped) {
  int woken = 0, pumped = 0;
  platform::SetToolkitHooks([&] { ++woken; }, [&] { ++pumped; });
  platform::PostToGui([] {});
  EXPECT_EQ(woken, 1);
  platform::ProcessMessages();
  EXPECT_EQ(pumped, 1);
  platform::CheckSynchronize();  // runs calls only, never the toolkit's events
  EXPECT_EQ(pumped, 1);
  platform::SetToolkitHooks(nullptr, nullptr);
}

}  // namespace
