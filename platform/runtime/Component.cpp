#include "platform/runtime/Component.h"

#include <algorithm>

namespace platform {

TComponent::TComponent(TComponent* AOwner) : owner_(nullptr) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Owned components go first, the last created first, so that a component never outlives one it
  // was created after (and may refer to). Each one leaves this owner itself through Destroying().
  while (!components_.empty()) {
    TComponent* last = components_.back();
    delete last;
    // A component whose destructor did not reach Destroying() (it threw, which destructors must
    // not) would stay listed: never delete it twice.
    if (!components_.empty() && components_.back() == last) components_.pop_back();
  }
  Destroying();
}

void TComponent::Destroying() {
  if (destroying_) return;
  destroying_ = true;
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  components_.push_back(AComponent);
  AComponent->owner_ = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto it = std::find(components_.begin(), components_.end(), AComponent);
  if (it == components_.end()) return;
  components_.erase(it);
  AComponent->owner_ = nullptr;
  Notification(AComponent, opRemove);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  // A handler may destroy components of its own; walk by index from the end and re-check the
  // bound after each call, so that such changes never leave the loop on a dangling element.
  for (std::size_t i = components_.size(); i > 0;) {
    --i;
    if (i >= components_.size()) {
      if (components_.empty()) break;
      i = components_.size() - 1;
    }
    components_[i]->Notification(AComponent, Operation);
  }
}

}  // namespace platform
