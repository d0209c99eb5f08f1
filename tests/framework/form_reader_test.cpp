#include "framework/form_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/string_list.h"

namespace qv {
namespace {

std::vector<std::string>* gLog = nullptr;

class Pen : public Persistent {
public:
    std::string Style() const { return style_; }
    void SetStyle(const std::string& v) { style_ = v; }
    int Width() const { return width_; }
    void SetWidth(int v) { width_ = v; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Persistent::StaticProperties(), {
            StringProperty<Pen>("Style", &Pen::Style, &Pen::SetStyle),
            IntegerProperty<Pen>("Width", &Pen::Width, &Pen::SetWidth),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }

private:
    std::string style_;
    int width_ = 1;
};

enum class Shape { shBox, shRound };
using ValueEvent = std::function<void(Object*, int)>;

// A component that records what the reader does to it.
class Widget : public Component {
public:
    using Component::Component;
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& v) {
        caption_ = v;
        Record("Caption=" + v);
    }
    int Left() const { return left_; }
    void SetLeft(int v) {
        left_ = v;
        Record("Left=" + std::to_string(v));
    }
    bool Flag() const { return flag_; }
    void SetFlag(bool v) { flag_ = v; }
    Shape GetShape() const { return shape_; }
    void SetShape(Shape v) { shape_ = v; }
    unsigned Options() const { return options_; }
    void SetOptions(unsigned v) { options_ = v; }
    StringList& Items() { return items_; }
    Pen& GetPen() { return pen_; }
    Widget* Buddy() const { return buddy_; }
    void SetBuddy(Widget* w) { buddy_ = w; }
    NotifyEvent OnClick;
    ValueEvent OnValue;
    Component* enclosing = nullptr;
    bool loadingWhileSet = false;

    void SetParentComponent(Component* parent) override { enclosing = parent; }
    void Loaded() override {
        Record("Loaded " + Name());
        Component::Loaded();
    }
    std::string ClassName() const override { return "Widget"; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Component::StaticProperties(), {
            StringProperty<Widget>("Caption", &Widget::Caption, &Widget::SetCaption),
            StringProperty<Widget>("Version", &Widget::Caption, nullptr),
            IntegerProperty<Widget>("Left", &Widget::Left, &Widget::SetLeft),
            BooleanProperty<Widget>("Flag", &Widget::Flag, &Widget::SetFlag),
            EnumProperty<Widget, Shape>("Shape", {"shBox", "shRound"}, &Widget::GetShape, &Widget::SetShape),
            SetProperty<Widget, unsigned>("Options", {"opA", "opB", "opC"}, &Widget::Options, &Widget::SetOptions),
            StringsProperty<Widget>("Items", &Widget::Items),
            ObjectProperty<Widget>("Pen", &Widget::GetPen),
            ReferenceProperty<Widget, Widget>("Buddy", &Widget::Buddy, &Widget::SetBuddy),
            EventProperty<Widget>("OnClick", &Widget::OnClick),
            EventProperty<Widget>("OnValue", &Widget::OnValue),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }

private:
    void Record(const std::string& what) {
        if (Loading()) loadingWhileSet = true;
        if (gLog) gLog->push_back(Name() + ":" + what);
    }
    std::string caption_;
    int left_ = 0;
    bool flag_ = false;
    Shape shape_ = Shape::shBox;
    unsigned options_ = 0;
    StringList items_;
    Pen pen_;
    Widget* buddy_ = nullptr;
};

class TestForm : public Widget {
public:
    using Widget::Widget;
    std::string ClassName() const override { return "TestForm"; }
};

class FormReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterComponentClass<Widget>("Widget");
        RegisterIntegerConstant("clTest", 0x123456);
        gLog = &log;
        handlers.Add("FormClick", NotifyEvent([this](Object* s) { clicks.push_back(s); }));
        handlers.Add("ValueChanged", ValueEvent([this](Object*, int v) { values.push_back(v); }));
    }
    void TearDown() override { gLog = nullptr; }

    // The message of the EFormError that reading `text` raises.
    std::string ErrorOf(const std::string& text) {
        TestForm form;
        try {
            ReadForm(form, text, handlers, "test.form");
        } catch (const EFormError& e) {
            return e.Message();
        }
        return "(no error)";
    }

