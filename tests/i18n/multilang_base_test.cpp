// The translation component's portable part: table rows and readers, the
// switch, languages, positions, fonts, registry and the text module's table
// reading, on plain components with published properties.
#include "i18n/multilang_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "framework/dialogs.h"
#include "framework/properties.h"
#include "framework/text.h"

namespace qv {
namespace {

class FakeFont : public Persistent {
public:
    std::string name = "Arial";
    int charset = 1;
    std::string Name() const { return name; }
    void SetName(const std::string& v) { name = v; }
    int CharSet() const { return charset; }
    void SetCharSet(int v) { charset = v; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Persistent::StaticProperties(), {
            StringProperty<FakeFont>("Name", &FakeFont::Name, &FakeFont::SetName),
            IntegerProperty<FakeFont>("CharSet", &FakeFont::CharSet, &FakeFont::SetCharSet),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }
};

// A window: caption, font and position.
class FakeForm : public Component {
public:
    using Component::Component;
    std::string caption = "form";
    FakeFont font;
    int left = 1, top = 2, width = 3, height = 4;
    std::string Caption() const { return caption; }
    void SetCaption(const std::string& v) { caption = v; }
    FakeFont& Font() { return font; }
    int Left() const { return left; }
    void SetLeft(int v) { left = v; }
    int Top() const { return top; }
    void SetTop(int v) { top = v; }
    int Width() const { return width; }
    void SetWidth(int v) { width = v; }
    int Height() const { return height; }
    void SetHeight(int v) { height = v; }
    std::string ClassName() const override { return "FakeForm"; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Component::StaticProperties(), {
            StringProperty<FakeForm>("Caption", &FakeForm::Caption, &FakeForm::SetCaption),
            ObjectProperty<FakeForm>("Font", &FakeForm::Font),
            IntegerProperty<FakeForm>("Left", &FakeForm::Left, &FakeForm::SetLeft),
            IntegerProperty<FakeForm>("Top", &FakeForm::Top, &FakeForm::SetTop),
            IntegerProperty<FakeForm>("Width", &FakeForm::Width, &FakeForm::SetWidth),
            IntegerProperty<FakeForm>("Height", &FakeForm::Height, &FakeForm::SetHeight),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }
};

// A label-like control: caption, hint, position.
class FakeLabel : public FakeForm {
public:
    FakeLabel(Component* owner, const std::string& name) : FakeForm(owner) {
        SetName(name);
        caption = name;
    }
    std::string hint;
    std::string Hint() const { return hint; }
    void SetHint(const std::string& v) { hint = v; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&FakeForm::StaticProperties(), {
            StringProperty<FakeLabel>("Hint", &FakeLabel::Hint, &FakeLabel::SetHint),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }
};

// An edit-like control: Text, ReadOnly, Hint.
class FakeEdit : public Component {
public:
    FakeEdit(Component* owner, const std::string& name) : Component(owner) { SetName(name); }
    std::string text = "typed";
    std::string hint;
    bool readOnly = false;
    std::string Text() const { return text; }
    void SetText(const std::string& v) { text = v; }
    std::string Hint() const { return hint; }
    void SetHint(const std::string& v) { hint = v; }
    bool ReadOnly() const { return readOnly; }
    void SetReadOnly(bool v) { readOnly = v; }
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&Component::StaticProperties(), {
            StringProperty<FakeEdit>("Text", &FakeEdit::Text, &FakeEdit::SetText),
            StringProperty<FakeEdit>("Hint", &FakeEdit::Hint, &FakeEdit::SetHint),
            BooleanProperty<FakeEdit>("ReadOnly", &FakeEdit::ReadOnly, &FakeEdit::SetReadOnly),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }
};

// A component whose caption setter fails, and one with nothing to take.
class Faulty : public FakeLabel {
public:
    using FakeLabel::FakeLabel;
    static const PropertyTable& StaticProperties() {
        static const PropertyTable t(&FakeLabel::StaticProperties(), {
            StringProperty<Faulty>("Caption", &Faulty::Caption, &Faulty::SetFailing),
        });
        return t;
    }
    const PropertyTable& Properties() const override { return StaticProperties(); }
    void SetFailing(const std::string&) { throw Exception("cannot set"); }
};

class Silent : public Component {
public:
    Silent(Component* owner, const std::string& name) : Component(owner) { SetName(name); }
};

// The generic handler (caption, then text, then the hint), enough for the
// switch; the control kinds are tested with real controls under Wine.
class TestMultiLang : public BaseMultiLang {
public:
    using BaseMultiLang::BaseMultiLang;
    std::vector<std::string> calls;
    void ApplyTexts(Component* c, int& row) override {
        calls.push_back(c->Name() + "@" + std::to_string(row));
        ApplyPositions(*c, false);
        RowCursor cursor = Cursor(row);
        std::string text;
        if (ShouldTranslate(c)) {
            if (HasProperty(*c, "Caption", PropKind::String) && cursor.TakeRow(text)) SetStrProp(*c, "Caption", text);
            if (HasProperty(*c, "Text", PropKind::String) && cursor.TakeRow(text)) SetStrProp(*c, "Text", text);
        }
        if (HasProperty(*c, "Hint", PropKind::String)) {
            if (cursor.Position() == row) cursor.TakeRow(text);
            if (cursor.TakeHintRow(text)) SetStrProp(*c, "Hint", text);
        }
        row = cursor.Position();
    }
    void CollectTexts(Component*, int, TextGrid*) override {}
    using BaseMultiLang::LoadTableFromStrings;
    using BaseMultiLang::SavePositions;
};

struct Dialog {
    std::string text;
    MsgDlgType type;
    unsigned buttons;
};

class MultiLangBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageDlgHandler([this](const std::string& text, MsgDlgType type, unsigned buttons) {
            dialogs.push_back({text, type, buttons});
            if (answers.empty()) return static_cast<int>(mrNone);
            int a = answers.front();
            answers.erase(answers.begin());
            return a;
        });
        ml = new TestMultiLang(&form);
        ml->SetName("MultiLang1");
        ml->BeforeLanguageChange = [this](Object*, uint8_t n, bool& allow) {
            events.push_back("before " + std::to_string(n));
            allow = allowChange;
        };
        ml->AfterLanguageChanged = [this](Object*, uint8_t n) { events.push_back("after " + std::to_string(n)); };
    }
    void TearDown() override { SetMessageDlgHandler(nullptr); }
    void Table(const std::vector<std::string>& words) { ml->Words().Assign(words); }

