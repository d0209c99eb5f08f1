#include "i18n/text_rows.h"

#include "framework/text.h"

namespace qv {

bool RowCursor::CanTake() const {
    // The active language must lie inside the row (Languages may have been
    // reduced below it) and its string must exist.
    if (r_ < 0 || s_.activeLanguage < 0 || s_.activeLanguage >= s_.languages) return false;
    return words_.Count() > r_ + s_.activeLanguage + 1;
}

bool RowCursor::TakeRow(std::string& text) {
    if (!CanTake()) return false;
    text = words_.Get(r_ + s_.activeLanguage + 1);
    if (text.empty() && s_.defaultEnabled && s_.defaultLanguage >= 0 && s_.defaultLanguage < s_.languages &&
        words_.Count() > r_ + s_.defaultLanguage + 1)
        text = words_.Get(r_ + s_.defaultLanguage + 1);
    r_ += s_.languages + 1;
    return true;
}

bool RowCursor::TakeHintRow(std::string& text) {
    if (AtEnd() || !SameText(words_.Get(r_), kHintKey)) return false;
    std::string t;
    if (!TakeRow(t) || t.empty()) return false;
    text = t;
    return true;
}

void RowCursor::ReadStrings(StringList& list) {
    if (!CanTake() || list.Count() == 0) return;
    int i = 0;
    for (;;) {
        std::string text;
        if (TakeRow(text)) list.Put(i, text);
        ++i;
        if (AtEnd() || !AtContinuation() || i >= list.Count()) break;
    }
    for (; i < list.Count(); ++i) list.Put(i, "");
}

void RowCursor::ReadIndexed(int count, const std::function<void(int, const std::string&)>& set) {
    int index = 0;
    while (CanTake() && index < count) {
        std::string text;
        if (TakeRow(text)) set(index, text);
        ++index;
        if (AtEnd() || !AtContinuation()) break;
    }
}

void RowCursor::ReadContinuations(int count, const std::function<void(int, const std::string&)>& set) {
    for (int index = 0; index < count; ++index) {
        if (!CanTake() || !AtContinuation()) break;
        std::string text;
        TakeRow(text);
        set(index, text);
    }
}

TextGrid::TextGrid(int columns, int rows) : columns_(columns < 1 ? 1 : columns) { SetRowCount(rows); }

void TextGrid::SetRowCount(int rows) {
    if (rows < 0) rows = 0;
    cells_.resize(static_cast<size_t>(rows), std::vector<std::string>(static_cast<size_t>(columns_)));
}

std::string TextGrid::Cell(int column, int row) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return {};
    return cells_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void TextGrid::SetCell(int column, int row, const std::string& text) {
    if (row < 0 || column < 0) return;
    if (column >= columns_) {
        columns_ = column + 1;
        for (auto& r : cells_) r.resize(static_cast<size_t>(columns_));
    }
    if (row >= RowCount()) SetRowCount(row + 1);
    cells_[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
}

void GridWriter::AddRow(const std::string& text) {
    grid_.SetCell(0, next_, kContinuationKey);
    grid_.SetCell(active_ + 1, next_, text);
    ++next_;
    // One more row, empty, at the end of the grid.
    grid_.SetRowCount(grid_.RowCount() + 1);
}

void GridWriter::AddStrings(const StringList& list) {
    for (int i = 0; i < list.Count(); ++i) AddRow(list.Get(i));
}

}  // namespace qv
