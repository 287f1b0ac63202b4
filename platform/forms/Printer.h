// The printer the program draws on: the device the print dialog chose (any
// installed printer, or a PDF file). Dot (0, 0) is the paper's top-left
// corner, so placements in millimetres are measured from the paper's edge.
#pragma once

#include <memory>
#include <string>

#include "platform/core/Graphics.h"

class QPrinter;

class TPrinter {
public:
    TPrinter();
    ~TPrinter();
    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // Printing to a PDF file instead of a printer ("" = the chosen printer).
    void SetOutputFileName(const std::string& pdfPath);
    std::string OutputFileName() const;
    std::string PrinterName() const;
    std::string Title;  // the document name the spooler shows

    // BeginDoc raises EPrinter when the device cannot be opened (the message
    // names the printer or file); EndDoc finishes the page and the document.
    void BeginDoc();
    void EndDoc();
    void Abort();
    void NewPage();
    bool Printing() const { return printing_; }

    // Page size in device dots and the device's resolution.
    int PageWidth() const;
    int PageHeight() const;
    int DotsPerInchX() const;
    int DotsPerInchY() const;
    long double DotsPerMillimetreX() const { return DotsPerInchX() / 25.4L; }
    long double DotsPerMillimetreY() const { return DotsPerInchY() / 25.4L; }

    // Draws graphic stretched into rect, in device dots, between BeginDoc
    // and EndDoc.
    void StretchDraw(const TRect& rect, TGraphic& graphic);
    // rect given at dotsPerMillimetre dots per millimetre, converted to the
    // device's dots (rounded to nearest): the picture lands at the same
    // millimetres whatever the device's resolution.
    TRect MapRect(const TRect& rect, long double dotsPerMillimetre) const;
    void StretchDrawAtScale(const TRect& rect, long double dotsPerMillimetre, TGraphic& graphic) {
        StretchDraw(MapRect(rect, dotsPerMillimetre), graphic);
    }

    // The Qt printer, for the print dialog.
    QPrinter* Device();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
    bool printing_ = false;
};

QUILLARC_EXCEPTION(EPrinter, Exception)

// The one printer object (created on first use; needs the QApplication).
TPrinter& Printer();
// Frees the printer object (the application does so before Qt shuts down).
void ReleasePrinter();