    FakeForm form;
    TestMultiLang* ml = nullptr;
    std::vector<Dialog> dialogs;
    std::vector<int> answers;
    std::vector<std::string> events;
    bool allowChange = true;
};

// ---- rows and readers --------------------------------------------------

TEST(RowCursor, TakesRowsAndNeverReadsOutsideTheRow) {
    StringList words;
    words.Assign({"k", "en", "", "\"", "x", "y", "\"", "z"});  // last row cut short
    RowSettings s{2, 1, false, 0};
    RowCursor c(words, s, 0);
    std::string t;
    ASSERT_TRUE(c.TakeRow(t));
    EXPECT_EQ(t, "");  // empty text applied as is
    EXPECT_EQ(c.Position(), 3);
    ASSERT_TRUE(c.TakeRow(t));
    EXPECT_EQ(t, "y");
    EXPECT_FALSE(c.TakeRow(t));  // "z" is language 0 of a truncated row
    EXPECT_EQ(c.Position(), 6);
    // Fallback to the default language.
    RowCursor d(words, RowSettings{2, 1, true, 0}, 0);
    ASSERT_TRUE(d.TakeRow(t));
    EXPECT_EQ(t, "en");
    // A default or active language beyond the row is never used.
    RowCursor e(words, RowSettings{2, 1, true, 5}, 0);
    ASSERT_TRUE(e.TakeRow(t));
    EXPECT_EQ(t, "");
    RowCursor f(words, RowSettings{1, 1, false, 0}, 0);
    EXPECT_FALSE(f.TakeRow(t));
}

TEST(RowCursor, StringsReaderPadsAndLeavesExtraRows) {
    StringList words;
    words.Assign({"List1", "a0", "a1", "\"", "b0", "b1", "\"", "c0", "c1", "Next", "n0", "n1"});
    StringList five;
    five.Assign({"1", "2", "3", "4", "5"});
    RowCursor c(words, RowSettings{2, 1, false, 0}, 0);
    c.ReadStrings(five);
    EXPECT_EQ(five.ToVector(), (std::vector<std::string>{"a1", "b1", "c1", "", ""}));
    EXPECT_EQ(c.Position(), 9);

    StringList two;
    two.Assign({"x", "y"});
    RowCursor d(words, RowSettings{2, 0, false, 0}, 0);
    d.ReadStrings(two);
    EXPECT_EQ(two.ToVector(), (std::vector<std::string>{"a0", "b0"}));
    EXPECT_EQ(d.Position(), 6);  // the third row is left to the switch

    StringList empty;
    RowCursor e(words, RowSettings{2, 0, false, 0}, 0);
    e.ReadStrings(empty);
    EXPECT_EQ(e.Position(), 0);
}

TEST(RowCursor, ReadersEndOnTruncatedTables) {
    StringList words;
    words.Assign({"H", "s0", "t0", "\"", "s1", "t1", "\"", "s2"});
    std::vector<std::string> got(4, "-");
    RowCursor c(words, RowSettings{2, 1, false, 0}, 0);
    c.ReadIndexed(4, [&](int i, const std::string& t) { got[static_cast<size_t>(i)] = t; });
    EXPECT_EQ(got, (std::vector<std::string>{"t0", "t1", "-", "-"}));

    StringList list;
    list.Assign({"1", "2", "3", "4"});
    RowCursor d(words, RowSettings{2, 1, false, 0}, 0);
    d.ReadStrings(list);
    // The cut row is tried for the remaining items and never taken; the
    // reader ends when it runs out of items, leaving them as they were.
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"t0", "t1", "3", "4"}));
    EXPECT_EQ(d.Position(), 6);

