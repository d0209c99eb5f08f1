#include "framework/properties.h"

#include <gtest/gtest.h>

#include "framework/component.h"
#include "framework/string_list.h"

namespace qv {
namespace {

enum class Mode { mdOne, mdTwo, mdThree };

class Font : public Persistent {
public:
    std::string Name() const { return name_; }
    void SetName(const std::string& v) { name_ = v; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Persistent::StaticProperties(),
                                     {StringProperty<Font>("Name", &Font::Name, &Font::SetName)});
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }

private:
    std::string name_;
};

class Widget : public Component {
public:
    using Component::Component;
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& v) { caption_ = v; }
    int Left() const { return left_; }
    void SetLeft(int v) { left_ = v; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    Mode GetMode() const { return mode_; }
    void SetMode(Mode m) { mode_ = m; }
    StringList& Items() { return items_; }
    Font& GetFont() { return font_; }
    Widget* Buddy() const { return buddy_; }
    void SetBuddy(Widget* w) { buddy_ = w; }
    NotifyEvent OnClick;

    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(
            &Component::StaticProperties(),
            {
                StringProperty<Widget>("Caption", &Widget::Caption, &Widget::SetCaption),
                StringProperty<Widget>("Version", &Widget::Caption, nullptr),
                IntegerProperty<Widget>("Left", &Widget::Left, &Widget::SetLeft),
                BooleanProperty<Widget>("ReadOnly", &Widget::ReadOnly, &Widget::SetReadOnly),
                EnumProperty<Widget, Mode>("Mode", {"mdOne", "mdTwo", "mdThree"}, &Widget::GetMode, &Widget::SetMode),
                StringsProperty<Widget>("Items", &Widget::Items),
                ObjectProperty<Widget>("Font", &Widget::GetFont),
                ReferenceProperty<Widget, Widget>("Buddy", &Widget::Buddy, &Widget::SetBuddy),
                EventProperty<Widget>("OnClick", &Widget::OnClick),
            });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }

private:
    std::string caption_;
    int left_ = 0;
    bool readOnly_ = false;
    Mode mode_ = Mode::mdOne;
    StringList items_;
    Font font_;
    Widget* buddy_ = nullptr;
};

TEST(Properties, ReadAndWriteByNameWhateverTheCase) {
    Component owner;
    auto* w = new Widget(&owner);
    SetStrProp(*w, "caption", "Cancel");
    SetOrdProp(*w, "LEFT", 72);
    SetBoolProp(*w, "ReadOnly", true);
    SetOrdProp(*w, "Mode", 2);
    EXPECT_EQ(GetStrProp(*w, "Caption"), "Cancel");
    EXPECT_EQ(GetOrdProp(*w, "Left"), 72);
    EXPECT_TRUE(GetBoolProp(*w, "readonly"));
    EXPECT_EQ(w->GetMode(), Mode::mdThree);
    // Inherited properties come from the base table.
    SetStrProp(*w, "Name", "Label1");
    EXPECT_EQ(w->Name(), "Label1");
}

TEST(Properties, HasPropertyDistinguishesKinds) {
    Component owner;
    Widget w(&owner);
    EXPECT_TRUE(HasProperty(w, "Caption"));
    EXPECT_TRUE(HasProperty(w, "Caption", PropKind::String));
    EXPECT_FALSE(HasProperty(w, "Caption", PropKind::Integer));
    EXPECT_FALSE(HasProperty(w, "Hint"));
    EXPECT_TRUE(HasProperty(w, "Items", PropKind::Strings));
}

TEST(Properties, MisuseRaisesPropertyErrors) {
    Component owner;
    Widget w(&owner);
    EXPECT_THROW(GetStrProp(w, "Hint"), EPropertyError);
    EXPECT_THROW(SetStrProp(w, "Left", "1"), EPropertyError);
    EXPECT_THROW(SetStrProp(w, "Version", "2"), EPropertyError);
    Component other(&owner);
    EXPECT_THROW(SetReferenceProp(w, "Buddy", &other), EPropertyError);
}

TEST(Properties, ListsSubObjectsReferencesAndEvents) {
    Component owner;
    auto* a = new Widget(&owner);
    auto* b = new Widget(&owner);
    GetStringsProp(*a, "Items")->SetText("one\r\ntwo\n");
    EXPECT_EQ(a->Items().Count(), 2);
    SetStrProp(*GetObjectProp(*a, "Font"), "Name", "MS Sans Serif");
    EXPECT_EQ(a->GetFont().Name(), "MS Sans Serif");
    SetReferenceProp(*a, "Buddy", b);
    EXPECT_EQ(GetReferenceProp(*a, "Buddy"), b);

    int clicks = 0;
    EXPECT_FALSE(IsEventAssigned(*a, "OnClick"));
    SetEventProp(*a, "OnClick", std::any(NotifyEvent([&](Object*) { ++clicks; })));
    ASSERT_TRUE(IsEventAssigned(*a, "OnClick"));
    a->OnClick(a);
    EXPECT_EQ(clicks, 1);
    // A handler of another type is refused.
    EXPECT_THROW(SetEventProp(*a, "OnClick", std::any(std::function<void(int)>())), EPropertyError);
}

}  // namespace
}  // namespace qv
