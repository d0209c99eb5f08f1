// The form resource reader: the text parser and the loader that creates and
// sets up components from the parsed tree.
//
// Invariants:
//  - a text is either read into a tree or refused with EFormError, nothing
//    else;
//  - printing a tree and reading the print gives the same tree, and printing
//    that gives the same text;
//  - loading a tree into a form with a registered component class either
//    raises EFormError or creates one component per object, each owned by
//    the form under its name, with Loaded run on each, the last value of
//    each plain property set, and nothing left behind when the form goes
//    (the leak checker watches that).
#include <map>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/form_printer.h"
#include "framework/form_reader.h"
#include "framework/string_list.h"
#include "framework/text.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Show;

enum class Shape { shBox, shRound };

class Pen : public qv::Persistent {
public:
    std::string style;
    int width = 1;
    std::string Style() const { return style; }
    void SetStyle(const std::string& v) { style = v; }
    int Width() const { return width; }
    void SetWidth(int v) { width = v; }
    static const qv::PropertyTable& StaticProperties() {
        static const qv::PropertyTable t(&qv::Persistent::StaticProperties(), {
            qv::StringProperty<Pen>("Style", &Pen::Style, &Pen::SetStyle),
            qv::IntegerProperty<Pen>("Width", &Pen::Width, &Pen::SetWidth),
        });
        return t;
    }
    const qv::PropertyTable& Properties() const override { return StaticProperties(); }
};

class Item : public qv::Component {
public:
    using Component::Component;
    std::string caption;
    int left = 0;
    bool flag = false;
    Shape shape = Shape::shBox;
    unsigned options = 0;
    qv::StringList items;
    Pen pen;
    Item* buddy = nullptr;
    qv::NotifyEvent OnClick;
    int loadedCalls = 0;

    std::string Caption() const { return caption; }
    void SetCaption(const std::string& v) { caption = v; }
    int Left() const { return left; }
    void SetLeft(int v) { left = v; }
    bool Flag() const { return flag; }
    void SetFlag(bool v) { flag = v; }
    Shape GetShape() const { return shape; }
    void SetShape(Shape v) { shape = v; }
    unsigned Options() const { return options; }
    void SetOptions(unsigned v) { options = v; }
    qv::StringList& Items() { return items; }
    Pen& GetPen() { return pen; }
    Item* Buddy() const { return buddy; }
    void SetBuddy(Item* v) { buddy = v; }
    void Loaded() override {
        ++loadedCalls;
        Component::Loaded();
    }
    std::string ClassName() const override { return "Item"; }
    static const qv::PropertyTable& StaticProperties() {
        static const qv::PropertyTable t(&qv::Component::StaticProperties(), {
            qv::StringProperty<Item>("Caption", &Item::Caption, &Item::SetCaption),
            qv::StringProperty<Item>("Version", &Item::Caption, nullptr),
            qv::IntegerProperty<Item>("Left", &Item::Left, &Item::SetLeft),
            qv::BooleanProperty<Item>("Flag", &Item::Flag, &Item::SetFlag),
            qv::EnumProperty<Item, Shape>("Shape", {"shBox", "shRound"}, &Item::GetShape, &Item::SetShape),
            qv::SetProperty<Item, unsigned>("Options", {"opA", "opB", "opC"}, &Item::Options, &Item::SetOptions),
            qv::StringsProperty<Item>("Items", &Item::Items),
            qv::ObjectProperty<Item>("Pen", &Item::GetPen),
            qv::ReferenceProperty<Item, Item>("Buddy", &Item::Buddy, &Item::SetBuddy),
            qv::EventProperty<Item>("OnClick", &Item::OnClick),
        });
        return t;
    }
    const qv::PropertyTable& Properties() const override { return StaticProperties(); }
};

class FuzzForm : public Item {
public:
    using Item::Item;
    std::string ClassName() const override { return "FuzzForm"; }
};

