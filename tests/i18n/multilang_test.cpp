// MultiLang's handlers on real controls under Wine, CollectTexts, the
// message boxes through the application, and the text module (a resource
// DLL the build makes beside this test).
#include "i18n/multilang.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "framework/application.h"
#include "framework/common_controls.h"
#include "framework/control_classes.h"
#include "framework/file_dialogs.h"
#include "framework/form.h"
#include "framework/menus.h"
#include "framework/win32_text.h"

namespace qv {
namespace {

class TransWindow : public Form {
public:
    using Form::Form;
    std::string ClassName() const override { return "TransWindow"; }
};

class MultiLangTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application::Instance().Initialize();
        RegisterControlClasses();
        RegisterMultiLangClasses();
    }
    void SetUp() override {
        boxes.clear();
        Application::Instance().OnMessageBox = [this](HWND, const std::string& text, const std::string&, UINT flags) {
            boxes.emplace_back(text, flags);
            return IDOK;
        };
        window = std::make_unique<TransWindow>();
        window->HandleNeeded();
    }
    void TearDown() override { Application::Instance().OnMessageBox = nullptr; }
    // Reads the controls, then a MultiLang with the table, switches to 1.
    MultiLang* Load(const std::string& controls, const std::vector<std::string>& words) {
        ReadForm(*window, "TransWindow W {\n" + controls + "\n MultiLang ML { }\n}", window->Handlers(), "t");
        auto* ml = dynamic_cast<MultiLang*>(window->FindComponent("ML"));
        ml->Words().Assign(words);
        ml->SetActiveLanguage(1);
        return ml;
    }
    template <class T>
    T* Get(const char* name) {
        return dynamic_cast<T*>(window->FindComponent(name));
    }
    std::unique_ptr<TransWindow> window;
    std::vector<std::pair<std::string, UINT>> boxes;
};

TEST_F(MultiLangTest, ListBoxItemsArePaddedAndExtraRowsAreLeft) {
    Load(R"(ListBox L5 { Left = 0 Top = 0 Width = 90 Height = 90 Items = ["1", "2", "3", "4", "5"] }
            ListBox L2 { Left = 100 Top = 0 Width = 90 Height = 90 Items = ["1", "2"] }
            Label After { Left = 0 Top = 100 Caption = "x" })",
         {"L5", "", "a", "\"", "", "b", "\"", "", "c",                        //
          "L2", "", "p", "\"", "", "q", "\"", "", "r", "\"", "", "s",        //
          "After", "", "done"});
    EXPECT_EQ(Get<ListBox>("L5")->Items().ToVector(), (std::vector<std::string>{"a", "b", "c", "", ""}));
    EXPECT_EQ(SendMessageW(Get<ListBox>("L5")->Handle(), LB_GETCOUNT, 0, 0), 5);
    EXPECT_EQ(Get<ListBox>("L2")->Items().ToVector(), (std::vector<std::string>{"p", "q"}));
    EXPECT_EQ(Get<Label>("After")->Caption(), "done");
}

TEST_F(MultiLangTest, ComboBoxKeepsItsSelection) {
    Load(R"(ComboBox C { Left = 0 Top = 0 Width = 90 Height = 21 Style = csDropDownList Items = ["a", "b", "c"] ItemIndex = 2 })",
         {"C", "", "A", "\"", "", "B", "\"", "", "C"});
    auto* c = Get<ComboBox>("C");
    EXPECT_EQ(c->Items().ToVector(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(c->ItemIndex(), 2);
    EXPECT_EQ(c->GetText(), "C");
}

TEST_F(MultiLangTest, StatusBarTakesSimpleTextThenPanels) {
    Load(R"(StatusBar StatusBar1 { Left = 0 Top = 0 Width = 300 Height = 19 SimplePanel = false Panels = ["p0", "p1", "p2"] })",
         {"StatusBar1", "", "simple", "\"", "", "zero", "\"", "", "one"});
    auto* s = Get<StatusBar>("StatusBar1");
    EXPECT_EQ(s->SimpleText(), "simple");
    EXPECT_EQ(s->Panels().ToVector(), (std::vector<std::string>{"zero", "one", "p2"}));
    wchar_t buf[64] = {};
    SendMessageW(s->Handle(), SB_GETTEXTW, 1, reinterpret_cast<LPARAM>(buf));
    EXPECT_EQ(FromWide(buf), "one");
}

TEST_F(MultiLangTest, HeaderSectionsEndingAtTheTablesEnd) {
    Load(R"(Label First { Left = 0 Top = 40 Caption = "f" }
            HeaderControl H { Left = 0 Top = 0 Width = 300 Height = 20 Sections = ["a", "b", "c"] })",
         {"First", "", "F", "H", "", "A", "\"", "", "B"});
    auto* h = Get<HeaderControl>("H");
    EXPECT_EQ(h->Sections().ToVector(), (std::vector<std::string>{"A", "B", "c"}));
    EXPECT_EQ(Get<Label>("First")->Caption(), "F");
}

TEST_F(MultiLangTest, ActionButtonsKeepTheirCaptionButTakeHints) {
    Load(R"(Action A { Caption = "Act" }
            Button B { Left = 0 Top = 0 Width = 80 Height = 25 Action = A Hint = "old" }
            Label L { Left = 0 Top = 40 Caption = "l" })",
         {"B", "", "Translated", "\".Hint", "", "new hint", "L", "", "LL"});
    EXPECT_EQ(Get<Button>("B")->Caption(), "Act");
    EXPECT_EQ(Get<Button>("B")->Hint(), "new hint");
    EXPECT_EQ(Get<Label>("L")->Caption(), "LL");
}

