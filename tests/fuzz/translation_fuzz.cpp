// The translation component's table walk: a table of rows (a key, then one
// text per language) applied to a window's components on every language
// switch, with the settings changed in any order in between.
//
// Invariants:
//  - the walk visits the key rows the plain walk visits, in order, and
//    always moves forward (past the rows a component took, or past its key
//    row);
//  - every text a component or the window receives is the text of a row
//    the reader stood on, in the active language's column, or in the
//    default language's column when that is enabled and the active text is
//    empty; never a text of another row or outside the table;
//  - a switch raises nothing but the conversion error of a character set
//    that is no number.
#include <string>
#include <vector>

#include "framework/dialogs.h"
#include "framework/exception.h"
#include "framework/properties.h"
#include "framework/string_list.h"
#include "framework/text.h"
#include "fuzz_support.h"
#include "i18n/multilang_base.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;

class Font : public qv::Persistent {
public:
    std::string name = "Arial";
    int charset = 0;
    std::string Name() const { return name; }
    void SetName(const std::string& v) { name = v; }
    int CharSet() const { return charset; }
    void SetCharSet(int v) { charset = v; }
    static const qv::PropertyTable& StaticProperties() {
        static const qv::PropertyTable t(&qv::Persistent::StaticProperties(), {
            qv::StringProperty<Font>("Name", &Font::Name, &Font::SetName),
            qv::IntegerProperty<Font>("CharSet", &Font::CharSet, &Font::SetCharSet),
        });
        return t;
    }
    const qv::PropertyTable& Properties() const override { return StaticProperties(); }
};

// What every fake control has: texts, a hint, a position, a list.
class Control : public qv::Component {
public:
    Control(qv::Component* owner, int kind) : Component(owner), kind(kind) {}
    int kind;
    std::string caption, hint;
    bool readOnly = false;
    int left = 1, top = 2, width = 3, height = 4;
    qv::StringList lines;
    std::vector<std::string> indexed;
    Font font;
    std::string Caption() const { return caption; }
    void SetCaption(const std::string& v) { caption = v; }
    std::string Hint() const { return hint; }
    void SetHint(const std::string& v) { hint = v; }
    bool ReadOnly() const { return readOnly; }
    void SetReadOnly(bool v) { readOnly = v; }
    int Left() const { return left; }
    void SetLeft(int v) { left = v; }
    int Top() const { return top; }
    void SetTop(int v) { top = v; }
    int Width() const { return width; }
    void SetWidth(int v) { width = v; }
    int Height() const { return height; }
    void SetHeight(int v) { height = v; }
    qv::StringList& Lines() { return lines; }
    Font& GetFont() { return font; }
    static const qv::PropertyTable& StaticProperties() {
        static const qv::PropertyTable t(&qv::Component::StaticProperties(), {
            qv::StringProperty<Control>("Caption", &Control::Caption, &Control::SetCaption),
            qv::StringProperty<Control>("Hint", &Control::Hint, &Control::SetHint),
            qv::BooleanProperty<Control>("ReadOnly", &Control::ReadOnly, &Control::SetReadOnly),
            qv::IntegerProperty<Control>("Left", &Control::Left, &Control::SetLeft),
            qv::IntegerProperty<Control>("Top", &Control::Top, &Control::SetTop),
            qv::IntegerProperty<Control>("Width", &Control::Width, &Control::SetWidth),
            qv::IntegerProperty<Control>("Height", &Control::Height, &Control::SetHeight),
            qv::StringsProperty<Control>("Lines", &Control::Lines),
            qv::ObjectProperty<Control>("Font", &Control::GetFont),
        });
        return t;
    }
    const qv::PropertyTable& Properties() const override { return StaticProperties(); }
};

// Texts are "#<index in the table>"; a reader's text names where it came
// from, and the check below says whether it may have come from there.
class Checked {
public:
    Checked(const qv::StringList& words, const qv::BaseMultiLang& ml) : words_(words), ml_(ml) {}

