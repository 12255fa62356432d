#pragma once
// TComponent: the base of every component (sources, sinks, converters, the mixer).
//
// A component has an optional owner and a name. An owner owns the components created with it: it
// destroys them, last created first, when it is destroyed itself. A component that goes away tells
// the components of its owner, through Notification(itself, opRemove), so that they can drop any
// reference they hold to it; that is how a sink or converter forgets an Input that is destroyed.
// Components with no owner are told nothing.
//
// Destruction and notification: the notification is sent by Destroying(). TComponent's destructor
// calls it, but by then the derived parts of the component are already gone, and a component that
// other components may be using on another thread (an audio source read by a sink's worker) must
// not be half destroyed while they still use it. Such classes call Destroying() first thing in
// their destructor; a second call does nothing.
//
// Components are created, wired and destroyed on the GUI thread.

#include <string>
#include <vector>

namespace platform {

enum TOperation { opInsert, opRemove };

class TComponent {
 public:
  // With an owner the component is owned by it (destroyed with it); a null owner leaves it to the
  // creator.
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }

 protected:
  // Called on every component of the owner when a component is inserted into or removed from it.
  // The base passes the notification on to the components this one owns; overrides handle what
  // concerns them and then call the base.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Leaves the owner and tells the owner's remaining components (see above).
  void Destroying();

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* owner_;                    // borrowed: the owner outlives its components
  std::vector<TComponent*> components_;  // owned: destroyed by this component's destructor
  std::string name_;
  bool destroying_ = false;
};

}  // namespace platform
