#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/runtime/Component.h"

using platform::opInsert;
using platform::opRemove;
using platform::TComponent;
using platform::TOperation;

namespace {

// Records the notifications it receives and, like a sink, forgets a watched component that is
// removed; reports its own destruction into a shared log.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Probe() override {
    Destroying();
    if (log_)
      log_->push_back("destroyed " + Name() +
                      (logWatched ? (watched ? " watching something" : " watching nothing") : ""));
  }

  TComponent* watched = nullptr;
  bool logWatched = false;
  std::vector<std::string> seen;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    seen.push_back(std::string(op == opRemove ? "remove " : "insert ") + c->Name());
    if (op == opRemove && c == watched) watched = nullptr;
    TComponent::Notification(c, op);
  }

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerListsAndDestroysItsComponentsLastCreatedFirst) {
  std::vector<std::string> log;
  {
    TComponent owner(nullptr);
    auto* a = new Probe(&owner, "a", &log);
    auto* b = new Probe(&owner, "b", &log);
    ASSERT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.Components(0), a);
    EXPECT_EQ(owner.Components(1), b);
    EXPECT_EQ(a->Owner(), &owner);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"destroyed b", "destroyed a"}));
}

TEST(Component, RemovalIsNotifiedToTheOtherComponentsOfTheOwner) {
  TComponent owner(nullptr);
  auto* sink = new Probe(&owner, "sink", nullptr);
  auto* source = new Probe(&owner, "source", nullptr);
  auto* other = new Probe(&owner, "other", nullptr);
  sink->watched = source;
  delete source;
  EXPECT_EQ(sink->watched, nullptr);
  EXPECT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(sink->seen.back(), "remove source");
  EXPECT_EQ(other->seen.back(), "remove source");
}

TEST(Component, InsertionIsNotifiedAndAComponentIsNotToldAboutItself) {
  TComponent owner(nullptr);
  auto* first = new Probe(&owner, "first", nullptr);
  auto* second = new Probe(&owner, "second", nullptr);
  // The insertion is announced while the new component is being constructed (before its name is
  // set), to the components that were there before it.
  EXPECT_EQ(first->seen, (std::vector<std::string>{"insert "}));
  EXPECT_TRUE(second->seen.empty());
  delete first;
  EXPECT_EQ(second->seen, (std::vector<std::string>{"remove first"}));
}

TEST(Component, DestroyingTheOwnerStillNotifiesTheComponentsNotYetDestroyed) {
  // The sink is created first, so it is destroyed last and must have dropped its source by then.
  std::vector<std::string> log;
  auto* owner = new TComponent(nullptr);
  auto* sink = new Probe(owner, "sink", &log);
  auto* source = new Probe(owner, "source", &log);
  sink->watched = source;
  sink->logWatched = true;
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"destroyed source", "destroyed sink watching nothing"}));
}

TEST(Component, NestedOwnersDestroyTheWholeTree) {
  std::vector<std::string> log;
  {
    TComponent root(nullptr);
    auto* window = new Probe(&root, "window", &log);
    new Probe(window, "inner", &log);
    EXPECT_EQ(window->ComponentCount(), 1);
  }
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{"destroyed inner", "destroyed window"}));
}

TEST(Component, ComponentWithoutOwnerIsLeftToItsCreator) {
  std::vector<std::string> log;
  { Probe alone(nullptr, "alone", &log); }
  EXPECT_EQ(log, (std::vector<std::string>{"destroyed alone"}));
}

}  // namespace
