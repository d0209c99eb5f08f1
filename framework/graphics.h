// Colours and fonts of controls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "framework/object.h"
#include "framework/properties.h"

namespace qv {

// A colour: 0x00BBGGRR, or a system colour (kSystemColorFlag | COLOR_xxx).
using Color = int32_t;
inline constexpr Color kSystemColorFlag = static_cast<Color>(0x80000000u);
inline constexpr Color clBlack = 0x000000;
inline constexpr Color clMaroon = 0x000080;
inline constexpr Color clGreen = 0x008000;
inline constexpr Color clNavy = 0x800000;
inline constexpr Color clRed = 0x0000FF;
inline constexpr Color clBlue = 0xFF0000;
inline constexpr Color clWhite = 0xFFFFFF;
inline constexpr Color clGray = 0x808080;
inline constexpr Color clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
inline constexpr Color clWindow = kSystemColorFlag | COLOR_WINDOW;
inline constexpr Color clWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;
inline constexpr Color clBtnText = kSystemColorFlag | COLOR_BTNTEXT;

COLORREF ColorToRGB(Color color);
// A solid brush of the colour, kept for the life of the process.
HBRUSH ColorBrush(Color color);
// Makes the names above known to form resources ("Color = clBlue").
void RegisterColorConstants();

// Font character sets (the Win32 values).
inline constexpr int kDefaultCharset = DEFAULT_CHARSET;   // 1
inline constexpr int kChineseBig5Charset = CHINESEBIG5_CHARSET;  // 136

enum FontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font description and its GDI font. Height is the character height in
// layout pixels; the GDI font is made at the scale of where the font is
// shown (SetScale: the monitor's DPI over the form's design DPI), so the
// font is asked for the em height Height * dpi / designDpi and its glyphs
// are drawn at the monitor's resolution, not stretched.
class Font : public Persistent {
public:
    Font();
    ~Font() override;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& v);
    int Height() const { return height_; }
    void SetHeight(int v);
    Color GetColor() const { return color_; }
    void SetColor(Color v);
    int CharSet() const { return charset_; }
    void SetCharSet(int v);
    unsigned Style() const { return style_; }
    void SetStyle(unsigned v);

    // Copies every attribute; one OnChange at most. The scale is no
    // attribute: it belongs to where the font is shown.
    void Assign(const Font& other);
    bool SameAs(const Font& other) const;

    // The scale the GDI font is made at (one OnChange when it changes).
    void SetScale(int dpi, int designDpi);
    int ScaleDpi() const { return dpi_; }
    // The em height of the GDI font in device pixels.
    int DeviceHeight() const;

    // The GDI font, made on first use and remade after a change.
    HFONT Handle() const;

    std::function<void()> OnChange;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }

private:
    void Changed();
    std::string name_ = "MS Sans Serif";
    int height_ = 11;
    Color color_ = clWindowText;
    int charset_ = kDefaultCharset;
    unsigned style_ = 0;
    int dpi_ = 96;
    int designDpi_ = 96;
    mutable HFONT handle_ = nullptr;
};

}  // namespace qv
