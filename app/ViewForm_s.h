// The full-size viewer: the result at its real size, scrolled with the
// scroll bars or by dragging the picture.
#pragma once

#include <cstdint>

#include "platform/forms/Forms.h"

// The viewer's outer size for a picture on a screen: the picture plus the
// frame, but never closer than 50 pixels to the screen's width and 100 to
// its height.
struct TViewerSize {
    int32_t Width = 0, Height = 0;
    bool operator==(const TViewerSize&) const = default;
};
TViewerSize ViewerWindowSize(int32_t pictureWidth, int32_t pictureHeight, int32_t screenWidth,
                             int32_t screenHeight);

// The picture's position in a window of outer size FW x FH: centred while
// it is smaller than the client area, else at the top-left corner.
TPoint ViewerPicturePosition(int32_t PW, int32_t PH, int32_t FW, int32_t FH);

// Drag state: the mouse position in Image1 where the drag began.
extern bool Dragging;
extern int32_t DragStartX;
extern int32_t DragStartY;

class TViewForm : public TForm {
public:
    TViewForm();
    ~TViewForm() override;

    TImage* Image1 = nullptr;

    void FormCreate(TObject* sender);
    void FormShow(TObject* sender);
    void FormResize(TObject* sender);
    void Image1MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int X, int Y);
    void Image1MouseMove(TObject* sender, TShiftState shift, int X, int Y);
    void Image1MouseUp(TObject* sender, TMouseButton button, TShiftState shift, int X, int Y);
    // Escape closes the viewer; the arrow keys scroll it by a line, Page Up
    // and Page Down by a window's height.
    void FormKeyDown(TObject* sender, uint16_t& Key, TShiftState Shift);

    // Back to the top-left corner of the picture, then centred when it is
    // smaller than the window.
    void ResetView();

protected:
    void Loaded() override;
};

extern TViewForm* ViewForm;
