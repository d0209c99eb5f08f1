// The form resource: a small readable text format that describes a window
// and the components it owns, read when the window is created.
//
//   # a comment runs to the end of the line
//   GetUpdateFile GetUpdateFile {          <- class name, component name
//     Caption = "Quotiva Internet Upgrading System"
//     ClientWidth = 506
//     Color = clBtnFace                    <- identifier: enum value, named
//     Font {                                  constant, reference or handler
//       Name = "MS Sans Serif"             <- nested object property
//       Height = 11
//     }
//     OnCreate = FormCreate                <- event: handler by name
//     Label Label1 {                       <- an owned component; nesting
//       Left = 16                             makes the enclosing control its
//     }                                       parent
//     MultiLang MultiLang1 {
//       Words = ["%Form%", "Quotiva ...",  <- string list
//                "btnCancel" "Cancel"]        (commas optional)
//     }
//   }
//
// Values: "text" (escapes \\ \" \r \n \t \xHH; code page 950 texts may be
// written as they are: a lead byte 0x81..0xFE takes the byte after it
// along, so a trail byte that happens to be '\\' or '"' stays part of its
// character), integers (decimal, 0x hexadecimal, optional sign), true/false,
// identifiers and [lists]. Strings never span lines.
//
// Reading (LoadForm): every component is created by class name through the
// ClassRegistry with the root as owner, gets the loading flag and its name,
// is told its enclosing component (SetParentComponent), then its properties
// are set in file order, then its nested components follow. References to
// other components are resolved when every component exists; events are
// bound to the handlers the root registered by name. Finally Loaded runs on
// the root and then on every created component in creation order.
//
// Every fault of the text or of a value raises EFormError naming the source
// and the line; nothing here crashes on bad input.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/component.h"
#include "framework/exception.h"

namespace qv {

class EFormError : public Exception {
public:
    EFormError(std::string message, int line) : Exception(std::move(message)), line_(line) {}
    int Line() const { return line_; }

private:
    int line_;
};

// ---- the parsed text ---------------------------------------------------
struct FormValue {
    enum class Kind { String, Integer, Ident, List };
    Kind kind = Kind::String;
    std::string text;        // String and Ident
    int64_t number = 0;      // Integer
    std::vector<FormValue> items;  // List
    int line = 0;
};

struct FormObject;

struct FormProperty {
    std::string name;
    int line = 0;
    bool isObject = false;              // Name { ... }
    FormValue value;                    // when !isObject
    std::vector<FormProperty> members;  // when isObject
};

struct FormObject {
    std::string className;
    std::string name;
    int line = 0;
    std::vector<FormProperty> properties;  // in file order
    std::vector<FormObject> children;      // in file order
};

// Parses a whole form text; `source` names it in error messages.
FormObject ParseForm(std::string_view text, const std::string& source);

// ---- classes by name ---------------------------------------------------
class ClassRegistry {
public:
    using Factory = std::function<Component*(Component* owner)>;
    static ClassRegistry& Instance();

    // Registering a name again replaces the earlier factory.
    void Register(const std::string& className, Factory factory);
    bool Has(std::string_view className) const;
    // Creates an instance owned by `owner`; raises EFormError (line 0) when
    // the class is unknown.
    Component* Create(std::string_view className, Component* owner) const;

private:
    std::vector<std::pair<std::string, Factory>> classes_;
};

// RegisterComponentClass<FtpClient>("FtpClient");
template <class T>
void RegisterComponentClass(const std::string& className) {
    ClassRegistry::Instance().Register(className, [](Component* owner) -> Component* { return new T(owner); });
}

// Identifiers that integer properties accept (colour names and the like).
void RegisterIntegerConstant(const std::string& name, int64_t value);
bool FindIntegerConstant(std::string_view name, int64_t& value);

// ---- handlers by name --------------------------------------------------
// The window registers its handlers here, each as the std::function type of
// the event it serves; the reader binds "OnClick = btnCancelClick" to it.
class HandlerTable {
public:
    template <class F>
    void Add(const std::string& name, F handler) {
        Put(name, std::any(std::move(handler)));
    }
    void Put(const std::string& name, std::any handler);
    const std::any* Find(std::string_view name) const;  // case-insensitive
    std::vector<std::string> Names() const;

private:
    std::vector<std::pair<std::string, std::any>> handlers_;
};

// Reads `form` into `root`: the root's class must equal form.className (as
// given by the root's ClassName()); its name is set from the form.
void LoadForm(Component& root, const FormObject& form, const HandlerTable& handlers, const std::string& source);

// Parse + load in one step.
void ReadForm(Component& root, std::string_view text, const HandlerTable& handlers, const std::string& source);

}  // namespace qv
