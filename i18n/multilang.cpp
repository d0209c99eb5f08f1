#include "i18n/multilang.h"

#include <windows.h>

#include "framework/common_controls.h"
#include "framework/controls.h"
#include "framework/file_dialogs.h"
#include "framework/files.h"
#include "framework/form.h"
#include "framework/form_reader.h"
#include "framework/menus.h"
#include "framework/properties.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// Sets a sort mode back however the update ends.
template <class View>
class SortSuspender {
public:
    explicit SortSuspender(View& view) : view_(view), old_(view.GetSortType()) { view_.SetSortType(SortType::stNone); }
    ~SortSuspender() {
        try {
            view_.SetSortType(old_);
        } catch (...) {
        }
    }

private:
    View& view_;
    SortType old_;
};

}  // namespace

void MultiLang::ApplyTexts(Component* component, int& row) {
    if (row < 0) throw Exception("ApplyTexts: negative row");
    if (!component) return;
    ApplyPositions(*component, false);
    RowCursor cursor = Cursor(row);
    if (ShouldTranslate(component)) ApplyKind(component, cursor);
    if (HasProperty(*component, "Hint", PropKind::String)) {
        if (cursor.Position() == row) {
            std::string keyRow;
            cursor.TakeRow(keyRow);
        }
        std::string hint;
        if (cursor.TakeHintRow(hint)) SetStrProp(*component, "Hint", hint);
    }
    row = cursor.Position();
}

void MultiLang::ApplyKind(Component* c, RowCursor& cursor) {
    std::string text;
    if (auto* list = dynamic_cast<ListBox*>(c)) {
        cursor.ReadStrings(list->Items());
    } else if (auto* form = dynamic_cast<Form*>(c)) {
        if (cursor.TakeRow(text)) form->SetCaption(text);
    } else if (auto* group = dynamic_cast<RadioGroup*>(c)) {
        if (cursor.TakeRow(text)) group->SetCaption(text);
        cursor.ReadStrings(group->Items());
    } else if (auto* memo = dynamic_cast<Memo*>(c)) {
        cursor.ReadStrings(memo->Lines());
    } else if (auto* tabs = dynamic_cast<TabControl*>(c)) {
        cursor.ReadStrings(tabs->Tabs());
    } else if (auto* tree = dynamic_cast<TreeView*>(c)) {
        SortSuspender<TreeView> suspend(*tree);
        cursor.ReadIndexed(tree->NodeCount(), [tree](int i, const std::string& t) { tree->SetNodeText(i, t); });
    } else if (auto* view = dynamic_cast<ListView*>(c)) {
        cursor.ReadIndexed(view->ColumnCount(), [view](int i, const std::string& t) { view->SetColumnCaption(i, t); });
        SortSuspender<ListView> suspend(*view);
        int count = view->ItemCount();
        for (int i = 0; i < count; ++i) {
            if (!cursor.CanTake() || !cursor.AtContinuation()) break;
            cursor.TakeRow(text);
            view->SetItemCaption(i, text);
            cursor.ReadStrings(view->SubItems(i));
        }
    } else if (auto* bar = dynamic_cast<StatusBar*>(c)) {
        if (cursor.TakeRow(text)) bar->SetSimpleText(text);
        cursor.ReadContinuations(bar->Panels().Count(), [bar](int i, const std::string& t) { bar->Panels().Put(i, t); });
    } else if (auto* header = dynamic_cast<HeaderControl*>(c)) {
        cursor.ReadIndexed(header->Sections().Count(), [header](int i, const std::string& t) { header->Sections().Put(i, t); });
    } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
        int index = combo->ItemIndex();
        cursor.ReadStrings(combo->Items());
        combo->SetItemIndex(index);
    } else if (auto* dialog = dynamic_cast<OpenDialog*>(c)) {
        if (cursor.TakeRow(text)) dialog->SetTitle(text);
        if (cursor.TakeRow(text)) dialog->SetFilter(text);
    } else if (auto* item = dynamic_cast<MenuItem*>(c)) {
        if (cursor.TakeRow(text)) item->SetCaption(text);
    } else {
        if (HasProperty(*c, "Caption", PropKind::String) && cursor.TakeRow(text)) SetStrProp(*c, "Caption", text);
        if (HasProperty(*c, "Text", PropKind::String) && cursor.TakeRow(text)) SetStrProp(*c, "Text", text);
    }
}

