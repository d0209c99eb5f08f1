// MultiLang: the translation component that knows the framework's controls:
// which texts a control of each kind carries, in which order they stand in
// the table, and how they are written back (ApplyTexts) or collected into
// an editing grid (CollectTexts). Kinds are tested in a fixed order with
// class-membership tests (a derived class matches its base's line):
//   ListBox, Form (a window owned by the owner), RadioGroup, Memo,
//   TabControl, TreeView, ListView, StatusBar, HeaderControl, ComboBox,
//   OpenDialog (and SaveDialog), MenuItem, then any other component with a
//   published Caption and/or Text.
// Data-aware kinds do not exist in this framework and have no line.
#pragma once

#include "i18n/multilang_base.h"

namespace qv {

class MultiLang : public BaseMultiLang {
public:
    using BaseMultiLang::BaseMultiLang;

    void ApplyTexts(Component* component, int& row) override;
    void CollectTexts(Component* component, int row, TextGrid* grid) override;
    // Loads LanguageModuleName as a library and takes the table from its
    // numbered string resources.
    void LoadFromModule() override;

    std::string ClassName() const override { return "MultiLang"; }

protected:
    bool LanguageModuleExists(const std::string& fileName) const override;

private:
    void ApplyKind(Component* component, RowCursor& cursor);
    void CollectKind(Component* component, GridWriter& writer);
};

// Makes "MultiLang" known to form resources.
void RegisterMultiLangClasses();

}  // namespace qv
