// Component: an object with an owner that destroys it, a name, the list of
// components it owns, the loading and designing flags, Loaded after
// streaming and Notification when components come and go.
//
// Destruction order matters in C++: a derived destructor runs before this
// base destructor destroys the owned components. A class whose owned
// components call back into it while they die must call DestroyComponents()
// (or destroy them itself) at the start of its own destructor.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/object.h"
#include "framework/properties.h"

namespace qv {

enum class Operation { opInsert, opRemove };

// A plain notify event: (Sender).
using NotifyEvent = std::function<void(Object* Sender)>;

class Component : public Persistent {
public:
    explicit Component(Component* owner = nullptr);
    ~Component() override;

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
    // Destroys every owned component, last first.
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
    // Marks the component as being destroyed; harmless to call twice.
    void MarkDestroying() { destroying_ = true; }

private:
    Component* owner_ = nullptr;
    std::string name_;
    int32_t tag_ = 0;
    std::vector<Component*> components_;
    std::vector<Component*> freeNotifies_;
    bool loading_ = false;
    bool designing_ = false;
    bool destroying_ = false;
};

class EComponentError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace qv
