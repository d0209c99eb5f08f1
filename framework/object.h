// Root classes of the component model: Object (anything that can be a
// Sender) and Persistent (anything with published properties).
#pragma once

namespace qv {

class PropertyTable;

class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;
};

// An object whose published properties can be read and written by name
// (form resources, the translation component).
class Persistent : public Object {
public:
    virtual const PropertyTable& Properties() const;
    static const PropertyTable& StaticProperties();
};

}  // namespace qv