    // `text` was taken from the row whose key is at `row`.
    void Taken(int row, const std::string& text) const {
        int languages = ml_.Languages(), active = ml_.ActiveLanguage();
        QV_FUZZ_CHECK(active >= 0 && active < languages, "a row taken for a language outside the rows");
        int at = row + active + 1;
        QV_FUZZ_CHECK(at < words_.Count(), "row " + std::to_string(row) + " read outside the table");
        QV_FUZZ_CHECK(row >= 0, "");
        if (text == words_.Get(at)) return;
        QV_FUZZ_CHECK(words_.Get(at).empty() && ml_.DefaultEnabled(), Show(text) + " is not row " + std::to_string(row) + "'s text");
        int d = row + ml_.DefaultLanguage() + 1;
        QV_FUZZ_CHECK(ml_.DefaultLanguage() < languages && d < words_.Count() && text == words_.Get(d),
                      Show(text) + " is not row " + std::to_string(row) + "'s default text");
    }

private:
    const qv::StringList& words_;
    const qv::BaseMultiLang& ml_;
};

class FuzzMultiLang : public qv::BaseMultiLang {
public:
    using BaseMultiLang::BaseMultiLang;
    std::vector<std::pair<int, int>> calls;  // (row given, row returned)

    void ApplyTexts(qv::Component* c, int& row) override {
        int start = row;
        ApplyPositions(*c, false);
        auto* control = dynamic_cast<Control*>(c);
        qv::RowCursor cursor = Cursor(row);
        Checked check(Words(), *this);
        std::string text;
        if (control) {
            switch (control->kind % 4) {
                case 0: {  // caption and hint
                    int at = cursor.Position();
                    if (ShouldTranslate(c) && cursor.TakeRow(text)) {
                        check.Taken(at, text);
                        control->caption = text;
                    }
                    at = cursor.Position();
                    if (cursor.TakeHintRow(text)) check.Taken(at, text);
                    break;
                }
                case 1: {  // a list of strings, padded
                    // Texts of an earlier switch would not be this one's.
                    for (int i = 0; i < control->lines.Count(); ++i) control->lines.Put(i, "old");
                    int at = cursor.Position();
                    cursor.ReadStrings(control->lines);
                    for (int i = 0; i < control->lines.Count(); ++i) {
                        const std::string& t = control->lines.Get(i);
                        if (!t.empty() && t[0] == '#') check.Taken(at + i * (Languages() + 1), t);
                    }
                    break;
                }
                case 2: {  // indexed texts
                    int at = cursor.Position();
                    cursor.ReadIndexed(static_cast<int>(control->indexed.size()), [&](int i, const std::string& t) {
                        check.Taken(at + i * (Languages() + 1), t);
                        control->indexed[static_cast<size_t>(i)] = t;
                    });
                    break;
                }
                case 3: {  // a key row, then continuation rows
                    int at = cursor.Position();
                    if (cursor.TakeRow(text)) check.Taken(at, text);
                    at = cursor.Position();
                    cursor.ReadContinuations(3, [&](int i, const std::string& t) {
                        check.Taken(at + i * (Languages() + 1), t);
                    });
                    break;
                }
            }
        }
        row = cursor.Position();
        calls.emplace_back(start, row);
    }
    void CollectTexts(qv::Component*, int, qv::TextGrid*) override {}
};

class Window : public Control {
public:
    using Control::Control;
};