const qv::HandlerTable& Handlers() {
    static qv::HandlerTable handlers = [] {
        qv::RegisterComponentClass<Item>("Item");
        qv::RegisterIntegerConstant("clFuzz", 0x123456);
        qv::HandlerTable h;
        h.Add("Click", qv::NotifyEvent([](qv::Object*) {}));
        h.Add("Other", std::function<void(int)>([](int) {}));
        return h;
    }();
    return handlers;
}

void CountObjects(const qv::FormObject& o, std::vector<const qv::FormObject*>& all) {
    for (const qv::FormObject& c : o.children) {
        all.push_back(&c);
        CountObjects(c, all);
    }
}

// The name a component ends with: its object name, or the last Name
// property (a published property of every component).
std::string FinalName(const qv::FormObject& o) {
    std::string name = o.name;
    for (const qv::FormProperty& p : o.properties)
        if (qv::SameText(p.name, "Name") && p.value.kind == qv::FormValue::Kind::String) name = p.value.text;
    return name;
}

// The plain values an object's own properties leave (last one counts).
void CheckValues(const Item& item, const qv::FormObject& o) {
    const qv::FormValue* caption = nullptr;
    const qv::FormValue* left = nullptr;
    for (const qv::FormProperty& p : o.properties) {
        if (qv::SameText(p.name, "Caption")) caption = &p.value;
        if (qv::SameText(p.name, "Left") && p.value.kind == qv::FormValue::Kind::Integer) left = &p.value;
        if (qv::SameText(p.name, "Left") && p.value.kind != qv::FormValue::Kind::Integer) left = nullptr;
    }
    if (caption) QV_FUZZ_CHECK(item.caption == caption->text, item.Name());
    if (left) QV_FUZZ_CHECK(item.left == static_cast<int>(left->number), item.Name());
}

void Load(qv::FormObject tree) {
    // The root's class is the form's; nested objects are items, except
    // those named for another class on purpose.
    tree.className = "FuzzForm";
    std::vector<qv::FormObject*> stack{&tree};
    while (!stack.empty()) {
        qv::FormObject* o = stack.back();
        stack.pop_back();
        for (qv::FormObject& c : o->children) {
            if (c.className.empty() || c.className[0] != 'X') c.className = "Item";
            stack.push_back(&c);
        }
    }
    FuzzForm form;
    try {
        qv::LoadForm(form, tree, Handlers(), "fuzz");
    } catch (const qv::EFormError&) {
        return;
    }
    QV_FUZZ_CHECK(form.Name() == FinalName(tree), "");
    QV_FUZZ_CHECK(form.loadedCalls == 1 && !form.Loading(), "");
    CheckValues(form, tree);
    std::vector<const qv::FormObject*> all;
    CountObjects(tree, all);
    QV_FUZZ_CHECK(form.ComponentCount() == static_cast<int>(all.size()), "");
    for (const qv::FormObject* o : all) {
        std::string name = FinalName(*o);
        if (name.empty()) continue;
        auto* item = dynamic_cast<Item*>(form.FindComponent(name));
        QV_FUZZ_CHECK(item && item->Owner() == &form, name);
        QV_FUZZ_CHECK(item->loadedCalls == 1 && !item->Loading(), o->name);
        CheckValues(*item, *o);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qv::FormObject tree;
    try {
        tree = qv::ParseForm(text, "fuzz");
    } catch (const qv::EFormError& e) {
        QV_FUZZ_CHECK(e.Line() >= 1, e.Message());
        return 0;
    }
    std::string printed = qv::PrintForm(tree);
    qv::FormObject again;
    try {
        again = qv::ParseForm(printed, "printed");
    } catch (const qv::EFormError& e) {
        QV_FUZZ_CHECK(false, "the print of " + Show(text) + " is refused: " + e.Message() + "\n" + Show(printed));
    }
    QV_FUZZ_CHECK(qv::SameFormTree(tree, again), Show(text) + " printed as " + Show(printed));
    QV_FUZZ_CHECK(qv::PrintForm(again) == printed, Show(printed));
    Load(std::move(tree));
    return 0;
}