    std::vector<std::string> panels;
    RowCursor e(words, RowSettings{2, 1, false, 0}, 3);
    e.ReadContinuations(5, [&](int, const std::string& t) { panels.push_back(t); });
    EXPECT_EQ(panels, (std::vector<std::string>{"t1"}));
}

TEST(RowCursor, HintRowsAreConsumedEvenWhenEmpty) {
    StringList words;
    words.Assign({"\".HINT", "h0", "", "\".hint", "h0", "h1"});
    RowCursor c(words, RowSettings{2, 1, false, 0}, 0);
    std::string t = "unchanged";
    EXPECT_FALSE(c.TakeHintRow(t));
    EXPECT_EQ(c.Position(), 3);
    EXPECT_TRUE(c.TakeHintRow(t));
    EXPECT_EQ(t, "h1");
}

TEST(TextGrid, AddRowWritesTheActiveColumnAndGrows) {
    TextGrid grid(3, 1);
    GridWriter w(grid, 0, 1);
    w.AddRow("Cancel");
    w.AddRow("tip");
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Cell(0, 0), "\"");
    EXPECT_EQ(grid.Cell(2, 0), "Cancel");
    EXPECT_EQ(grid.Cell(1, 0), "");
    EXPECT_EQ(grid.Cell(2, 1), "tip");
    EXPECT_EQ(grid.Cell(2, 2), "");
}

// ---- the switch --------------------------------------------------------