// The walk as it should go, given where each component's reading ended.
void CheckWalk(const FuzzMultiLang& ml, const qv::Component& owner,
               const std::vector<std::pair<int, int>>& calls) {
    const qv::StringList& words = ml.Words();
    int step = ml.Languages() + 1;
    size_t next = 0;
    for (int i = 0; i < words.Count();) {
        const std::string key = words.Get(i);
        if (key != qv::kFormKey && owner.FindComponent(key)) {
            QV_FUZZ_CHECK(next < calls.size() && calls[next].first == i,
                          "the walk skipped the key row " + std::to_string(i));
            int returned = calls[next++].second;
            i = returned > i ? returned : i + step;
        } else {
            i += step;
        }
    }
    QV_FUZZ_CHECK(next == calls.size(), "the walk visited a row the table does not lead to");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    qv::SetMessageDlgHandler([](const std::string&, qv::MsgDlgType, unsigned) { return static_cast<int>(qv::mrNone); });

    Window window(nullptr, 0);
    window.SetName("Main");
    auto* ml = new FuzzMultiLang(&window);
    ml->SetName("MultiLang1");
    bool switched = false;
    ml->AfterLanguageChanged = [&switched](qv::Object*, uint8_t) { switched = true; };
    int components = in.Byte() % 6;
    for (int k = 0; k < components; ++k) {
        auto* c = new Control(&window, in.Byte());
        c->SetName("C" + std::to_string(k));
        c->readOnly = in.Bool();
        for (int i = in.Byte() % 4; i > 0; --i) c->lines.Add("old");
        c->indexed.resize(in.Byte() % 4);
    }

    // The table: keys, continuation and hint keys, and texts that say
    // where they stand.
    ml->SetLoading(true);
    ml->SetLanguages(static_cast<int>(in.Range(1, 4)));
    ml->SetLoading(false);
    std::vector<std::string> words;
    int count = in.Byte() % 64;
    for (int i = 0; i < count; ++i) {
        uint8_t w = in.Byte();
        switch (w % 8) {
            case 0: words.push_back("C" + std::to_string(w / 8 % 7)); break;
            case 1: words.push_back(qv::kFormKey); break;
            case 2: words.push_back(qv::kContinuationKey); break;
            case 3: words.push_back(w & 8 ? qv::kHintKey : "\".hint"); break;
            case 4: words.push_back(""); break;
            default: words.push_back("#" + std::to_string(i)); break;
        }
    }
    ml->Words().Assign(words);
    for (int i = in.Byte() % 4; i > 0; --i) ml->Positions().Add(in.Text());
    for (int i = in.Byte() % 3; i > 0; --i) ml->CharSets().Add(in.Text());

    while (!in.Empty()) {
        uint8_t op = in.Byte();
        ml->calls.clear();
        switched = false;
        std::string captionBefore = window.caption;
        try {
            switch (op % 6) {
                case 0: case 1: ml->SetActiveLanguage(static_cast<int>(in.Range(-1, 5))); break;
                case 2: ml->SetDefaultEnabled(in.Bool()); break;
                case 3: ml->SetDefaultLanguage(static_cast<int>(in.Range(0, 4))); break;
                case 4:  // languages change as a resource load would change them
                    ml->SetLoading(true);
                    ml->SetLanguages(static_cast<int>(in.Range(1, 4)));
                    ml->SetLoading(false);
                    continue;
                case 5:
                    ml->SetSwitchPositions(static_cast<qv::SwitchPositions>(in.Byte() % 3));
                    continue;
            }
        } catch (const qv::EConvertError&) {
            // A character set that is no number: raised after the switch.
            continue;
        }
        if (!switched) {  // refused: nothing walked
            QV_FUZZ_CHECK(ml->calls.empty(), "");
            continue;
        }
        CheckWalk(*ml, window, ml->calls);
        // The window's caption comes from a %Form% row, by the same rule.
        if (window.caption != captionBefore) {
            const qv::StringList& w = ml->Words();
            int a = ml->ActiveLanguage(), d = ml->DefaultLanguage(), step = ml->Languages() + 1;
            bool fromFormRow = false;
            for (int row = 0; row + a + 1 < w.Count() && !fromFormRow; row += step) {
                if (w.Get(row) != qv::kFormKey) continue;
                std::string text = w.Get(row + a + 1);
                if (text.empty() && ml->DefaultEnabled() && d < ml->Languages() && row + d + 1 < w.Count())
                    text = w.Get(row + d + 1);
                fromFormRow = text == window.caption;
            }
            QV_FUZZ_CHECK(fromFormRow, Show(window.caption));
        }
    }
    qv::SetMessageDlgHandler(nullptr);
    return 0;
}
