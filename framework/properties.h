// Published properties by name.
//
// Every Persistent class has a static PropertyTable that names its published
// properties and links to its base class's table. Form resources set them
// by name while a window is read, and the translation component reads and
// writes texts and positions through them.
//
// Defining a table (in the .cpp of the class):
//
//   const PropertyTable& Label::StaticProperties() {
//       static const PropertyTable table(&Control::StaticProperties(), {
//           StringProperty<Label>("Caption", &Label::Caption, &Label::SetCaption),
//           BooleanProperty<Label>("WordWrap", &Label::WordWrap, &Label::SetWordWrap),
//       });
//       return table;
//   }
//   const PropertyTable& Label::Properties() const { return StaticProperties(); }
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/exception.h"
#include "framework/object.h"

namespace qv {

class StringList;
class Component;

enum class PropKind {
    String,     // text
    Integer,    // signed integer
    Boolean,
    Enum,       // ordinal with value names (ftBinary ...)
    Set,        // bit set with element names ([ecString, ecPacketSize])
    Strings,    // a StringList owned by the object; writing copies into it
    Object,     // a sub-object owned by the object (Font)
    Reference,  // a component elsewhere, or none (FtpLog, Action)
    Event,      // a handler (std::function of the event's type)
};

struct PropInfo {
    std::string name;
    PropKind kind = PropKind::String;

    std::function<std::string(const Persistent&)> getString;
    std::function<void(Persistent&, const std::string&)> setString;
    std::function<int64_t(const Persistent&)> getInteger;  // Integer, Enum, Set
    std::function<void(Persistent&, int64_t)> setInteger;
    std::function<bool(const Persistent&)> getBoolean;
    std::function<void(Persistent&, bool)> setBoolean;
    std::vector<std::string> valueNames;  // Enum: by ordinal; Set: by bit
    std::function<StringList*(Persistent&)> getStrings;
    std::function<Persistent*(Persistent&)> getObject;
    std::function<Component*(const Persistent&)> getReference;
    std::function<void(Persistent&, Component*)> setReference;
    std::type_index eventType = typeid(void);
    std::function<void(Persistent&, const std::any&)> setEvent;
    std::function<bool(const Persistent&)> eventAssigned;
};

class PropertyTable {
public:
    PropertyTable(const PropertyTable* parent, std::vector<PropInfo> properties);
    // Case-insensitive; the class's own properties first, then its bases'.
    const PropInfo* Find(std::string_view name) const;
    // Every property, base classes first.
    std::vector<const PropInfo*> All() const;

private:
    const PropertyTable* parent_;
    std::vector<PropInfo> properties_;
};

// Raised when a property is missing, read-only or of another kind.
class EPropertyError : public Exception {
public:
    using Exception::Exception;
};

// ---- access by name ----------------------------------------------------
const PropInfo* FindProperty(const Persistent& object, std::string_view name);
bool HasProperty(const Persistent& object, std::string_view name);
bool HasProperty(const Persistent& object, std::string_view name, PropKind kind);

std::string GetStrProp(const Persistent& object, std::string_view name);
void SetStrProp(Persistent& object, std::string_view name, const std::string& value);
int64_t GetOrdProp(const Persistent& object, std::string_view name);  // Integer, Enum, Set, Boolean
void SetOrdProp(Persistent& object, std::string_view name, int64_t value);
bool GetBoolProp(const Persistent& object, std::string_view name);
void SetBoolProp(Persistent& object, std::string_view name, bool value);
StringList* GetStringsProp(Persistent& object, std::string_view name);
Persistent* GetObjectProp(Persistent& object, std::string_view name);
Component* GetReferenceProp(const Persistent& object, std::string_view name);
void SetReferenceProp(Persistent& object, std::string_view name, Component* value);
void SetEventProp(Persistent& object, std::string_view name, const std::any& handler);
bool IsEventAssigned(const Persistent& object, std::string_view name);

// ---- table builders ----------------------------------------------------
template <class C, class G, class S>
PropInfo StringProperty(std::string name, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::String;
    p.getString = [getter](const Persistent& o) {
        return std::string((static_cast<const C&>(o).*getter)());
    };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setString = [setter](Persistent& o, const std::string& v) { (static_cast<C&>(o).*setter)(v); };
    return p;
}

template <class C, class G, class S>
PropInfo IntegerProperty(std::string name, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Integer;
    p.getInteger = [getter](const Persistent& o) {
        return static_cast<int64_t>((static_cast<const C&>(o).*getter)());
    };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setInteger = [setter](Persistent& o, int64_t v) { (static_cast<C&>(o).*setter)(v); };
    return p;
}

template <class C, class G, class S>
PropInfo BooleanProperty(std::string name, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Boolean;
    p.getBoolean = [getter](const Persistent& o) { return static_cast<bool>((static_cast<const C&>(o).*getter)()); };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setBoolean = [setter](Persistent& o, bool v) { (static_cast<C&>(o).*setter)(v); };
    return p;
}

// Enumerations: E is the enum type, names are the value names by ordinal.
template <class C, class E, class G, class S>
PropInfo EnumProperty(std::string name, std::vector<std::string> names, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Enum;
    p.valueNames = std::move(names);
    p.getInteger = [getter](const Persistent& o) { return static_cast<int64_t>((static_cast<const C&>(o).*getter)()); };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setInteger = [setter](Persistent& o, int64_t v) { (static_cast<C&>(o).*setter)(static_cast<E>(v)); };
    return p;
}

// Sets: the getter and setter use an unsigned bit mask; names by bit.
template <class C, class M, class G, class S>
PropInfo SetProperty(std::string name, std::vector<std::string> names, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Set;
    p.valueNames = std::move(names);
    p.getInteger = [getter](const Persistent& o) { return static_cast<int64_t>((static_cast<const C&>(o).*getter)()); };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setInteger = [setter](Persistent& o, int64_t v) { (static_cast<C&>(o).*setter)(static_cast<M>(v)); };
    return p;
}

// A string list owned by the object: getter returns StringList& or StringList*.
template <class C, class G>
PropInfo StringsProperty(std::string name, G getter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Strings;
    p.getStrings = [getter](Persistent& o) -> StringList* {
        auto&& r = (static_cast<C&>(o).*getter)();
        if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(r)>>) return r;
        else return &r;
    };
    return p;
}

