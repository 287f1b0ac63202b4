// The main window: the source and result panes, toolbar, menu and status
// bar, Open and Save, and the commands that show the other windows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/Image32.h"
#include "platform/forms/Forms.h"

// Where an image control goes inside its panel.
struct TPaneFit {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const TPaneFit&) const = default;
};

// W, H: the picture's size; PW, PH: the panel's. A panel at least as wide
// as the picture's ratio (equality included) fits it by height, otherwise
// by width, with a margin of 2 and the other side centred.
TPaneFit FitPane(int32_t W, int32_t H, int32_t PW, int32_t PH);

// The filters of the two file dialogs.
inline constexpr const char* kOpenPictureFilter =
    "*.jpg|*.jpg|*.jpeg|*.jpeg|*.bmp|*.bmp|*.wmf|*.wmf|*.emf|*.emf|*.gif|*.gif|All files|*.*";
inline constexpr const char* kSavePictureFilter = "*.jpg|*.jpg|*.bmp|*.bmp|*.wmf|*.wmf";
inline constexpr const char* kNotValidFormat = " is not a valid format";

class TMainForm : public TForm {
public:
    TMainForm();
    ~TMainForm() override;

    TToolBar* ToolBar1 = nullptr;
    TControlBar* ControlBar1 = nullptr;
    TPanel* Panel1 = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;  // Open
    TSpeedButton* SpeedButton2 = nullptr;  // Save as
    TSpeedButton* SpeedButton3 = nullptr;  // Print
    TSpeedButton* SpeedButton4 = nullptr;  // Professional make
    TSpeedButton* SpeedButton5 = nullptr;  // Tell a friend
    TSpeedButton* SpeedButton6 = nullptr;  // Online
    TSpeedButton* SpeedButton7 = nullptr;  // Standard make
    TPanel* ImgPanel1 = nullptr;
    TPanel* ImgPanel2 = nullptr;
    TImage* Image1 = nullptr;  // source pane
    TImage* Image2 = nullptr;  // result pane
    TListView* ListView1 = nullptr;
    TSplitter* Splitter1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TMainMenu* MainMenu1 = nullptr;
    TOpenPictureDialog* OpenPictureDialog1 = nullptr;
    TSavePictureDialog* SavePictureDialog1 = nullptr;
    TPrintDialog* PrintDialog1 = nullptr;

    void FormCreate(TObject* sender);
    void FormResize(TObject* sender);
    void FormClose(TObject* sender, TCloseAction& action);
    void Splitter1Moved(TObject* sender);
    void SpeedButton1Click(TObject* sender);
    void SpeedButton2Click(TObject* sender);
    void SpeedButton3Click(TObject* sender);
    void SpeedButton4Click(TObject* sender);
    void SpeedButton5Click(TObject* sender);
    void SpeedButton6Click(TObject* sender);
    void Standard1Click(TObject* sender);
    void Exit1Click(TObject* sender);
    void About1Click(TObject* sender);
    void Image2DblClick(TObject* sender);

    // Fits an image control into its panel (FitPane on their sizes).
    void Display(TImage* Image, TPanel* Panel);
    // Runs the open dialog and puts the chosen picture into both panes.
    void OpenPicture();
    // Runs the save dialog and writes Graphic as JPEG, 24-bit BMP or metafile.
    void savepic1(TGraphic& Graphic);

    // Batch conversion. OpenDir asks for the input folder and refills
    // ListView1 with its pictures; OpenDir2 asks for the output folder.
    void OpenDir();
    void OpenDir2();
    // Loads batch item I (1-based) into both panes and fits them; false
    // (after the loader's message) when it could not be loaded.
    bool InputPicture(int I);
    // Saves the result pane as JPEG under the name derived from item I.
    void outputpicture(int I, const std::string& Suffix);
    // The "Convert" button of both dialogs' batch panel: every listed item
    // loaded, converted by convert, repainted and saved.
    void BatchConvert(const std::string& InputText, const std::string& OutputText,
                      const std::function<void()>& convert);

    // The panes' pictures as the dialogs read and write them.
    TBitmap& SourceBitmap() { return Image1->Picture().Bitmap(); }
    TBitmap& ResultBitmap() { return Image2->Picture().Bitmap(); }

protected:
    void Loaded() override;

private:
    std::unique_ptr<TBitmap32> currentSketch_;
};

extern TMainForm* MainForm;

// The desktop's folder browser, opening on InputDir (both pickers do, so
// the output picker also starts at the input folder). Path is set only
// when a folder was chosen.
bool BrowseForFolder(const std::string& Title, std::string& Path);
