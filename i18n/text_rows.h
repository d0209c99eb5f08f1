// The rows of a translation table and the readers that take a control's
// texts out of them; the editing grid that CollectTexts writes into.
//
// A table (`Words`) is a flat list read in rows of Languages + 1 strings:
// a key, then one text per language. A component's rows start with its key
// row (its name); further text rows carry the continuation key (one double
// quote), a hint row the hint key (a double quote followed by ".Hint").
//
// RowCursor never reads a string outside the row it stands on: a row is
// taken only when the table holds the active language's string of that row
// and the active language lies inside the row; the fallback to the default
// language is used only when that language lies inside the row too.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/string_list.h"

namespace qv {

inline const std::string kFormKey = "%Form%";
inline const std::string kContinuationKey = "\"";
inline const std::string kHintKey = "\".Hint";

struct RowSettings {
    int languages = 2;
    int activeLanguage = 0;
    bool defaultEnabled = false;
    int defaultLanguage = 0;
};

class RowCursor {
public:
    RowCursor(const StringList& words, const RowSettings& settings, int row)
        : words_(words), s_(settings), r_(row) {}

    int Position() const { return r_; }
    bool AtEnd() const { return r_ >= words_.Count(); }
    // The key at the cursor is the continuation key.
    bool AtContinuation() const { return !AtEnd() && words_.Get(r_) == kContinuationKey; }
    // The row at the cursor can be taken.
    bool CanTake() const;
    // Takes the row's text for the active language (with the default
    // language's text instead of an empty one when enabled); moves on by one
    // row. False, and the cursor stays, when the row cannot be taken.
    bool TakeRow(std::string& text);
    // Takes a hint row: true only for a hint key whose row can be taken and
    // whose text is not empty. A hint row that can be taken is consumed
    // even when its text is empty.
    bool TakeHintRow(std::string& text);

    // The strings reader: the key row's text into item 0, continuation rows
    // into the following items; items left over become empty texts (the
    // list keeps its count). Nothing at all when the key row cannot be
    // taken or the list is empty.
    void ReadStrings(StringList& list);
    // The indexed reader: texts into items 0..count-1 (key row first, then
    // continuation rows) while rows can be taken.
    void ReadIndexed(int count, const std::function<void(int, const std::string&)>& set);
    // Continuation rows only (status panels after the simple text, list
    // view items after the columns): each taken row goes to set(index).
    void ReadContinuations(int count, const std::function<void(int, const std::string&)>& set);

private:
    const StringList& words_;
    RowSettings s_;
    int r_;
};

// A grid of text cells addressed by column and row; the row count grows.
class TextGrid {
public:
    TextGrid(int columns, int rows);
    int ColCount() const { return columns_; }
    int RowCount() const { return static_cast<int>(cells_.size()); }
    void SetRowCount(int rows);
    // Reading outside the grid gives an empty text; writing outside grows it.
    std::string Cell(int column, int row) const;
    void SetCell(int column, int row, const std::string& text);

private:
    int columns_;
    std::vector<std::vector<std::string>> cells_;
};

// Writes a component's texts as grid rows (CollectTexts): one row per text,
// keyed with the continuation key, the text in the active language's
// column (column language + 1).
class GridWriter {
public:
    GridWriter(TextGrid& grid, int row, int activeLanguage) : grid_(grid), next_(row), active_(activeLanguage) {}
    void AddRow(const std::string& text);
    void AddStrings(const StringList& list);
    int Next() const { return next_; }

private:
    TextGrid& grid_;
    int next_;
    int active_;
};

}  // namespace qv