void MultiLang::CollectTexts(Component* component, int row, TextGrid* grid) {
    if (!grid) throw Exception("CollectTexts: no grid");
    if (!component) return;
    SavePositions(*component, false);
    GridWriter writer(*grid, row, ActiveLanguage());
    if (ShouldTranslate(component)) CollectKind(component, writer);
    if (HasProperty(*component, "Hint", PropKind::String)) {
        std::string hint = GetStrProp(*component, "Hint");
        if (!hint.empty()) {
            if (writer.Next() == row) writer.AddRow("");
            writer.AddRow(hint);
            grid->SetCell(0, writer.Next() - 1, kHintKey);
        }
    }
    if (writer.Next() != row) grid->SetCell(0, row, component->Name());
}

void MultiLang::CollectKind(Component* c, GridWriter& w) {
    if (auto* list = dynamic_cast<ListBox*>(c)) {
        w.AddStrings(list->Items());
    } else if (auto* form = dynamic_cast<Form*>(c)) {
        w.AddRow(form->Caption());
    } else if (auto* group = dynamic_cast<RadioGroup*>(c)) {
        w.AddRow(group->Caption());
        w.AddStrings(group->Items());
    } else if (auto* memo = dynamic_cast<Memo*>(c)) {
        w.AddStrings(memo->Lines());
    } else if (auto* tabs = dynamic_cast<TabControl*>(c)) {
        w.AddStrings(tabs->Tabs());
    } else if (auto* tree = dynamic_cast<TreeView*>(c)) {
        for (int i = 0; i < tree->NodeCount(); ++i) w.AddRow(tree->NodeText(i));
    } else if (auto* view = dynamic_cast<ListView*>(c)) {
        for (int i = 0; i < view->ColumnCount(); ++i) w.AddRow(view->ColumnCaption(i));
        for (int i = 0; i < view->ItemCount(); ++i) {
            w.AddRow(view->ItemCaption(i));
            w.AddStrings(view->SubItems(i));
        }
    } else if (auto* bar = dynamic_cast<StatusBar*>(c)) {
        w.AddRow(bar->SimpleText());
        w.AddStrings(bar->Panels());
    } else if (auto* header = dynamic_cast<HeaderControl*>(c)) {
        w.AddStrings(header->Sections());
    } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
        w.AddStrings(combo->Items());
    } else if (auto* dialog = dynamic_cast<OpenDialog*>(c)) {
        w.AddRow(dialog->Title());
        w.AddRow(dialog->Filter());
    } else if (auto* item = dynamic_cast<MenuItem*>(c)) {
        w.AddRow(item->Caption());
    } else {
        if (HasProperty(*c, "Caption", PropKind::String)) w.AddRow(GetStrProp(*c, "Caption"));
        if (HasProperty(*c, "Text", PropKind::String)) w.AddRow(GetStrProp(*c, "Text"));
    }
}

bool MultiLang::LanguageModuleExists(const std::string& fileName) const { return FileExistsAt(fileName); }

void MultiLang::LoadFromModule() {
    const std::string name = LanguageModuleName();
    HMODULE module = LoadLibraryW(ToWide(name).c_str());
    if (!module) throw Exception("Cannot load string DLL \"" + name + "\".");
    struct Unload {
        HMODULE m;
        ~Unload() { FreeLibrary(m); }
    } unload{module};
    LoadTableFromStrings([module](unsigned id) -> std::optional<std::string> {
        wchar_t buffer[300];
        int n = LoadStringW(module, id, buffer, 300);
        if (n <= 0) return std::nullopt;
        return FromWide(std::wstring_view(buffer, static_cast<size_t>(n)));
    });
}

void RegisterMultiLangClasses() { RegisterComponentClass<MultiLang>("MultiLang"); }

}  // namespace qv