TEST_F(MultiLangBaseTest, SwitchAppliesCaptionAndComponentsAndFiresEvents) {
    auto* label = new FakeLabel(&form, "Label1");
    Table({"%Form%", "Form EN", "Form ZH", "Label1", "One", "Yi", "Nobody", "x", "y", "%FORM%", "bad", "bad"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(form.caption, "Form ZH");
    EXPECT_EQ(label->caption, "Yi");
    EXPECT_EQ(ml->ActiveLanguage(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"before 1", "after 1"}));
    // The key "%FORM%" is a component name, and no component has it.
    EXPECT_EQ(ml->calls, (std::vector<std::string>{"Label1@3"}));
    // Assigning the same language again re-applies the table.
    label->caption = "changed";
    ml->SetActiveLanguage(1);
    EXPECT_EQ(label->caption, "Yi");
    EXPECT_EQ(events.size(), 4u);
}

TEST_F(MultiLangBaseTest, OutOfRangeLanguageIsRefusedWithoutEvents) {
    Table({"%Form%", "A", "B"});
    ml->SetActiveLanguage(2);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, "Value must not be higher than\rnumber of available languages.");
    EXPECT_EQ(dialogs[0].type, MsgDlgType::mtInformation);
    EXPECT_EQ(dialogs[0].buttons, static_cast<unsigned>(mbCancel));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(ml->ActiveLanguage(), 0);
    EXPECT_EQ(form.caption, "form");
}

TEST_F(MultiLangBaseTest, BeforeLanguageChangeCanCancelEverything) {
    auto* label = new FakeLabel(&form, "Label1");
    ml->SetSwitchPositions(SwitchPositions::spFormAndControls);
    ml->CharSets().Assign({"Arial,1", "Big,136"});
    Table({"%Form%", "A", "B", "Label1", "one", "two"});
    allowChange = false;
    ml->SetActiveLanguage(1);
    EXPECT_EQ(events, (std::vector<std::string>{"before 1"}));
    EXPECT_EQ(ml->ActiveLanguage(), 0);
    EXPECT_EQ(form.caption, "form");
    EXPECT_EQ(label->caption, "Label1");
    EXPECT_EQ(form.font.name, "Arial");
    EXPECT_EQ(ml->Positions().Count(), 0);
}

TEST_F(MultiLangBaseTest, EmptyTextsWithAndWithoutTheDefaultLanguage) {
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Label1", "English", ""});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(label->caption, "");
    ml->SetDefaultEnabled(true);  // re-applies
    EXPECT_EQ(label->caption, "English");
    // A default language at or above Languages is refused.
    ml->SetDefaultLanguage(2);
    EXPECT_EQ(dialogs.back().text, kOutOfRangeText);
    EXPECT_EQ(ml->DefaultLanguage(), 0);
}

TEST_F(MultiLangBaseTest, TheWalkPassesFaultyAndSilentComponents) {
    new Faulty(&form, "Bad");
    new Silent(&form, "Quiet");
    auto* label = new FakeLabel(&form, "Label1");
    // Bad's handler raises before consuming; Quiet takes no row at all;
    // both extra rows of Bad are skipped as unknown keys.
    Table({"Bad", "b", "B", "\"", "x", "X", "Quiet", "q", "Q", "Label1", "l", "L"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(label->caption, "L");
    EXPECT_EQ(ml->calls, (std::vector<std::string>{"Bad@0", "Quiet@6", "Label1@9"}));
    EXPECT_EQ(events.back(), "after 1");
}

TEST_F(MultiLangBaseTest, EditsFollowTranslateEditsAndHintsStillApply) {
    auto* editable = new FakeEdit(&form, "Edit1");
    auto* readOnly = new FakeEdit(&form, "Edit2");
    readOnly->readOnly = true;
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Edit1", "e", "E", "\".Hint", "h", "H", "Edit2", "r", "R", "Label1", "l", "L", "\".Hint", "tip", ""});
    label->hint = "kept";
    ml->SetActiveLanguage(1);
    // The editable edit keeps its text; its key row goes to the hint step.
    EXPECT_EQ(editable->text, "typed");
    EXPECT_EQ(editable->hint, "H");
    EXPECT_EQ(readOnly->text, "R");
    EXPECT_EQ(label->caption, "L");
    EXPECT_EQ(label->hint, "kept");  // an empty hint text leaves the hint
    ml->SetTranslateEdits(TranslateEdits::teNever);
    readOnly->text = "mine";
    ml->SetActiveLanguage(1);
    EXPECT_EQ(readOnly->text, "mine");
    ml->SetTranslateEdits(TranslateEdits::teAlways);
    ml->SetActiveLanguage(1);
    EXPECT_EQ(editable->text, "E");
}

