#include "platform/forms/Printer.h"

#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <cmath>
#include <limits>

struct TPrinter::TImpl {
    QPrinter printer{QPrinter::HighResolution};
    QPainter painter;
};

TPrinter::TPrinter() : impl_(std::make_unique<TImpl>()) {
    // One A4 portrait page; dot (0, 0) at the paper's corner.
    impl_->printer.setPageSize(QPageSize(QPageSize::A4));
    impl_->printer.setPageOrientation(QPageLayout::Portrait);
    impl_->printer.setFullPage(true);
}

TPrinter::~TPrinter() {
    if (printing_) impl_->painter.end();
}

void TPrinter::SetOutputFileName(const std::string& pdfPath) {
    if (pdfPath.empty()) {
        impl_->printer.setOutputFileName(QString());
        impl_->printer.setOutputFormat(QPrinter::NativeFormat);
    } else {
        impl_->printer.setOutputFormat(QPrinter::PdfFormat);
        impl_->printer.setOutputFileName(QString::fromStdString(pdfPath));
    }
    impl_->printer.setFullPage(true);
}

std::string TPrinter::OutputFileName() const { return impl_->printer.outputFileName().toStdString(); }
std::string TPrinter::PrinterName() const { return impl_->printer.printerName().toStdString(); }

void TPrinter::BeginDoc() {
    if (printing_) throw EPrinter("Printing in progress");
    impl_->printer.setDocName(QString::fromStdString(Title));
    if (!impl_->painter.begin(&impl_->printer)) {
        std::string where = OutputFileName();
        if (where.empty()) where = PrinterName();
        throw EPrinter("Cannot start printing on \"" + where + "\"");
    }
    printing_ = true;
}

void TPrinter::EndDoc() {
    if (!printing_) throw EPrinter("Printer is not currently printing");
    printing_ = false;
    impl_->painter.end();
}

void TPrinter::Abort() {
    if (!printing_) return;
    impl_->printer.abort();
    printing_ = false;
    impl_->painter.end();
}

void TPrinter::NewPage() {
    if (!printing_) throw EPrinter("Printer is not currently printing");
    impl_->printer.newPage();
}

int TPrinter::PageWidth() const { return impl_->printer.pageLayout().fullRectPixels(impl_->printer.resolution()).width(); }
int TPrinter::PageHeight() const { return impl_->printer.pageLayout().fullRectPixels(impl_->printer.resolution()).height(); }
int TPrinter::DotsPerInchX() const { return impl_->printer.logicalDpiX(); }
int TPrinter::DotsPerInchY() const { return impl_->printer.logicalDpiY(); }

namespace {

int32_t RoundClamp(long double v) {
    // Nearest, ties to even; far-off rectangles are clamped rather than
    // wrapped (the painter clips them anyway).
    long double r = std::nearbyint(v);
    if (!(r >= static_cast<long double>(std::numeric_limits<int32_t>::min()))) return std::numeric_limits<int32_t>::min();
    if (r > static_cast<long double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(r);
}

QImage ToImage(TGraphic& graphic) {
    const int32_t w = graphic.Width(), h = graphic.Height();
    if (graphic.Empty() || w <= 0 || h <= 0) return QImage();
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSize(w, h);
    bmp.Canvas().StretchDraw(Rect(0, 0, w, h), graphic);
    QImage img(w, h, QImage::Format_RGB32);
    if (img.isNull()) throw EPrinter("Not enough memory to print the picture");
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = bmp.ScanLine(y);
        QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int32_t x = 0; x < w; ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
    }
    return img;
}

}  // namespace

TRect TPrinter::MapRect(const TRect& rect, long double dotsPerMillimetre) const {
    if (!(dotsPerMillimetre > 0)) throw EPrinter("Invalid print scale");
    const long double sx = DotsPerMillimetreX() / dotsPerMillimetre;
    const long double sy = DotsPerMillimetreY() / dotsPerMillimetre;
    return Rect(RoundClamp(rect.Left * sx), RoundClamp(rect.Top * sy), RoundClamp(rect.Right * sx),
                RoundClamp(rect.Bottom * sy));
}

void TPrinter::StretchDraw(const TRect& rect, TGraphic& graphic) {
    if (!printing_) throw EPrinter("Printer is not currently printing");
    QImage img = ToImage(graphic);
    if (img.isNull() || rect.IsEmpty()) return;
    // Widths from far-off corners would overflow an int.
    const int64_t w = int64_t(rect.Right) - rect.Left, h = int64_t(rect.Bottom) - rect.Top;
    if (w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max())
        throw EPrinter("Print rectangle too large");
    impl_->painter.drawImage(QRect(rect.Left, rect.Top, static_cast<int>(w), static_cast<int>(h)), img);
}

QPrinter* TPrinter::Device() { return &impl_->printer; }

// Freed by the application before Qt shuts down (a printer must not
// outlive the Qt application). A plain pointer, not a static object: it
// must still be valid when the application object is destroyed at exit.
static TPrinter* thePrinter = nullptr;

TPrinter& Printer() {
    if (!thePrinter) thePrinter = new TPrinter;
    return *thePrinter;
}

void ReleasePrinter() {
    delete thePrinter;
    thePrinter = nullptr;
}
