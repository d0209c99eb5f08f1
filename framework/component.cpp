#include "framework/component.h"

#include <algorithm>

#include "framework/text.h"

namespace qv {

Component::Component(Component* owner) {
    if (owner) owner->InsertComponent(this);
}

Component::~Component() {
    destroying_ = true;
    // Whoever asked to hear of our end hears it first (unless Free told
    // them already), then our owned components go, then the owner forgets
    // us (and tells its other components).
    ForgetReferrers();
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void Component::BeforeDestruction() { ForgetReferrers(); }

void Component::ForgetReferrers() {
    while (!freeNotifies_.empty()) {
        Component* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        std::erase(other->freeNotifies_, this);
        other->Notification(this, Operation::opRemove);
    }
}

void Free(Component* component) {
    if (!component || component->destroying_) return;
    component->destroying_ = true;
    component->BeforeDestruction();
    // Still in use: it leaves its owner now and goes when the use ends.
    if (component->InUse() && component->owner_) component->owner_->RemoveComponent(component);
    component->Retire();
}

void Component::SetName(std::string_view name) {
    if (name == name_) return;
    if (owner_ && !name.empty()) {
        Component* other = owner_->FindComponent(name);
        if (other && other != this)
            throw EComponentError("A component named " + std::string(name) + " already exists");
    }
    name_ = std::string(name);
}

void Component::SetDesigning(bool value) {
    designing_ = value;
    for (Component* c : components_) c->SetDesigning(value);
}

int Component::ComponentIndex() const {
    if (!owner_) return -1;
    auto& list = owner_->components_;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

Component* Component::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (Component* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void Component::Loaded() { loading_ = false; }

void Component::Notification(Component* component, Operation operation) {
    if (operation == Operation::opRemove && component) RemoveFreeNotification(component);
    // Iterate over a copy: a notified component may remove itself.
    std::vector<Component*> copy = components_;
    for (Component* c : copy)
        if (std::find(components_.begin(), components_.end(), c) != components_.end())
            c->Notification(component, operation);
}

void Component::FreeNotification(Component* other) {
    if (!other || other == this) return;
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
        freeNotifies_.push_back(other);
}

void Component::RemoveFreeNotification(Component* other) {
    if (!other) return;
    std::erase(freeNotifies_, other);
    std::erase(other->freeNotifies_, this);
}

void Component::InsertComponent(Component* component) {
    if (!component || component->owner_ == this) return;
    if (component->owner_) component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
    if (designing_) component->SetDesigning(true);
    Notification(component, Operation::opInsert);
}

void Component::RemoveComponent(Component* component) {
    if (!component || component->owner_ != this) return;
    Notification(component, Operation::opRemove);
    std::erase(components_, component);
    component->owner_ = nullptr;
}

void Component::DestroyComponents() {
    // Each one leaves our list as it is freed (or, still in use, at once).
    while (!components_.empty()) {
        Component* c = components_.back();
        Free(c);
        // Its Free was already under way further up the stack: that one
        // finishes it.
        if (!components_.empty() && components_.back() == c) RemoveComponent(c);
    }
}

const PropertyTable& Component::StaticProperties() {
    static const PropertyTable table(&Persistent::StaticProperties(), {
        StringProperty<Component>("Name", &Component::Name, &Component::SetName),
        IntegerProperty<Component>("Tag", &Component::Tag, &Component::SetTag),
    });
    return table;
}

const PropertyTable& Component::Properties() const { return StaticProperties(); }

}  // namespace qv
