// The translation component's base: the table of texts per language for
// the window that owns it, the language switch (texts, window font,
// positions), the changes of the number of languages and of the position
// mode with their questions, and the process-wide registry with
// SetGlobalLanguage.
//
// The control-specific part (which texts a control takes from its rows) is
// MultiLang (multilang.h); this part is portable and reaches the owner and
// its components only through published properties by name.
//
// Robustness beyond the plain table walk: the walk always makes progress
// (a component whose handler fails or takes no row is passed by one row),
// no text is read outside its row (a truncated last row, an active or
// default language at or above Languages), and position entries with too
// few parts or non-numeric parts are applied as far as they are valid.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/string_list.h"
#include "i18n/text_rows.h"

namespace qv {

enum class SwitchPositions { spNone, spControlsOnly, spFormAndControls };
enum class TranslateEdits { teNever, teReadOnly, teAlways };

using BeforeLanguageChangeEvent = std::function<void(Object* Sender, uint8_t NewLanguage, bool& AllowIt)>;
using AfterLanguageChangedEvent = std::function<void(Object* Sender, uint8_t NewLanguage)>;
using IdNotFoundErrorEvent = std::function<void(Object* Sender, const std::string& id, std::string& Res)>;

// The texts of the questions and notices (CR separates lines).
inline const std::string kOutOfRangeText = "Value must not be higher than\rnumber of available languages.";
inline const std::string kNoLanguageText = "You have to provide at least 1 language.";
inline const std::string kDropActiveLanguageText =
    "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r"
    "The currently displayed language will be deleted, too.\r\rDo you really want to continue?";
inline const std::string kDropLanguageText =
    "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r\rContinue?";
inline const std::string kDropPositionsText =
    "You are going to drop the positions.\rCurrently different values are stored for each language,\r"
    "Do you want to drop these values?";
inline const std::string kDropFormPositionsText =
    "You are going to drop the positions for the form.\rCurrently different values are stored for each language.\r"
    "Do you want to drop these values?";
inline const std::string kCancelledText = "Cancelled.";

class BaseMultiLang : public Component {
public:
    explicit BaseMultiLang(Component* owner = nullptr);
    ~BaseMultiLang() override;

    // ---- published ----
    std::string About() const { return "3.76"; }
    void SetAbout(const std::string& v) { aboutSink_ = v.substr(0, 5); }
    BeforeLanguageChangeEvent BeforeLanguageChange;
    AfterLanguageChangedEvent AfterLanguageChanged;
    // Kept with the component; the switch never calls it.
    IdNotFoundErrorEvent IdNotFoundError;
    int DefaultLanguage() const { return defaultLanguage_; }
    void SetDefaultLanguage(int n);
    bool DefaultEnabled() const { return defaultEnabled_; }
    void SetDefaultEnabled(bool v);
    int Languages() const { return languages_; }
    void SetLanguages(int n);
    int ActiveLanguage() const { return activeLanguage_; }
    // The switch; also when n equals the current language (re-applies).
    void SetActiveLanguage(int n);
    StringList& Words() { return words_; }
    const StringList& Words() const { return words_; }
    StringList& DoNot() { return doNot_; }
    SwitchPositions GetSwitchPositions() const { return switchPositions_; }
    void SetSwitchPositions(SwitchPositions m);
    TranslateEdits GetTranslateEdits() const { return translateEdits_; }
    void SetTranslateEdits(TranslateEdits v) { translateEdits_ = v; }
    StringList& Positions() { return positions_; }
    StringList& CharSets() { return charSets_; }

    // ---- for the handlers ----
    bool ShouldTranslate(Component* component) const;
    // Takes the component's rows from `row` on and writes their texts into
    // it; leaves `row` at the first row after them (unchanged when it
    // raises). `row` must not be negative.
    virtual void ApplyTexts(Component* component, int& row) = 0;
    // Writes the component's current texts into the grid from `row` on.
    virtual void CollectTexts(Component* component, int row, TextGrid* grid) = 0;

    void Loaded() override;
    // Takes the whole table from the text module LanguageModuleName.
    virtual void LoadFromModule();

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }

protected:
    RowSettings Settings() const;
    RowCursor Cursor(int row) const { return RowCursor(words_, Settings(), row); }
    // Positions of one object (the owner when isForm) for the outgoing
    // language / applied for the incoming one.
    void SavePositions(Persistent& object, bool isForm);
    void ApplyPositions(Persistent& object, bool isForm);
    // The module's part that needs no platform: `lookup(id)` gives the text
    // of a numbered string, or nothing when the id is absent. True when a
    // header matched and the table was replaced.
    bool LoadTableFromStrings(const std::function<std::optional<std::string>(unsigned id)>& lookup);
    virtual bool LanguageModuleExists(const std::string& fileName) const;

private:
    void RememberFont();
    void ApplyFont();
    void WalkTable();
    int FindPositionEntry(const std::string& key) const;
    // The key of the object's position entry; empty when the position mode
    // leaves the object's positions alone.
    std::string PositionKey(Persistent& object, bool isForm) const;

    std::string aboutSink_;
    int defaultLanguage_ = 0;
    bool defaultEnabled_ = false;
    int languages_ = 2;
    int activeLanguage_ = 0;
    StringList words_;
    StringList doNot_;
    SwitchPositions switchPositions_ = SwitchPositions::spNone;
    TranslateEdits translateEdits_ = TranslateEdits::teReadOnly;
    StringList positions_;
    StringList charSets_;
};

// ---- process-wide state ----
// Every live instance, in creation order.
const std::vector<BaseMultiLang*>& MultiLangRegistry();
int GlobalLanguage();
// Switches every instance with more than n languages to n, in registry
// order; GlobalLanguage becomes n in any case.
void SetGlobalLanguage(int n);
// The optional text module (empty: none).
std::string& LanguageModuleName();

}  // namespace qv