    std::vector<std::string> log;
    std::vector<Object*> clicks;
    std::vector<int> values;
    HandlerTable handlers;
};

TEST_F(FormReaderTest, ReadsAWholeFormInFileOrder) {
    TestForm form;
    ReadForm(form, R"(
# comment line
TestForm Main {
  Caption = "Main window"   Left = 0x10
  OnClick = FormClick
  Widget First {
    Left = -5
    Caption = "first \"quoted\" \\ \x41"
    Flag = true
    Shape = shRound
    Options = [opA, opC]
    Items = ["one", "two"
             "three"]
    Pen { Style = "dash" Width = 3 }
    Buddy = Second
    OnValue = ValueChanged
    Widget Inner { Caption = "inner" }
  }
  Widget Second { Left = clTest  Buddy = Main }
}
)",
             handlers, "test.form");
    EXPECT_EQ(form.Name(), "Main");
    ASSERT_EQ(form.ComponentCount(), 3);
    auto* first = dynamic_cast<Widget*>(form.FindComponent("First"));
    auto* inner = dynamic_cast<Widget*>(form.FindComponent("Inner"));
    auto* second = dynamic_cast<Widget*>(form.FindComponent("Second"));
    ASSERT_TRUE(first && inner && second);
    // Every component is owned by the root; nesting gives the enclosing one.
    EXPECT_EQ(first->Owner(), &form);
    EXPECT_EQ(inner->Owner(), &form);
    EXPECT_EQ(first->enclosing, &form);
    EXPECT_EQ(inner->enclosing, first);
    EXPECT_EQ(first->Caption(), "first \"quoted\" \\ A");
    EXPECT_EQ(first->Left(), -5);
    EXPECT_EQ(form.Left(), 16);
    EXPECT_EQ(second->Left(), 0x123456);
    EXPECT_TRUE(first->Flag());
    EXPECT_EQ(first->GetShape(), Shape::shRound);
    EXPECT_EQ(first->Options(), 0b101u);
    EXPECT_EQ(first->Items().ToVector(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(first->GetPen().Style(), "dash");
    EXPECT_EQ(first->GetPen().Width(), 3);
    // References are resolved when all components exist (Second comes later).
    EXPECT_EQ(first->Buddy(), second);
    EXPECT_EQ(second->Buddy(), &form);
    // Events are bound to the handlers by name.
    ASSERT_TRUE(form.OnClick);
    form.OnClick(&form);
    EXPECT_EQ(clicks, (std::vector<Object*>{&form}));
    ASSERT_TRUE(first->OnValue);
    first->OnValue(first, 7);
    EXPECT_EQ(values, (std::vector<int>{7}));
    // Properties in file order while loading, then Loaded: root first, then
    // the components in creation order; the loading flag is cleared.
    EXPECT_TRUE(first->loadingWhileSet);
    std::vector<std::string> expected = {"Main:Caption=Main window", "Main:Left=16",     "First:Left=-5",
                                         "First:Caption=first \"quoted\" \\ A", "Inner:Caption=inner",
                                         "Second:Left=1193046", "Main:Loaded Main", "First:Loaded First",
                                         "Inner:Loaded Inner", "Second:Loaded Second"};
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(first->Loading());
    EXPECT_FALSE(form.Loading());
}

TEST_F(FormReaderTest, DoubleByteTextsKeepTrailBytesThatLookLikeQuotesOrBackslashes) {
    // Big5 "成功" is A6 A8 A5 5C: its last byte is a backslash.
    const std::string big5 = "\xa6\xa8\xa5\x5c";
    TestForm form;
    ReadForm(form, "TestForm Main { Caption = \"" + big5 + "\" }", handlers, "test.form");
    EXPECT_EQ(form.Caption(), big5);
    // A trail byte 0x22 (a double quote) does not end the string either.
    const std::string withQuote = "\xa4\x22x";
    ReadForm(form, "TestForm Main { Caption = \"" + withQuote + "\" }", handlers, "test.form");
    EXPECT_EQ(form.Caption(), withQuote);
}

TEST_F(FormReaderTest, MalformedFormsStopWithTheLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"", "test.form, line 1: expected the class name of the form, found end of text"},
        {"TestForm Main {\n  Caption = \"open\n}", "test.form, line 2: unterminated string"},
        {"TestForm Main {\n  Caption = \"x\"\n", "test.form, line 3: missing '}' for object Main of line 1"},
        {"TestForm Main {\n Nope = 1\n}", "test.form, line 2: Main has no property Nope"},
        {"TestForm Main {\n Left = \"x\"\n}", "test.form, line 2: Main.Left needs a number, not a string"},
        {"TestForm Main {\n Left = 99999999999\n}", "test.form, line 2: number out of range '99999999999'"},
        {"TestForm Main {\n Left = 12ab\n}", "test.form, line 2: invalid number '12ab'"},
        {"TestForm Main {\n Left = clNothing\n}", "test.form, line 2: unknown constant clNothing for Main.Left"},
        {"TestForm Main {\n Flag = yes\n}", "test.form, line 2: Main.Flag needs true or false"},
        {"TestForm Main {\n Shape = shStar\n}", "test.form, line 2: shStar is not a value of Main.Shape (shBox, shRound)"},
        {"TestForm Main {\n Items = [\"a\", 1]\n}", "test.form, line 2: Main.Items takes strings only"},
        {"TestForm Main {\n Options = [opA, opZ]\n}", "test.form, line 2: opZ is not a value of Main.Options (opA, opB, opC)"},
        {"TestForm Main {\n Version = \"1\"\n}", "test.form, line 2: Main.Version is read-only"},
        {"TestForm Main {\n Pen = 1\n}", "test.form, line 2: Main.Pen is an object property: write Pen { ... }"},
        {"TestForm Main {\n Caption { }\n}", "test.form, line 2: Main.Caption is not an object property"},
        {"TestForm Main {\n Pen { Colour = 1 }\n}", "test.form, line 2: Main.Pen has no property Colour"},
        {"TestForm Main {\n Widget A { }\n Gadget B { }\n}", "test.form, line 3: class Gadget not found"},
        {"TestForm Main {\n Widget A { }\n Widget a { }\n}", "test.form, line 3: a: A component named a already exists"},
        {"TestForm Main {\n\n Buddy = Nobody\n}", "test.form, line 3: component Nobody for Buddy not found"},
        {"TestForm Main {\n OnClick = Missing\n}", "test.form, line 2: handler Missing for Main.OnClick not found"},
        {"TestForm Main {\n OnClick = ValueChanged\n}", "test.form, line 2: handler ValueChanged does not fit event Main.OnClick"},
        {"Widget Main { }", "test.form, line 1: the form describes class Widget, not TestForm"},
        {"TestForm Main { } extra", "test.form, line 1: text after the end of the form: 'extra'"},
        {"TestForm Main {\n Caption = \"\\q\"\n}", "test.form, line 2: unknown escape \\q"},
        {"TestForm Main {\n Caption = \"\xa4\n\"}", "test.form, line 2: unterminated string (lead byte without trail byte)"},
        {"TestForm Main {\n Caption = @\n}", "test.form, line 2: unexpected character '@'"},
        {"TestForm Main {\n Caption = [\"a\"\n", "test.form, line 3: missing ']' for the list of line 2"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
}

TEST_F(FormReaderTest, DeepNestingIsRefusedNotACrash) {
    std::string text = "TestForm Main { Items = ";
    for (int i = 0; i < 10000; ++i) text += "[";
    EXPECT_EQ(ErrorOf(text), "test.form, line 1: lists nested too deeply");
    std::string objects = "TestForm Main {";
    for (int i = 0; i < 10000; ++i) objects += " Widget W" + std::to_string(i) + " {";
    EXPECT_EQ(ErrorOf(objects), "test.form, line 1: objects nested too deeply");
}

TEST_F(FormReaderTest, ErrorsOfSettersAndLoadedNameTheLine) {
    class Picky : public Widget {
    public:
        using Widget::Widget;
        void Loaded() override { throw Exception("not ready"); }
    };
    RegisterComponentClass<Picky>("Picky");
    EXPECT_EQ(ErrorOf("TestForm Main {\n\n  Picky P { }\n}"), "test.form, line 3: P.Loaded: not ready");
}

TEST_F(FormReaderTest, EveryByteSequenceEndsInAResultOrAnError) {
    // Cut a good form at every length and flip bytes: the reader must end
    // with a form or an EFormError, never anything else.
    const std::string good = "TestForm Main {\n  Caption = \"a\\x41\\n\"\n  Widget W { Items = [\"x\" \"y\"] Left = -3 }\n}\n";
    for (size_t n = 0; n <= good.size(); ++n) {
        TestForm form;
        try {
            ReadForm(form, good.substr(0, n), handlers, "cut");
        } catch (const EFormError&) {
        }
    }
    for (size_t i = 0; i < good.size(); ++i) {
        for (int b : {0x00, 0x22, 0x5C, 0x7B, 0x7D, 0xA4, 0xFF}) {
            std::string bad = good;
            bad[i] = static_cast<char>(b);
            TestForm form;
            try {
                ReadForm(form, bad, handlers, "flipped");
            } catch (const EFormError&) {
            }
        }
    }
    SUCCEED();
}

}  // namespace
}  // namespace qv
