#include "framework/graphics.h"

#include <map>

#include "framework/form_reader.h"
#include "framework/scaling_core.h"
#include "framework/win32_text.h"

namespace qv {

COLORREF ColorToRGB(Color color) {
    if (color & kSystemColorFlag) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

HBRUSH ColorBrush(Color color) {
    // System colours have brushes of their own that follow the settings.
    if (color & kSystemColorFlag) return GetSysColorBrush(color & 0xFF);
    static std::map<Color, HBRUSH> brushes;
    auto it = brushes.find(color);
    if (it != brushes.end()) return it->second;
    HBRUSH b = CreateSolidBrush(ColorToRGB(color));
    brushes.emplace(color, b);
    return b;
}

void RegisterColorConstants() {
    const std::pair<const char*, Color> names[] = {
        {"clBlack", clBlack}, {"clMaroon", clMaroon}, {"clGreen", clGreen},     {"clNavy", clNavy},
        {"clRed", clRed},     {"clBlue", clBlue},     {"clWhite", clWhite},     {"clGray", clGray},
        {"clBtnFace", clBtnFace}, {"clWindow", clWindow}, {"clWindowText", clWindowText},
        {"clBtnText", clBtnText},
    };
    for (auto& [n, c] : names) RegisterIntegerConstant(n, c);
}

Font::Font() = default;

Font::~Font() {
    if (handle_) DeleteObject(handle_);
}

void Font::Changed() {
    // Whoever shows this font takes the new one in OnChange; only then is
    // the old GDI font let go.
    HFONT old = handle_;
    handle_ = nullptr;
    if (OnChange) OnChange();
    if (old) DeleteObject(old);
}

void Font::SetName(const std::string& v) {
    if (v == name_) return;
    name_ = v;
    Changed();
}
void Font::SetHeight(int v) {
    if (v == height_) return;
    height_ = v;
    Changed();
}
void Font::SetColor(Color v) {
    if (v == color_) return;
    color_ = v;
    Changed();
}
void Font::SetCharSet(int v) {
    if (v == charset_) return;
    charset_ = v;
    Changed();
}
void Font::SetStyle(unsigned v) {
    if (v == style_) return;
    style_ = v;
    Changed();
}

bool Font::SameAs(const Font& o) const {
    return name_ == o.name_ && height_ == o.height_ && color_ == o.color_ && charset_ == o.charset_ &&
           style_ == o.style_;
}

void Font::Assign(const Font& o) {
    if (SameAs(o)) return;
    name_ = o.name_;
    height_ = o.height_;
    color_ = o.color_;
    charset_ = o.charset_;
    style_ = o.style_;
    Changed();
}

void Font::SetScale(int dpi, int designDpi) {
    if (dpi <= 0 || designDpi <= 0 || (dpi == dpi_ && designDpi == designDpi_)) return;
    dpi_ = dpi;
    designDpi_ = designDpi;
    Changed();
}

int Font::DeviceHeight() const { return ScaleValue(height_, dpi_, designDpi_); }

HFONT Font::Handle() const {
    if (!handle_) {
        LOGFONTW lf{};
        lf.lfHeight = -DeviceHeight();
        lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (style_ & fsItalic) ? TRUE : FALSE;
        lf.lfUnderline = (style_ & fsUnderline) ? TRUE : FALSE;
        lf.lfStrikeOut = (style_ & fsStrikeOut) ? TRUE : FALSE;
        lf.lfCharSet = static_cast<BYTE>(charset_);
        lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
        lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        lf.lfQuality = DEFAULT_QUALITY;
        lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
        std::wstring face = ToWide(name_);
        wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
        handle_ = CreateFontIndirectW(&lf);
    }
    return handle_;
}

const PropertyTable& Font::StaticProperties() {
    static const PropertyTable table(&Persistent::StaticProperties(), {
        StringProperty<Font>("Name", &Font::Name, &Font::SetName),
        IntegerProperty<Font>("Height", &Font::Height, &Font::SetHeight),
        IntegerProperty<Font>("Color", &Font::GetColor, &Font::SetColor),
        IntegerProperty<Font>("CharSet", &Font::CharSet, &Font::SetCharSet),
        SetProperty<Font, unsigned>("Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}, &Font::Style,
                                    &Font::SetStyle),
    });
    return table;
}

}  // namespace qv
