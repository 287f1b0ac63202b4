// Conversions between the platform's values and Qt's, and the parsers of
// description values.
#include <QFontDatabase>
#include <QPainter>

#include "platform/core/Numeric.h"
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
    TBitmap* bitmap = dynamic_cast<TBitmap*>(&graphic);
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
