// Conversions between the platform's values and Qt's, and the parsers of
// description values.
#include <QFontDatabase>
#include <QPainter>

#include "platform/core/Numeric.h"
#include "platform/core/Parallel.h"
#include "platform/forms/FormsInternal.h"

namespace forms_internal {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

QColor ToQColor(TColor color) { return QColor::fromRgb(ColorToQRgb(color)); }

Qt::CursorShape ToQtCursor(TCursor cursor) {
    switch (cursor) {
        case crNone: return Qt::BlankCursor;
        case crCross: return Qt::CrossCursor;
        case crIBeam: return Qt::IBeamCursor;
        case crSizeNESW: return Qt::SizeBDiagCursor;
        case crSizeNS: return Qt::SizeVerCursor;
        case crSizeNWSE: return Qt::SizeFDiagCursor;
        case crSizeWE: return Qt::SizeHorCursor;
        case crUpArrow: return Qt::UpArrowCursor;
        case crHourGlass: return Qt::WaitCursor;
        case crDrag: return Qt::DragCopyCursor;
        case crNoDrop:
        case crNo: return Qt::ForbiddenCursor;
        case crHSplit: return Qt::SplitHCursor;
        case crVSplit: return Qt::SplitVCursor;
        case crAppStart: return Qt::BusyCursor;
        case crHelp: return Qt::WhatsThisCursor;
        case crHandPoint: return Qt::PointingHandCursor;
        case crSizeAll: return Qt::SizeAllCursor;
        default: return Qt::ArrowCursor;
    }
}

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier) s |= ssShift;
    if (modifiers & Qt::ControlModifier) s |= ssCtrl;
    if (modifiers & Qt::AltModifier) s |= ssAlt;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

TMouseButton ButtonOf(Qt::MouseButton button) {
    if (button == Qt::RightButton) return mbRight;
    if (button == Qt::MiddleButton) return mbMiddle;
    return mbLeft;
}

uint16_t VirtualKeyOf(int key, Qt::KeyboardModifiers modifiers) {
    // Letters and digits share their codes with the platform's virtual keys.
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        if ((modifiers & Qt::KeypadModifier) && key <= Qt::Key_9) return static_cast<uint16_t>(0x60 + key - Qt::Key_0);
        return static_cast<uint16_t>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<uint16_t>(0x70 + key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab: return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Shift: return 16;
        case Qt::Key_Control: return 17;
        case Qt::Key_Alt: return 18;
        case Qt::Key_Escape: return 27;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Minus: return (modifiers & Qt::KeypadModifier) ? 109 : 189;
        case Qt::Key_Plus: return (modifiers & Qt::KeypadModifier) ? 107 : 187;
        case Qt::Key_Period: return (modifiers & Qt::KeypadModifier) ? 110 : 190;
        case Qt::Key_Comma: return 188;
        default: return 0;
    }
}

QFont ToQFont(const TFont& font) {
    QFont f;
    f.setFamily(Q(ResolveFontFamily(font.Name())));
    f.setStyleHint(QFont::SansSerif);
    int h = font.Height();
    // Negative heights are character heights in pixels; a positive one is
    // the cell height, which includes about a fifth of internal leading.
    if (h < 0) f.setPixelSize(-h);
    else if (h > 0) f.setPixelSize(std::max(1, (h * 4 + 2) / 5));
    f.setBold((font.Style() & fsBold) != 0);
    f.setItalic((font.Style() & fsItalic) != 0);
    f.setUnderline((font.Style() & fsUnderline) != 0);
    f.setStrikeOut((font.Style() & fsStrikeOut) != 0);
    return f;
}

QString StripAccelerators(const std::string& caption) {
    std::string out;
    out.reserve(caption.size());
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return Q(out);
}

