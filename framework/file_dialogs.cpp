#include "framework/file_dialogs.h"

#include <windows.h>
#include <commdlg.h>

#include "framework/win32_text.h"

namespace qv {

bool OpenDialog::Execute() { return Run(false); }

bool OpenDialog::Run(bool save) {
    std::wstring filter = ToWide(filter_);
    for (auto& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    std::wstring file = ToWide(fileName_);
    file.resize(MAX_PATH * 4, L'\0');
    std::wstring title = ToWide(title_), dir = ToWide(initialDir_), ext = ToWide(defaultExt_);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filter_.empty() ? nullptr : filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = title_.empty() ? nullptr : title.c_str();
    ofn.lpstrInitialDir = initialDir_.empty() ? nullptr : dir.c_str();
    ofn.lpstrDefExt = defaultExt_.empty() ? nullptr : ext.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!ok) return false;
    fileName_ = FromWide(file.c_str());
    return true;
}

const PropertyTable& OpenDialog::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        StringProperty<OpenDialog>("Title", &OpenDialog::Title, &OpenDialog::SetTitle),
        StringProperty<OpenDialog>("Filter", &OpenDialog::Filter, &OpenDialog::SetFilter),
        StringProperty<OpenDialog>("FileName", &OpenDialog::FileName, &OpenDialog::SetFileName),
        StringProperty<OpenDialog>("InitialDir", &OpenDialog::InitialDir, &OpenDialog::SetInitialDir),
        StringProperty<OpenDialog>("DefaultExt", &OpenDialog::DefaultExt, &OpenDialog::SetDefaultExt),
    });
    return table;
}

}  // namespace qv