// An owned sub-object (for instance a Font): getter returns T& or T*.
template <class C, class G>
PropInfo ObjectProperty(std::string name, G getter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Object;
    p.getObject = [getter](Persistent& o) -> Persistent* {
        auto&& r = (static_cast<C&>(o).*getter)();
        if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(r)>>) return r;
        else return &r;
    };
    return p;
}

// A reference to another component of class T (or none). Writing a
// component of another class raises EPropertyError.
template <class C, class T, class G, class S>
PropInfo ReferenceProperty(std::string name, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Reference;
    p.getReference = [getter](const Persistent& o) -> Component* { return (static_cast<const C&>(o).*getter)(); };
    if constexpr (!std::is_same_v<S, std::nullptr_t>)
        p.setReference = [setter, n = p.name](Persistent& o, Component* v) {
            T* t = nullptr;
            if (v) {
                t = dynamic_cast<T*>(v);
                if (!t) throw EPropertyError("Invalid property value for " + n);
            }
            (static_cast<C&>(o).*setter)(t);
        };
    return p;
}

// An event: Field is a std::function member; assigning takes a std::any
// that must hold exactly that std::function type.
template <class C, class F>
PropInfo EventProperty(std::string name, F C::*field) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Event;
    p.eventType = typeid(F);
    p.setEvent = [field, n = p.name](Persistent& o, const std::any& handler) {
        if (!handler.has_value()) {
            static_cast<C&>(o).*field = nullptr;
            return;
        }
        const F* f = std::any_cast<F>(&handler);
        if (!f) throw EPropertyError("Handler of another type for event " + n);
        static_cast<C&>(o).*field = *f;
    };
    p.eventAssigned = [field](const Persistent& o) { return static_cast<bool>(static_cast<const C&>(o).*field); };
    return p;
}

// Event through a setter (for events whose assignment has side effects).
template <class C, class F, class G, class S>
PropInfo EventProperty(std::string name, G getter, S setter) {
    PropInfo p;
    p.name = std::move(name);
    p.kind = PropKind::Event;
    p.eventType = typeid(F);
    p.setEvent = [setter, n = p.name](Persistent& o, const std::any& handler) {
        if (!handler.has_value()) {
            (static_cast<C&>(o).*setter)(F());
            return;
        }
        const F* f = std::any_cast<F>(&handler);
        if (!f) throw EPropertyError("Handler of another type for event " + n);
        (static_cast<C&>(o).*setter)(*f);
    };
    p.eventAssigned = [getter](const Persistent& o) { return static_cast<bool>((static_cast<const C&>(o).*getter)()); };
    return p;
}

}  // namespace qv
