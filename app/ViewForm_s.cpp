#include "app/ViewForm_s.h"

#include <algorithm>

TViewForm* ViewForm = nullptr;

bool Dragging = false;
int32_t DragStartX = 0;
int32_t DragStartY = 0;

TViewerSize ViewerWindowSize(int32_t pictureWidth, int32_t pictureHeight, int32_t screenWidth,
                             int32_t screenHeight) {
    // 64-bit sums: a picture of the largest side cannot wrap them.
    const int64_t width = std::min<int64_t>(int64_t{pictureWidth} + 10, int64_t{screenWidth} - 50);
    const int64_t height = std::min<int64_t>(int64_t{pictureHeight} + 35, int64_t{screenHeight} - 100);
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

TPoint ViewerPicturePosition(int32_t PW, int32_t PH, int32_t FW, int32_t FH) {
    TPoint p;
    p.Y = PH < FH - 35 ? FH / 2 - PH / 2 : 0;
    p.X = PW < FW - 10 ? FW / 2 - PW / 2 : 0;
    return p;
}

TViewForm::TViewForm() {
    RegisterHandler("FormCreate", &TViewForm::FormCreate);
    RegisterHandler("FormShow", &TViewForm::FormShow);
    RegisterHandler("FormResize", &TViewForm::FormResize);
    RegisterHandler("Image1MouseDown", &TViewForm::Image1MouseDown);
    RegisterHandler("Image1MouseMove", &TViewForm::Image1MouseMove);
    RegisterHandler("Image1MouseUp", &TViewForm::Image1MouseUp);
    RegisterHandler("FormKeyDown", &TViewForm::FormKeyDown);
}

TViewForm::~TViewForm() {
    if (ViewForm == this) ViewForm = nullptr;
}

void TViewForm::Loaded() { Image1 = FindControl<TImage>("Image1"); }

void TViewForm::FormCreate(TObject*) { SetDoubleBuffered(true); }

void TViewForm::FormShow(TObject*) {
    const TViewerSize size =
        ViewerWindowSize(Image1->Picture().Width(), Image1->Picture().Height(), Screen()->Width(), Screen()->Height());
    SetBounds(30, 30, size.Width, size.Height);
}

void TViewForm::FormResize(TObject*) { ResetView(); }

void TViewForm::ResetView() {
    Image1->SetTop(0);
    Image1->SetLeft(0);
    VertScrollBar().SetPosition(0);
    HorzScrollBar().SetPosition(0);
    const TPoint p = ViewerPicturePosition(Image1->Width(), Image1->Height(), Width(), Height());
    Image1->SetTop(p.Y);
    Image1->SetLeft(p.X);
}

void TViewForm::Image1MouseDown(TObject*, TMouseButton, TShiftState shift, int X, int Y) {
    if ((shift & ssLeft) == 0) return;
    Dragging = true;
    DragStartX = X;
    DragStartY = Y;
}

void TViewForm::Image1MouseMove(TObject*, TShiftState shift, int X, int Y) {
    if ((shift & ssLeft) == 0 || !Dragging) return;
    // The bars clamp the positions to their ranges.
    HorzScrollBar().SetPosition(HorzScrollBar().Position() + DragStartX - X);
    VertScrollBar().SetPosition(VertScrollBar().Position() + DragStartY - Y);
}

void TViewForm::Image1MouseUp(TObject*, TMouseButton, TShiftState, int, int) { Dragging = false; }

void TViewForm::FormKeyDown(TObject*, uint16_t& Key, TShiftState) {
    TControlScrollBar& bar = Key == VK_LEFT || Key == VK_RIGHT ? HorzScrollBar() : VertScrollBar();
    const int line = bar.Increment(), page = ClientHeight();
    switch (Key) {
        case VK_ESCAPE: Close(); break;
        case VK_LEFT:
        case VK_UP: bar.SetPosition(bar.Position() - line); break;
        case VK_RIGHT:
        case VK_DOWN: bar.SetPosition(bar.Position() + line); break;
        case VK_PRIOR: bar.SetPosition(bar.Position() - page); break;
        case VK_NEXT: bar.SetPosition(bar.Position() + page); break;
        default: return;
    }
    Key = 0;
}