// ---- fonts -------------------------------------------------------------

TEST_F(MultiLangBaseTest, CharSetsRememberTheOutgoingFontAndApplyTheIncoming) {
    form.font.name = "Sans";
    form.font.charset = 1;
    ml->CharSets().Assign({"", "MingLiU,136"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(form.font.name, "MingLiU");
    EXPECT_EQ(form.font.charset, 136);
    EXPECT_EQ(ml->CharSets().Get(0), "Sans,1");
    ml->SetActiveLanguage(0);
    EXPECT_EQ(form.font.name, "Sans");
    EXPECT_EQ(ml->CharSets().Get(1), "MingLiU,136");
    // Empty CharSets are padded with the current font for every language.
    ml->CharSets().Clear();
    ml->SetActiveLanguage(1);
    EXPECT_EQ(ml->CharSets().ToVector(), (std::vector<std::string>{"Sans,1", "Sans,1"}));
}

TEST_F(MultiLangBaseTest, ACharSetThatIsNoNumberRaisesAfterTheLanguageChanged) {
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Label1", "a", "b"});
    ml->CharSets().Assign({"Sans,1", "Sans,big"});
    EXPECT_THROW(ml->SetActiveLanguage(1), EConvertError);
    EXPECT_EQ(ml->ActiveLanguage(), 1);
    EXPECT_EQ(label->caption, "Label1");
}

// ---- languages ---------------------------------------------------------

TEST_F(MultiLangBaseTest, GrowingAddsQuestionMarksAndShrinkingDropsColumns) {
    Table({"A", "a0", "a1", "B", "b0", "b1"});
    ml->SetLanguages(3);
    EXPECT_EQ(ml->Words().ToVector(), (std::vector<std::string>{"A", "a0", "a1", "?", "B", "b0", "b1", "?"}));
    answers = {mrYes};
    ml->SetLanguages(2);
    EXPECT_EQ(ml->Words().ToVector(), (std::vector<std::string>{"A", "a0", "a1", "B", "b0", "b1"}));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, kDropLanguageText);
    EXPECT_EQ(dialogs[0].buttons, static_cast<unsigned>(mbYesNo));
    EXPECT_EQ(ml->Languages(), 2);
}

TEST_F(MultiLangBaseTest, ShrinkingAsksAndNoKeepsEverything) {
    Table({"A", "a0", "a1"});
    answers = {mrNo};
    ml->SetLanguages(1);
    EXPECT_EQ(ml->Languages(), 2);
    EXPECT_EQ(ml->Words().Count(), 3);
    // Dropping the shown language asks the other question and switches to 0.
    ml->SetActiveLanguage(1);
    events.clear();
    answers = {mrYes};
    ml->SetLanguages(1);
    EXPECT_EQ(dialogs.back().text, kDropActiveLanguageText);
    EXPECT_EQ(ml->ActiveLanguage(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"before 0", "after 0"}));
    EXPECT_EQ(ml->Words().ToVector(), (std::vector<std::string>{"A", "a0"}));
    // Zero languages are refused.
    ml->SetLanguages(0);
    EXPECT_EQ(dialogs.back().text, "You have to provide at least 1 language.");
    EXPECT_EQ(ml->Languages(), 1);
}