namespace {
struct TNamedColor {
    const char* name;
    TColor value;
};
constexpr TNamedColor kColors[] = {
    {"clBlack", clBlack}, {"clMaroon", clMaroon}, {"clGreen", clGreen}, {"clOlive", clOlive},
    {"clNavy", clNavy}, {"clPurple", clPurple}, {"clTeal", clTeal}, {"clGray", clGray},
    {"clSilver", clSilver}, {"clRed", clRed}, {"clLime", clLime}, {"clYellow", clYellow},
    {"clBlue", clBlue}, {"clFuchsia", clFuchsia}, {"clAqua", clAqua}, {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen}, {"clSkyBlue", clSkyBlue}, {"clCream", clCream},
    {"clMedGray", clMedGray}, {"clNone", clNone}, {"clDefault", clDefault},
    {"clScrollBar", clScrollBar}, {"clBackground", clBackground}, {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption}, {"clMenu", clMenu}, {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame}, {"clMenuText", clMenuText}, {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText}, {"clActiveBorder", clActiveBorder},
    {"clInactiveBorder", clInactiveBorder}, {"clAppWorkSpace", clAppWorkSpace},
    {"clHighlight", clHighlight}, {"clHighlightText", clHighlightText}, {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow}, {"clGrayText", clGrayText}, {"clBtnText", clBtnText},
    {"clInactiveCaptionText", clInactiveCaptionText}, {"clBtnHighlight", clBtnHighlight},
    {"cl3DDkShadow", SystemColor(21)}, {"cl3DLight", SystemColor(22)}, {"clInfoText", SystemColor(23)},
    {"clInfoBk", SystemColor(24)}, {"clHotLight", SystemColor(26)},
    {"clGradientActiveCaption", clGradientActiveCaption},
    {"clGradientInactiveCaption", clGradientInactiveCaption},
};
}  // namespace

TColor ColorValue(const TFormValue& v) {
    if (v.Kind == TFormValue::vkInteger) return v.AsInt();
    const std::string& name = v.AsIdent();
    for (const TNamedColor& c : kColors)
        if (CompareText(name, c.name) == 0) return c.value;
    v.Fail("unknown colour '" + name + "'");
}

TCursor CursorValue(const TFormValue& v) {
    static const std::pair<const char*, TCursor> kCursors[] = {
        {"crDefault", crDefault}, {"crNone", crNone}, {"crArrow", crArrow}, {"crCross", crCross},
        {"crIBeam", crIBeam}, {"crSizeNESW", crSizeNESW}, {"crSizeNS", crSizeNS},
        {"crSizeNWSE", crSizeNWSE}, {"crSizeWE", crSizeWE}, {"crUpArrow", crUpArrow},
        {"crHourGlass", crHourGlass}, {"crDrag", crDrag}, {"crNoDrop", crNoDrop},
        {"crHSplit", crHSplit}, {"crVSplit", crVSplit}, {"crNo", crNo}, {"crAppStart", crAppStart},
        {"crHelp", crHelp}, {"crHandPoint", crHandPoint}, {"crSizeAll", crSizeAll},
    };
    if (v.Kind == TFormValue::vkInteger) return static_cast<TCursor>(v.AsInt());
    const std::string& name = v.AsIdent();
    for (const auto& c : kCursors)
        if (CompareText(name, c.first) == 0) return c.second;
    v.Fail("unknown cursor '" + name + "'");
}

int EnumValue(const TFormValue& v, std::initializer_list<const char*> names) {
    const std::string& name = v.AsIdent();
    int i = 0;
    for (const char* n : names) {
        if (CompareText(name, n) == 0) return i;
        ++i;
    }
    v.Fail("unknown value '" + name + "'");
}

uint32_t SetValue(const TFormValue& v, std::initializer_list<std::pair<const char*, uint32_t>> names) {
    uint32_t bits = 0;
    for (const std::string& item : v.AsIdentList()) {
        bool found = false;
        for (const auto& n : names)
            if (CompareText(item, n.first) == 0) {
                bits |= n.second;
                found = true;
            }
        if (!found) v.Fail("unknown set element '" + item + "'");
    }
    return bits;
}

void TPlainWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (fill) p.fillRect(rect(), color);
    QRect r = rect();
    auto bevel = [&](int kind) {
        if (kind == 0 || r.width() < 2 || r.height() < 2) return;
        const QColor light = ToQColor(clBtnHighlight), dark = ToQColor(clBtnShadow);
        const QColor& tl = kind == 2 ? light : dark;
        const QColor& br = kind == 2 ? dark : light;
        p.setPen(tl);
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        p.setPen(br);
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    };
    bevel(bevelOuter);
    bevel(bevelInner);
    if (!caption.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect(), Qt::AlignCenter, caption);
    }
}

}  // namespace forms_internal

using namespace forms_internal;

uint32_t ColorToQRgb(TColor color) {
    const TColor c = ColorToRGB(color);
    return (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

std::string ResolveFontFamily(const std::string& name) {
    // The platform's bitmap UI fonts are not on this desktop: the desktop's
    // own sans-serif family takes their place at the same size.
    static const char* const kPlatformFonts[] = {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2",
                                                 "System", "Tahoma", "Microsoft Sans Serif"};
    for (const char* f : kPlatformFonts)
        if (CompareText(name, f) == 0) return S(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    if (!name.empty() && QFontDatabase::hasFamily(Q(name))) return name;
    return S(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

QImage GraphicToImage(TGraphic& graphic) {
    const int32_t w = graphic.Width(), h = graphic.Height();
    if (graphic.Empty() || w <= 0 || h <= 0) return QImage();
    // Read through a const bitmap: a bitmap that shares its pixels keeps
    // sharing them.
    const TBitmap* bitmap = dynamic_cast<const TBitmap*>(&graphic);
    TBitmap converted;
    if (!bitmap || (bitmap->PixelFormat() != TPixelFormat::pf32bit && bitmap->PixelFormat() != TPixelFormat::pf24bit &&
                    bitmap->PixelFormat() != TPixelFormat::pfDevice)) {
        if (bitmap) {
            converted.Assign(bitmap);
            converted.SetPixelFormat(TPixelFormat::pf32bit);
        } else {
            converted.SetPixelFormat(TPixelFormat::pf32bit);
            converted.SetSize(w, h);
            converted.Canvas().Brush.Color = clWhite;
            converted.Canvas().FillRect(Rect(0, 0, w, h));
            converted.Canvas().StretchDraw(Rect(0, 0, w, h), graphic);
        }
        bitmap = &converted;
    }
    // Alpha is ignored, as the platform's blits ignore it: the filters leave
    // it at 0.
    QImage image(bitmap->Width(), bitmap->Height(), QImage::Format_RGB32);
    // Qt gives a null image when it cannot have the memory.
    if (image.isNull()) return QImage();
    const bool is24 = bitmap->PixelFormat() == TPixelFormat::pf24bit;
    for (int32_t y = 0; y < bitmap->Height(); ++y) {
        const uint8_t* src = bitmap->ScanLine(y);
        uint32_t* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
        if (is24) {
            for (int32_t x = 0; x < bitmap->Width(); ++x, src += 3)
                dst[x] = 0xFF000000u | (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
        } else {
            for (int32_t x = 0; x < bitmap->Width(); ++x, src += 4)
                dst[x] = 0xFF000000u | (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
        }
    }
    return image;
}

namespace {

// How target pixel t of a side of n source pixels shrunk to m <= n takes
// its share. In units where a source pixel weighs m and a target pixel n,
// the source pixels [begin, end) lie wholly inside it, pixel begin - 1
// reaches into it with `head`, pixel end with `tail` (0: none).
struct TCover {
    int32_t begin, end, head, tail;
};

std::vector<TCover> Covers(int32_t n, int32_t m) {
    std::vector<TCover> covers(static_cast<size_t>(m), TCover{0, 0, 0, 0});
    int64_t carry = 0;  // the part of the previous source pixel left over
    int32_t i = 0;
    for (int32_t t = 0; t < m; ++t) {
        TCover& c = covers[static_cast<size_t>(t)];
        c.head = static_cast<int32_t>(carry);
        int64_t room = n - carry;
        c.begin = i;
        while (i < n && room >= m) {
            room -= m;
            ++i;
        }
        c.end = i;
        c.tail = static_cast<int32_t>(room);
        carry = room > 0 ? m - room : 0;
        if (room > 0) ++i;
    }
    return covers;
}

// The weighted sums of each target column of one source row (bytes per
// pixel 3 or 4), channels blue, green, red.
void ShrinkRow(const uint8_t* src, int bytes, const std::vector<TCover>& columns, int32_t m, uint32_t* out) {
    for (size_t t = 0; t < columns.size(); ++t) {
        const TCover& c = columns[t];
        uint32_t s0 = 0, s1 = 0, s2 = 0;
        const uint8_t* p = src + size_t(c.begin) * static_cast<size_t>(bytes);
        for (int32_t x = c.begin; x < c.end; ++x, p += bytes) {
            s0 += p[0];
            s1 += p[1];
            s2 += p[2];
        }
        s0 *= static_cast<uint32_t>(m), s1 *= static_cast<uint32_t>(m), s2 *= static_cast<uint32_t>(m);
        if (c.head > 0) {
            const uint8_t* h = src + size_t(c.begin - 1) * static_cast<size_t>(bytes);
            s0 += c.head * uint32_t(h[0]), s1 += c.head * uint32_t(h[1]), s2 += c.head * uint32_t(h[2]);
        }
        if (c.tail > 0) {
            s0 += c.tail * uint32_t(p[0]), s1 += c.tail * uint32_t(p[1]), s2 += c.tail * uint32_t(p[2]);
        }
        out[3 * t] = s0, out[3 * t + 1] = s1, out[3 * t + 2] = s2;
    }
}

}  // namespace

QImage GraphicToScaledImage(const TGraphic& graphic, int32_t width, int32_t height) {
    const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic);
    if (bitmap == nullptr || width <= 0 || height <= 0) return QImage();
    const TPixelFormat format = bitmap->PixelFormat();
    const int bytes = format == TPixelFormat::pf24bit ? 3 : 4;
    if (format != TPixelFormat::pf24bit && format != TPixelFormat::pf32bit && format != TPixelFormat::pfDevice)
        return QImage();
    const int32_t sw = bitmap->Width(), sh = bitmap->Height();
    if (width > sw || height > sh) return QImage();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return QImage();
    const std::vector<TCover> columns = Covers(sw, width), rows = Covers(sh, height);
    // A column sum is at most 255 x sw (< 2^24 x 255), a pixel's at most
    // 255 x sw x sh: 64 bits.
    const uint64_t whole = uint64_t(sw) * uint64_t(sh);
    par::ForRows(height, [&](int32_t begin, int32_t end) {
        std::vector<uint32_t> line(size_t(width) * 3);
        std::vector<uint64_t> sums(size_t(width) * 3);
        const auto add = [&](int32_t y, uint64_t weight) {
            ShrinkRow(bitmap->ScanLine(y), bytes, columns, width, line.data());
            for (size_t i = 0; i < sums.size(); ++i) sums[i] += weight * line[i];
        };
        for (int32_t Y = begin; Y < end; ++Y) {
            const TCover& r = rows[static_cast<size_t>(Y)];
            std::fill(sums.begin(), sums.end(), 0);
            for (int32_t y = r.begin; y < r.end; ++y) add(y, static_cast<uint64_t>(height));
            if (r.head > 0) add(r.begin - 1, static_cast<uint64_t>(r.head));
            if (r.tail > 0) add(r.end, static_cast<uint64_t>(r.tail));
            uint32_t* out = reinterpret_cast<uint32_t*>(image.scanLine(Y));
            for (int32_t X = 0; X < width; ++X) {
                const uint64_t* a = &sums[size_t(X) * 3];
                const auto channel = [&](int i) { return static_cast<uint32_t>((a[i] + whole / 2) / whole); };
                out[X] = 0xFF000000u | (channel(2) << 16) | (channel(1) << 8) | channel(0);
            }
        }
    });
    return image;
}
