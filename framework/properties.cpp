#include "framework/properties.h"

#include "framework/component.h"
#include "framework/text.h"

namespace qv {

const PropertyTable& Persistent::StaticProperties() {
    static const PropertyTable table(nullptr, {});
    return table;
}

const PropertyTable& Persistent::Properties() const { return StaticProperties(); }

PropertyTable::PropertyTable(const PropertyTable* parent, std::vector<PropInfo> properties)
    : parent_(parent), properties_(std::move(properties)) {}

const PropInfo* PropertyTable::Find(std::string_view name) const {
    for (const PropInfo& p : properties_)
        if (SameText(p.name, name)) return &p;
    return parent_ ? parent_->Find(name) : nullptr;
}

std::vector<const PropInfo*> PropertyTable::All() const {
    std::vector<const PropInfo*> all = parent_ ? parent_->All() : std::vector<const PropInfo*>{};
    for (const PropInfo& p : properties_) {
        // A class may redeclare a base property; the derived one replaces it.
        std::erase_if(all, [&](const PropInfo* q) { return SameText(q->name, p.name); });
        all.push_back(&p);
    }
    return all;
}

namespace {

const PropInfo& Require(const Persistent& object, std::string_view name) {
    const PropInfo* p = object.Properties().Find(name);
    if (!p) throw EPropertyError("Property " + std::string(name) + " does not exist");
    return *p;
}

[[noreturn]] void WrongKind(const PropInfo& p) {
    throw EPropertyError("Invalid property type: " + p.name);
}

[[noreturn]] void ReadOnly(const PropInfo& p) {
    throw EPropertyError("Property " + p.name + " is read-only");
}

}  // namespace

const PropInfo* FindProperty(const Persistent& object, std::string_view name) {
    return object.Properties().Find(name);
}

bool HasProperty(const Persistent& object, std::string_view name) { return FindProperty(object, name) != nullptr; }

bool HasProperty(const Persistent& object, std::string_view name, PropKind kind) {
    const PropInfo* p = FindProperty(object, name);
    return p && p->kind == kind;
}

std::string GetStrProp(const Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::String) WrongKind(p);
    return p.getString(object);
}

void SetStrProp(Persistent& object, std::string_view name, const std::string& value) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::String) WrongKind(p);
    if (!p.setString) ReadOnly(p);
    p.setString(object, value);
}

int64_t GetOrdProp(const Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    switch (p.kind) {
        case PropKind::Integer:
        case PropKind::Enum:
        case PropKind::Set: return p.getInteger(object);
        case PropKind::Boolean: return p.getBoolean(object) ? 1 : 0;
        default: WrongKind(p);
    }
}

void SetOrdProp(Persistent& object, std::string_view name, int64_t value) {
    const PropInfo& p = Require(object, name);
    switch (p.kind) {
        case PropKind::Integer:
        case PropKind::Enum:
        case PropKind::Set:
            if (!p.setInteger) ReadOnly(p);
            p.setInteger(object, value);
            return;
        case PropKind::Boolean:
            if (!p.setBoolean) ReadOnly(p);
            p.setBoolean(object, value != 0);
            return;
        default: WrongKind(p);
    }
}

bool GetBoolProp(const Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Boolean) WrongKind(p);
    return p.getBoolean(object);
}

void SetBoolProp(Persistent& object, std::string_view name, bool value) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Boolean) WrongKind(p);
    if (!p.setBoolean) ReadOnly(p);
    p.setBoolean(object, value);
}

StringList* GetStringsProp(Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Strings) WrongKind(p);
    return p.getStrings(object);
}

Persistent* GetObjectProp(Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Object) WrongKind(p);
    return p.getObject(object);
}

Component* GetReferenceProp(const Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Reference) WrongKind(p);
    return p.getReference(object);
}

void SetReferenceProp(Persistent& object, std::string_view name, Component* value) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Reference) WrongKind(p);
    if (!p.setReference) ReadOnly(p);
    p.setReference(object, value);
}

void SetEventProp(Persistent& object, std::string_view name, const std::any& handler) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Event) WrongKind(p);
    p.setEvent(object, handler);
}

bool IsEventAssigned(const Persistent& object, std::string_view name) {
    const PropInfo& p = Require(object, name);
    if (p.kind != PropKind::Event) WrongKind(p);
    return p.eventAssigned(object);
}

}  // namespace qv