TEST_F(MultiLangTest, EditableEditsKeepTheirTextAndTheWalkGoesOn) {
    Load(R"(Edit E { Left = 0 Top = 0 Width = 80 Height = 20 Text = "typed" }
            Edit R { Left = 0 Top = 30 Width = 80 Height = 20 Text = "ro" ReadOnly = true }
            Memo M { Left = 0 Top = 60 Width = 80 Height = 60 ReadOnly = true Lines = ["m1", "m2"] }
            Label L { Left = 100 Top = 0 Caption = "l" })",
         {"E", "", "E!", "R", "", "R!", "M", "", "M1", "L", "", "L!"});
    EXPECT_EQ(Get<Edit>("E")->GetText(), "typed");
    EXPECT_EQ(Get<Edit>("R")->GetText(), "R!");
    EXPECT_EQ(Get<Memo>("M")->Lines().ToVector(), (std::vector<std::string>{"M1", ""}));
    EXPECT_EQ(Get<Label>("L")->Caption(), "L!");
}

TEST_F(MultiLangTest, EmptyTextsAndTheDefaultLanguage) {
    auto* ml = Load(R"(Label L { Left = 0 Top = 0 Caption = "x" })", {"L", "English", ""});
    EXPECT_EQ(Get<Label>("L")->Caption(), "");
    ml->SetDefaultEnabled(true);
    EXPECT_EQ(Get<Label>("L")->Caption(), "English");
}

TEST_F(MultiLangTest, TreeAndListViewsKeepTheirSorting) {
    Load(R"(TreeView T { Left = 0 Top = 0 Width = 150 Height = 100 }
            ListView V { Left = 160 Top = 0 Width = 200 Height = 100 })",
         {});
    auto* t = Get<TreeView>("T");
    t->AddNode(-1, "b");
    t->AddNode(-1, "a");
    t->SetSortType(SortType::stText);
    auto* v = Get<ListView>("V");
    v->AddColumn("c1");
    v->AddColumn("c2");
    v->AddItem("i1");
    v->SubItems(0).Add("s1");
    auto* ml = Get<MultiLang>("ML");
    // Node 0 ("b") becomes "z", node 1 ("a") becomes "y": sorted again.
    ml->Words().Assign({"T", "", "z", "\"", "", "y", "V", "", "C1", "\"", "", "C2", "\"", "", "I1", "\"", "", "S1"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(t->NodeText(0), "z");
    EXPECT_EQ(t->ShownChildren(), (std::vector<std::string>{"y", "z"}));
    EXPECT_EQ(t->GetSortType(), SortType::stText);
    EXPECT_EQ(v->ColumnCaption(0), "C1");
    EXPECT_EQ(v->ColumnCaption(1), "C2");
    EXPECT_EQ(v->ItemCaption(0), "I1");
    EXPECT_EQ(v->CellText(0, 1), "S1");
}

TEST_F(MultiLangTest, GroupsTabsMenusDialogsAndOwnedForms) {
    Load(R"(RadioGroup G { Left = 0 Top = 0 Width = 100 Height = 80 Caption = "g" Items = ["a", "b"] }
            TabControl T { Left = 110 Top = 0 Width = 150 Height = 40 Tabs = ["t1", "t2"] }
            MainMenu MM { MenuItem File { Caption = "File" } }
            OpenDialog O { }
            SaveDialog S { })",
         {"G", "", "Group", "\"", "", "A", "\"", "", "B", "T", "", "T1", "\"", "", "T2", "File", "", "F&ile",
          "O", "", "Open", "\"", "", "Text|*.txt", "S", "", "Save", "\"", "", "All|*.*"});
    EXPECT_EQ(Get<RadioGroup>("G")->Caption(), "Group");
    EXPECT_EQ(Get<RadioGroup>("G")->Items().ToVector(), (std::vector<std::string>{"A", "B"}));
    wchar_t buf[64] = {};
    GetWindowTextW(Get<RadioGroup>("G")->Buttons()[1], buf, 63);
    EXPECT_EQ(FromWide(buf), "B");
    EXPECT_EQ(Get<TabControl>("T")->Tabs().ToVector(), (std::vector<std::string>{"T1", "T2"}));
    EXPECT_EQ(Get<MenuItem>("File")->MenuText(), "F&ile");
    EXPECT_EQ(Get<OpenDialog>("O")->Title(), "Open");
    EXPECT_EQ(Get<OpenDialog>("O")->Filter(), "Text|*.txt");
    EXPECT_EQ(Get<SaveDialog>("S")->Filter(), "All|*.*");
    // A window owned by the window takes its caption from its row.
    auto* inner = new TransWindow(window.get());
    inner->SetName("Inner");
    auto* ml = Get<MultiLang>("ML");
    ml->Words().Assign({"%Form%", "", "Outer", "Inner", "", "Inner caption"});
    ml->SetActiveLanguage(1);
    EXPECT_EQ(window->Caption(), "Outer");
    EXPECT_EQ(inner->Caption(), "Inner caption");
}