TEST_F(MultiLangBaseTest, WhileLoadingLanguagesShrinkWithoutQuestions) {
    ml->SetLoading(true);
    ml->SetLanguages(3);
    Table({"A", "a0", "a1", "a2"});
    ml->SetLanguages(1);
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(ml->Words().ToVector(), (std::vector<std::string>{"A", "a0"}));
}

TEST_F(MultiLangBaseTest, AfterShrinkingBelowTheActiveLanguageNothingIsReadOutsideRows) {
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Label1", "a", "b", "\"", "c", "d"});
    ml->SetActiveLanguage(1);
    ml->SetLoading(true);
    ml->SetLanguages(1);  // silently, ActiveLanguage stays 1
    ml->SetLoading(false);
    label->caption = "x";
    ml->SetDefaultEnabled(true);  // re-applies language 1 of a 1-language table
    EXPECT_EQ(dialogs.back().text, kOutOfRangeText);
    EXPECT_EQ(label->caption, "x");
}

// ---- positions ---------------------------------------------------------

TEST_F(MultiLangBaseTest, PositionsAreSavedPerLanguageAndApplied) {
    auto* label = new FakeLabel(&form, "Label1");
    label->left = 10;
    label->top = 20;
    label->width = 100;
    label->height = 25;
    Table({"Label1", "a", "b"});
    ml->SetSwitchPositions(SwitchPositions::spControlsOnly);
    ml->SavePositions(*label, false);
    EXPECT_EQ(ml->Positions().ToVector(), (std::vector<std::string>{"label1,10.20.100.25,10.20.100.25"}));
    ml->Positions().Assign({"label1,1.2.3.4,5.6.7.8", "label1,10.20.30.40,50.60.70.80"});
    ml->SetActiveLanguage(1);
    // The last entry counts; the outgoing language's slot got the position.
    EXPECT_EQ(label->left, 50);
    EXPECT_EQ(label->height, 80);
    EXPECT_EQ(ml->Positions().Get(1), "label1,10.20.100.25,50.60.70.80");
    // The form is left alone with spControlsOnly.
    EXPECT_EQ(form.left, 1);
}

TEST_F(MultiLangBaseTest, BrokenPositionEntriesApplyWhatIsValid) {
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Label1", "a", "b"});
    ml->SetSwitchPositions(SwitchPositions::spFormAndControls);
    ml->Positions().Assign({"label1,1.2.3.4,7.x", "%Form%,1.1.1.1"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(label->left, 7);
    EXPECT_EQ(label->top, 2);  // "x" is no number
    EXPECT_EQ(form.left, 1);   // no position for language 1: unchanged
}

TEST_F(MultiLangBaseTest, DroppingPositionsAsksOnlyWhenLanguagesDiffer) {
    ml->SetSwitchPositions(SwitchPositions::spFormAndControls);
    ml->Positions().Assign({"%Form%,1.2.3.4,1.2.3.4", "a,1.1.1.1,1.1.1.1"});
    ml->SetSwitchPositions(SwitchPositions::spNone);
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(ml->Positions().Count(), 0);

    ml->SetSwitchPositions(SwitchPositions::spFormAndControls);
    ml->Positions().Assign({"a,1.1.1.1,2.2.2.2"});
    answers = {mrNo};
    ml->SetSwitchPositions(SwitchPositions::spNone);
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].text, kDropPositionsText);
    EXPECT_EQ(dialogs[0].type, MsgDlgType::mtWarning);
    EXPECT_EQ(dialogs[1].text, "Cancelled.");
    EXPECT_EQ(ml->GetSwitchPositions(), SwitchPositions::spFormAndControls);
    EXPECT_EQ(ml->Positions().Count(), 1);

    dialogs.clear();
    ml->Positions().Assign({"a,1.1.1.1,2.2.2.2", "%Form%,1.2.3.4,5.6.7.8"});
    answers = {mrYes};
    ml->SetSwitchPositions(SwitchPositions::spControlsOnly);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, kDropFormPositionsText);
    EXPECT_EQ(ml->Positions().ToVector(), (std::vector<std::string>{"a,1.1.1.1,2.2.2.2"}));
    EXPECT_EQ(ml->GetSwitchPositions(), SwitchPositions::spControlsOnly);
}

