// Component: an object with an owner that destroys it, a name, the list of
// components it owns, the loading and designing flags, Loaded after
// streaming and Notification when components come and go.
//
// Close before delete. A component is destroyed with Free (owners free
// their components the same way): BeforeDestruction runs first, while the
// object is still whole, so that a component whose going away means
// closing something (a port closes its connection and tells its listeners)
// does it there, with every override of every subclass still reachable.
// Destructors only release. BeforeDestruction ends by telling the
// components that asked for it (FreeNotification) that this one goes, so
// that no reference to it is left while its members die.
//
// Free from inside the component's own events is safe: a component is a
// Lifetime (lifetime.h), and while one of its uses is on the stack the
// memory stays until the last use ends. A plain `delete` skips
// BeforeDestruction (the destructors still release) and cannot be
// deferred: never delete a component from inside its own events.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/lifetime.h"
#include "framework/object.h"
#include "framework/properties.h"

namespace qv {

enum class Operation { opInsert, opRemove };

// A plain notify event: (Sender).
using NotifyEvent = std::function<void(Object* Sender)>;

class Component : public Persistent, public Lifetime {
public:
    explicit Component(Component* owner = nullptr);
    ~Component() override;

    // Runs once, from Free, before the destructors: the place for a
    // component to close what it runs while it is whole. Overrides end by
    // calling the inherited one, which tells the components that asked
    // (FreeNotification) that this one goes.
    virtual void BeforeDestruction();

    Component* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    // Names are unique (case-insensitively) among an owner's components;
    // raises EComponentError otherwise.
    virtual void SetName(std::string_view name);
    int32_t Tag() const { return tag_; }
    void SetTag(int32_t tag) { tag_ = tag; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    Component* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
    int ComponentIndex() const;
    // The owned component with this name (case-insensitive), or none.
    Component* FindComponent(std::string_view name) const;

    // State flags.
    bool Loading() const { return loading_; }
    bool Designing() const { return designing_; }
    // Free has begun (or the destructor runs).
    bool Destroying() const { return destroying_; }
    // The form reader sets Loading on every component it creates and calls
    // Loaded when the whole form has been read.
    void SetLoading(bool value) { loading_ = value; }
    void SetDesigning(bool value);

    // After streaming: clears the loading flag.
    virtual void Loaded();
    // A component was inserted into or removed from the owner of the
    // receiver (or a component the receiver asked FreeNotification of was
    // destroyed). The default passes it to every owned component.
    virtual void Notification(Component* component, Operation operation);

    // Ask to be told (opRemove) when `other` is destroyed, for references to
    // components that another owner holds.
    void FreeNotification(Component* other);
    void RemoveFreeNotification(Component* other);

    void InsertComponent(Component* component);
    void RemoveComponent(Component* component);
    // Frees every owned component, last first.
    void DestroyComponents();

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

    // The class's name without the leading T: the name the form resource and
    // the class registry use, and the window class name of forms.
    virtual std::string ClassName() const { return "Component"; }
    // The form reader tells every component which component encloses it in
    // the resource (the root for top-level ones): controls take it as their
    // parent window, menu items as their menu. The default ignores it.
    virtual void SetParentComponent(Component* parent) { (void)parent; }

protected:
    // Frees the memory (the endgame of Free; see lifetime.h).
    void Endgame() override { delete this; }
    // Tells the components that asked for it that this one goes; once.
    // For classes whose members others refer to, a destructor may call it
    // first so that a plain delete leaves no reference to them either.
    void ForgetReferrers();

private:
    friend void Free(Component* component);
    Component* owner_ = nullptr;
    std::string name_;
    int32_t tag_ = 0;
    std::vector<Component*> components_;
    std::vector<Component*> freeNotifies_;
    bool loading_ = false;
    bool designing_ = false;
    bool destroying_ = false;
};

// Destroys a component: BeforeDestruction, then the memory at once, or
// when the last use of the component ends (it leaves its owner at once).
// Nothing when it is already on its way. The caller must not touch the
// component afterwards.
void Free(Component* component);

// A component held by a scope instead of an owner; freed (not deleted)
// when the scope ends:  ComponentPtr<Form> window(new MainWindow);
struct ComponentFreer {
    void operator()(Component* component) const { Free(component); }
};
template <class T>
using ComponentPtr = std::unique_ptr<T, ComponentFreer>;

class EComponentError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace qv