TEST_F(MultiLangTest, CollectTextsWritesRowsInTakingOrder) {
    auto* ml = Load(R"(Button btnCancel { Left = 0 Top = 0 Width = 80 Height = 25 Caption = "Cancel" }
                       Button Tipped { Left = 0 Top = 30 Width = 80 Height = 25 Caption = "Go" Hint = "tip" }
                       Edit E { Left = 0 Top = 60 Width = 80 Height = 20 Hint = "edit tip" })",
                    {});
    ml->SetActiveLanguage(0);
    TextGrid grid(3, 1);
    ml->CollectTexts(Get<Button>("btnCancel"), 0, &grid);
    EXPECT_EQ(grid.Cell(0, 0), "btnCancel");
    EXPECT_EQ(grid.Cell(1, 0), "Cancel");
    EXPECT_EQ(grid.RowCount(), 2);
    ml->CollectTexts(Get<Button>("Tipped"), 1, &grid);
    EXPECT_EQ(grid.Cell(0, 1), "Tipped");
    EXPECT_EQ(grid.Cell(1, 1), "Go");
    EXPECT_EQ(grid.Cell(0, 2), "\".Hint");
    EXPECT_EQ(grid.Cell(1, 2), "tip");
    // An editable edit gives no text, only a key row and its hint.
    ml->CollectTexts(Get<Edit>("E"), 3, &grid);
    EXPECT_EQ(grid.Cell(0, 3), "E");
    EXPECT_EQ(grid.Cell(1, 3), "");
    EXPECT_EQ(grid.Cell(0, 4), "\".Hint");
    EXPECT_EQ(grid.Cell(1, 4), "edit tip");
    EXPECT_THROW(ml->CollectTexts(Get<Edit>("E"), 0, nullptr), Exception);
}

TEST_F(MultiLangTest, QuestionsAreMessageBoxesOfTheApplication) {
    auto* ml = Load("", {});
    boxes.clear();
    ml->SetActiveLanguage(5);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Value must not be higher than\rnumber of available languages.");
    EXPECT_TRUE(boxes[0].second & MB_ICONINFORMATION);
}

// ---- the text module --------------------------------------------------

std::string ModulePath(const char* name) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string path = FromWide(exe);
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

TEST_F(MultiLangTest, TheWholeTableComesFromTheTextModule) {
    LanguageModuleName() = ModulePath("qv_text_module.dll");
    window->SetName("TransWindow1");
    ReadForm(*window, "TransWindow TransWindow1 {\n Label Label1 { Left = 0 Top = 0 Caption = \"x\" }\n"
                      " MultiLang ML { Words = [\"Label1\", \"a\", \"b\"] }\n}", window->Handlers(), "t");
    LanguageModuleName().clear();
    auto* ml = Get<MultiLang>("ML");
    EXPECT_EQ(ml->Languages(), 1);
    EXPECT_EQ(ml->Words().ToVector(),
              (std::vector<std::string>{"%Form%", "Module window", "Label1", "\xa8\xfa\xae\xf8", "Label2", ""}));
    EXPECT_EQ(window->Caption(), "Module window");
    // The module's text is Big5 "取消" once converted back from UTF-16.
    EXPECT_EQ(Get<Label>("Label1")->Caption(), "\xa8\xfa\xae\xf8");
}

TEST_F(MultiLangTest, AModuleThatIsNoLibraryRaisesOutOfLoaded) {
    std::string path = ModulePath("not_a_module.dll");
    HANDLE f = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, "text", 4, &written, nullptr);
    CloseHandle(f);
    LanguageModuleName() = path;
    try {
        ReadForm(*window, "TransWindow W { MultiLang ML { } }", window->Handlers(), "t");
        ADD_FAILURE() << "no error";
    } catch (const EFormError& e) {
        EXPECT_NE(e.Message().find("Cannot load string DLL \"" + path + "\"."), std::string::npos) << e.Message();
    }
    LanguageModuleName().clear();
    DeleteFileW(ToWide(path).c_str());
}

}  // namespace
}  // namespace qv
