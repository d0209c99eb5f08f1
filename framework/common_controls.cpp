#include "framework/common_controls.h"

#include <algorithm>

#include "framework/scaling_core.h"
#include "framework/text.h"
#include "framework/win32_text.h"

namespace qv {

namespace {
[[noreturn]] void NoWindow(const Control& c) {
    throw Exception("Control " + c.Name() + " has no parent window");
}
}  // namespace

// ======================================================================
// TabControl
// ======================================================================
TabControl::TabControl(Component* owner) : Control(owner), tabs_(*this) { SetTabStop(true); }

Control::CreateParams TabControl::GetCreateParams() const { return {WC_TABCONTROLW, 0, 0}; }

void TabControl::HandleCreated() {
    tabs_.Flush();
    if (tabIndex_ >= 0) TabCtrl_SetCurSel(hwnd_, tabIndex_);
}

int TabControl::TabIndex() const { return hwnd_ ? TabCtrl_GetCurSel(hwnd_) : tabIndex_; }

void TabControl::SetTabIndex(int v) {
    tabIndex_ = v;
    if (hwnd_) TabCtrl_SetCurSel(hwnd_, v);
}

int TabItems::Count() const {
    HWND h = control_.Handle();
    return h ? TabCtrl_GetItemCount(h) : StringList::Count();
}

std::string TabItems::Get(int index) const {
    HWND h = control_.Handle();
    if (!h) return StringList::Get(index);
    CheckIndex(index, Count());
    wchar_t buf[512] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = buf;
    item.cchTextMax = 511;
    SendMessageW(h, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return FromWide(item.pszText ? item.pszText : L"");
}

void TabItems::Put(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Put(index, s);
    CheckIndex(index, Count());
    std::wstring text = ToWide(s);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(h, TCM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    Changed();
}

void TabItems::Insert(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Insert(index, s);
    CheckIndex(index, Count() + 1);
    std::wstring text = ToWide(s);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(h, TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    Changed();
}

void TabItems::Delete(int index) {
    HWND h = control_.Handle();
    if (!h) return StringList::Delete(index);
    CheckIndex(index, Count());
    TabCtrl_DeleteItem(h, index);
    Changed();
}

void TabItems::Clear() {
    HWND h = control_.Handle();
    if (!h) return StringList::Clear();
    TabCtrl_DeleteAllItems(h);
    Changed();
}

void TabItems::Flush() {
    std::vector<std::string> pending;
    for (int i = 0; i < StringList::Count(); ++i) pending.push_back(StringList::Get(i));
    while (StringList::Count() > 0) StringList::Delete(StringList::Count() - 1);
    for (const auto& s : pending) Insert(Count(), s);
}

const PropertyTable& TabControl::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringsProperty<TabControl>("Tabs", &TabControl::Tabs),
        IntegerProperty<TabControl>("TabIndex", &TabControl::TabIndex, &TabControl::SetTabIndex),
    });
    return table;
}

// ======================================================================
// HeaderControl
// ======================================================================
HeaderControl::HeaderControl(Component* owner) : Control(owner), sections_(*this) {}

Control::CreateParams HeaderControl::GetCreateParams() const { return {WC_HEADERW, HDS_HORZ | HDS_BUTTONS, 0}; }

void HeaderControl::HandleCreated() { sections_.Flush(); }

void HeaderControl::ScaleChanged(int oldDpi) {
    Control::ScaleChanged(oldDpi);
    // Sections keep the widths they have (the user may have dragged them),
    // at the new scale.
    if (!hwnd_) return;
    for (int i = 0; i < Header_GetItemCount(hwnd_); ++i) {
        HDITEMW item{};
        item.mask = HDI_WIDTH;
        if (!SendMessageW(hwnd_, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item))) continue;
        item.cxy = ScaleValue(item.cxy, CurrentDpi(), oldDpi);
        SendMessageW(hwnd_, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
}

int HeaderSections::Count() const {
    HWND h = control_.Handle();
    return h ? Header_GetItemCount(h) : StringList::Count();
}

std::string HeaderSections::Get(int index) const {
    HWND h = control_.Handle();
    if (!h) return StringList::Get(index);
    CheckIndex(index, Count());
    wchar_t buf[512] = {};
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = buf;
    item.cchTextMax = 511;
    SendMessageW(h, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return FromWide(item.pszText ? item.pszText : L"");
}

void HeaderSections::Put(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Put(index, s);
    CheckIndex(index, Count());
    std::wstring text = ToWide(s);
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = text.data();
    SendMessageW(h, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    Changed();
}

void HeaderSections::Insert(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Insert(index, s);
    CheckIndex(index, Count() + 1);
    std::wstring text = ToWide(s);
    HDITEMW item{};
    item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
    item.pszText = text.data();
    item.cxy = control_.ScaleToDevice(control_.sectionWidth_);
    item.fmt = HDF_LEFT | HDF_STRING;
    SendMessageW(h, HDM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    Changed();
}

void HeaderSections::Delete(int index) {
    HWND h = control_.Handle();
    if (!h) return StringList::Delete(index);
    CheckIndex(index, Count());
    Header_DeleteItem(h, index);
    Changed();
}

void HeaderSections::Clear() {
    HWND h = control_.Handle();
    if (!h) return StringList::Clear();
    while (Header_GetItemCount(h) > 0) Header_DeleteItem(h, 0);
    Changed();
}

void HeaderSections::Flush() {
    std::vector<std::string> pending;
    for (int i = 0; i < StringList::Count(); ++i) pending.push_back(StringList::Get(i));
    while (StringList::Count() > 0) StringList::Delete(StringList::Count() - 1);
    for (const auto& s : pending) Insert(Count(), s);
}

const PropertyTable& HeaderControl::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        IntegerProperty<HeaderControl>("SectionWidth", &HeaderControl::SectionWidth, &HeaderControl::SetSectionWidth),
        StringsProperty<HeaderControl>("Sections", &HeaderControl::Sections),
    });
    return table;
}

// ======================================================================
// TreeView
// ======================================================================
TreeView::TreeView(Component* owner) : Control(owner) { SetTabStop(true); }

Control::CreateParams TreeView::GetCreateParams() const {
    return {WC_TREEVIEWW, TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE};
}

void TreeView::HandleDestroying() { nodes_.clear(); }

HTREEITEM TreeView::Node(int index) const {
    if (index < 0 || index >= NodeCount()) throw Exception("Tree node index out of bounds (" + IntToStr(index) + ")");
    return nodes_[static_cast<size_t>(index)];
}

int TreeView::AddNode(int parent, const std::string& text) {
    if (!hwnd_) NoWindow(*this);
    HTREEITEM parentItem = parent < 0 ? TVI_ROOT : Node(parent);
    std::wstring w = ToWide(text);
    TVINSERTSTRUCTW ins{};
    ins.hParent = parentItem;
    ins.hInsertAfter = sortType_ == SortType::stText ? TVI_SORT : TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = w.data();
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(hwnd_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (!item) throw Exception("Cannot add a node to " + Name());
    nodes_.push_back(item);
    return NodeCount() - 1;
}

std::string TreeView::NodeText(int index) const {
    HTREEITEM node = Node(index);
    wchar_t buf[512] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = buf;
    item.cchTextMax = 511;
    SendMessageW(hwnd_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return FromWide(buf);
}

void TreeView::SetNodeText(int index, const std::string& text) {
    HTREEITEM node = Node(index);
    std::wstring w = ToWide(text);
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = w.data();
    SendMessageW(hwnd_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (sortType_ == SortType::stText) SortAll();
}

std::vector<std::string> TreeView::ShownChildren(int parent) const {
    std::vector<std::string> texts;
    if (!hwnd_) return texts;
    HTREEITEM p = parent < 0 ? TVI_ROOT : Node(parent);
    auto child = reinterpret_cast<HTREEITEM>(
        SendMessageW(hwnd_, TVM_GETNEXTITEM, p == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD, reinterpret_cast<LPARAM>(p == TVI_ROOT ? nullptr : p)));
    while (child) {
        wchar_t buf[512] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = child;
        item.pszText = buf;
        item.cchTextMax = 511;
        SendMessageW(hwnd_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        texts.push_back(FromWide(buf));
        child = reinterpret_cast<HTREEITEM>(SendMessageW(hwnd_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
    }
    return texts;
}

void TreeView::SortAll() {
    if (!hwnd_) return;
    SendMessageW(hwnd_, TVM_SORTCHILDREN, TRUE, reinterpret_cast<LPARAM>(TVI_ROOT));
    for (HTREEITEM n : nodes_) SendMessageW(hwnd_, TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(n));
}

void TreeView::SetSortType(SortType v) {
    if (v == sortType_) return;
    sortType_ = v;
    if (v == SortType::stText) SortAll();
}

const PropertyTable& TreeView::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        EnumProperty<TreeView, SortType>("SortType", {"stNone", "stText"}, &TreeView::GetSortType, &TreeView::SetSortType),
    });
    return table;
}

// ======================================================================
// ListView
// ======================================================================
ListView::ListView(Component* owner) : Control(owner) { SetTabStop(true); }

ListView::~ListView() { DestroyHandle(); }

Control::CreateParams ListView::GetCreateParams() const {
    return {WC_LISTVIEWW, LVS_REPORT | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE};
}

void ListView::HandleDestroying() {
    items_.clear();
    columnCount_ = 0;
}

void ListView::ScaleChanged(int oldDpi) {
    Control::ScaleChanged(oldDpi);
    // Columns keep the widths they have, at the new scale.
    if (!hwnd_) return;
    for (int i = 0; i < columnCount_; ++i) {
        int width = static_cast<int>(SendMessageW(hwnd_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
        SendMessageW(hwnd_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i), ScaleValue(width, CurrentDpi(), oldDpi));
    }
}

void ListView::RequireHandle() const {
    if (!hwnd_) NoWindow(*this);
}

int ListView::AddColumn(const std::string& caption, int width) {
    RequireHandle();
    std::wstring w = ToWide(caption);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = w.data();
    col.cx = ScaleToDevice(width);
    col.iSubItem = columnCount_;
    if (SendMessageW(hwnd_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(columnCount_), reinterpret_cast<LPARAM>(&col)) < 0)
        throw Exception("Cannot add a column to " + Name());
    return columnCount_++;
}

std::string ListView::ColumnCaption(int index) const {
    RequireHandle();
    if (index < 0 || index >= columnCount_) throw Exception("Column index out of bounds (" + IntToStr(index) + ")");
    wchar_t buf[512] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = buf;
    col.cchTextMax = 511;
    SendMessageW(hwnd_, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
    return FromWide(buf);
}

void ListView::SetColumnCaption(int index, const std::string& caption) {
    RequireHandle();
    if (index < 0 || index >= columnCount_) throw Exception("Column index out of bounds (" + IntToStr(index) + ")");
    std::wstring w = ToWide(caption);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = w.data();
    SendMessageW(hwnd_, LVM_SETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
}

int ListView::ItemCount() const { return hwnd_ ? static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)) : 0; }

int ListView::AddItem(const std::string& caption) {
    RequireHandle();
    LPARAM id = nextId_++;
    std::wstring w = ToWide(caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ItemCount();
    item.pszText = w.data();
    item.lParam = id;
    int pos = static_cast<int>(SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (pos < 0) throw Exception("Cannot add an item to " + Name());
    items_.push_back({id, std::make_unique<ListSubItems>(*this, id)});
    if (sortType_ == SortType::stText) Sort();
    return PositionOf(id);
}

LPARAM ListView::IdAt(int index) const {
    RequireHandle();
    if (index < 0 || index >= ItemCount()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageW(hwnd_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

int ListView::PositionOf(LPARAM id) const {
    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = id;
    return static_cast<int>(SendMessageW(hwnd_, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

std::string ListView::CellText(int index, int column) const {
    RequireHandle();
    wchar_t buf[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = 511;
    SendMessageW(hwnd_, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return FromWide(buf);
}

std::string ListView::ItemCaption(int index) const {
    IdAt(index);
    return CellText(index, 0);
}

void ListView::SetItemCaption(int index, const std::string& caption) {
    IdAt(index);
    std::wstring w = ToWide(caption);
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = w.data();
    SendMessageW(hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    if (sortType_ == SortType::stText) Sort();
}

ListSubItems& ListView::SubItems(int index) {
    LPARAM id = IdAt(index);
    for (Item& i : items_)
        if (i.id == id) return *i.subItems;
    throw Exception("List item without data");
}

namespace {
int CALLBACK CompareByText(LPARAM a, LPARAM b, LPARAM view) {
    auto h = reinterpret_cast<HWND>(view);
    wchar_t ta[512] = {}, tb[512] = {};
    LVITEMW item{};
    item.cchTextMax = 511;
    item.pszText = ta;
    SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(a), reinterpret_cast<LPARAM>(&item));
    item.pszText = tb;
    SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(b), reinterpret_cast<LPARAM>(&item));
    return lstrcmpiW(ta, tb);
}
}  // namespace

void ListView::Sort() {
    if (hwnd_) SendMessageW(hwnd_, LVM_SORTITEMSEX, reinterpret_cast<WPARAM>(hwnd_), reinterpret_cast<LPARAM>(CompareByText));
}

void ListView::SetSortType(SortType v) {
    if (v == sortType_) return;
    sortType_ = v;
    if (v == SortType::stText) Sort();
}

const PropertyTable& ListView::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        EnumProperty<ListView, SortType>("SortType", {"stNone", "stText"}, &ListView::GetSortType, &ListView::SetSortType),
    });
    return table;
}

void ListSubItems::Push() {
    int pos = view_.PositionOf(id_);
    if (pos < 0) return;
    for (int column = 1; column < std::max(view_.columnCount_, Count() + 1); ++column) {
        std::wstring w = column - 1 < Count() ? ToWide(StringList::Get(column - 1)) : L"";
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = w.data();
        SendMessageW(view_.hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(pos), reinterpret_cast<LPARAM>(&item));
    }
}

void ListSubItems::Put(int index, std::string_view s) {
    StringList::Put(index, s);
    Push();
}
void ListSubItems::Insert(int index, std::string_view s) {
    StringList::Insert(index, s);
    Push();
}
void ListSubItems::Delete(int index) {
    StringList::Delete(index);
    Push();
}
void ListSubItems::Clear() {
    StringList::Clear();
    Push();
}

}  // namespace qv