// ---- registry, loading, module -----------------------------------------

TEST_F(MultiLangBaseTest, SetGlobalLanguageSwitchesInstancesThatHaveTheLanguage) {
    FakeForm other;
    auto* one = new TestMultiLang(&other);
    one->SetLoading(true);
    one->SetLanguages(1);
    one->SetLoading(false);
    auto* label = new FakeLabel(&form, "Label1");
    Table({"Label1", "en", "zh"});
    EXPECT_EQ(MultiLangRegistry().back(), one);
    SetGlobalLanguage(1);
    EXPECT_EQ(label->caption, "zh");
    EXPECT_EQ(one->ActiveLanguage(), 0);
    EXPECT_EQ(GlobalLanguage(), 1);
    EXPECT_TRUE(dialogs.empty());
    // A one-language instance loaded now shows the out-of-range box.
    one->Loaded();
    EXPECT_EQ(dialogs.back().text, kOutOfRangeText);
    // A two-language one switches to the global language on loading.
    FakeForm third;
    auto* late = new TestMultiLang(&third);
    auto* l3 = new FakeLabel(&third, "Label1");
    late->Words().Assign({"Label1", "en", "zh"});
    late->Loaded();
    EXPECT_EQ(l3->caption, "zh");
    SetGlobalLanguage(0);
    delete late;
    EXPECT_EQ(std::count(MultiLangRegistry().begin(), MultiLangRegistry().end(), late), 0);
}

TEST_F(MultiLangBaseTest, TableFromNumberedStrings) {
    auto* label = new FakeLabel(&form, "Label1");
    form.SetName("MainForm");
    std::map<unsigned, std::string> module = {
        {1000, "%C:\\app\\OtherForm"}, {1100, "xy"}, {1200, "$mainform"}, {1201, "%Form%"}, {1202, "Module caption"},
        {1203, "Label1"},              {1205, "Label2"},                  {1206, "never"},
    };
    auto lookup = [&](unsigned id) -> std::optional<std::string> {
        auto it = module.find(id);
        if (it == module.end()) return std::nullopt;
        return it->second;
    };
    ml->SetActiveLanguage(1);
    ASSERT_TRUE(ml->LoadTableFromStrings(lookup));
    // 1204 is absent: an empty text at a text position; 1205's key is kept
    // and 1206 its text; 1207 absent at a key position ends the table.
    EXPECT_EQ(ml->Words().ToVector(),
              (std::vector<std::string>{"%Form%", "Module caption", "Label1", "", "Label2", "never"}));
    EXPECT_EQ(ml->Languages(), 1);
    EXPECT_EQ(ml->ActiveLanguage(), 0);
    EXPECT_EQ(form.caption, "Module caption");
    EXPECT_EQ(label->caption, "");

    // Headers for another window only: nothing changes.
    module = {{1000, "%OtherForm"}, {1100, "$other"}};
    ml->Words().Assign({"keep"});
    EXPECT_FALSE(ml->LoadTableFromStrings(lookup));
    EXPECT_EQ(ml->Words().ToVector(), (std::vector<std::string>{"keep"}));
    // By class name, with a path before it.
    module = {{1000, "%D:\\forms\\FAKEFORM"}, {1001, "Label1"}, {1002, "by class"}};
    ASSERT_TRUE(ml->LoadTableFromStrings(lookup));
    EXPECT_EQ(label->caption, "by class");
}

TEST_F(MultiLangBaseTest, AMissingModuleFileLeavesOnlyItsName) {
    LanguageModuleName() = "/no/such/dir/texts.dll";
    ml->Loaded();
    EXPECT_EQ(LanguageModuleName(), "texts.dll");
    LanguageModuleName().clear();
}

}  // namespace
}  // namespace qv
