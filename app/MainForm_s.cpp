#include "app/MainForm_s.h"

#include "app/About_Us_s.h"
#include "app/BatchFiles.h"
#include "app/Mail.h"
#include "app/PictureFiles.h"
#include "app/SketchState.h"
#include "app/ViewForm_s.h"
#include "platform/core/Jpeg.h"
#include "platform/core/Numeric.h"
#include "print/Print_Setup_s.h"
#include "professional/Setup_s.h"
#include "standard/Standard_s.h"

TMainForm* MainForm = nullptr;

TPaneFit FitPane(int32_t W, int32_t H, int32_t PW, int32_t PH) {
    TPaneFit fit;
    // An empty picture has no ratio, and a panel squeezed below its margins
    // would get negative sizes: keep the margins and show nothing.
    if (W <= 0 || H <= 0 || PW <= 4 || PH <= 4) {
        fit.Left = 2;
        fit.Top = 2;
        fit.Width = PW > 4 ? PW - 4 : 0;
        fit.Height = PH > 4 ? PH - 4 : 0;
        return fit;
    }
    const long double panelRatio = static_cast<long double>(PW) / PH;
    const long double pictureRatio = static_cast<long double>(W) / H;
    // The products are widened: a picture of the largest size in a tall
    // panel would wrap a 32-bit product.
    if (panelRatio >= pictureRatio) {
        fit.Top = 2;
        fit.Height = PH - 4;
        fit.Width = num::Round32(static_cast<long double>(int64_t{W} * fit.Height) / H);
        fit.Left = num::Div(PW - fit.Width, 2);
    } else {
        fit.Left = 2;
        fit.Width = PW - 4;
        fit.Height = num::Round32(static_cast<long double>(int64_t{H} * fit.Width) / W);
        fit.Top = num::Div(PH - fit.Height, 2);
    }
    return fit;
}

TMainForm::TMainForm() {
    RegisterHandler("FormCreate", &TMainForm::FormCreate);
    RegisterHandler("FormResize", &TMainForm::FormResize);
    RegisterHandler("FormClose", &TMainForm::FormClose);
    RegisterHandler("Splitter1Moved", &TMainForm::Splitter1Moved);
    RegisterHandler("SpeedButton1Click", &TMainForm::SpeedButton1Click);
    RegisterHandler("SpeedButton2Click", &TMainForm::SpeedButton2Click);
    RegisterHandler("SpeedButton3Click", &TMainForm::SpeedButton3Click);
    RegisterHandler("SpeedButton4Click", &TMainForm::SpeedButton4Click);
    RegisterHandler("SpeedButton5Click", &TMainForm::SpeedButton5Click);
    RegisterHandler("SpeedButton6Click", &TMainForm::SpeedButton6Click);
    RegisterHandler("Standard1Click", &TMainForm::Standard1Click);
    RegisterHandler("Exit1Click", &TMainForm::Exit1Click);
    RegisterHandler("About1Click", &TMainForm::About1Click);
    RegisterHandler("Image2DblClick", &TMainForm::Image2DblClick);
}

TMainForm::~TMainForm() {
    if (CurrentSketch == currentSketch_.get()) CurrentSketch = nullptr;
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Loaded() {
    ToolBar1 = FindControl<TToolBar>("ToolBar1");
    ControlBar1 = FindControl<TControlBar>("ControlBar1");
    Panel1 = FindControl<TPanel>("Panel1");
    SpeedButton1 = FindControl<TSpeedButton>("SpeedButton1");
    SpeedButton2 = FindControl<TSpeedButton>("SpeedButton2");
    SpeedButton3 = FindControl<TSpeedButton>("SpeedButton3");
    SpeedButton4 = FindControl<TSpeedButton>("SpeedButton4");
    SpeedButton5 = FindControl<TSpeedButton>("SpeedButton5");
    SpeedButton6 = FindControl<TSpeedButton>("SpeedButton6");
    SpeedButton7 = FindControl<TSpeedButton>("SpeedButton7");
    ImgPanel1 = FindControl<TPanel>("ImgPanel1");
    ImgPanel2 = FindControl<TPanel>("ImgPanel2");
    Image1 = FindControl<TImage>("Image1");
    Image2 = FindControl<TImage>("Image2");
    ListView1 = FindControl<TListView>("ListView1");
    Splitter1 = FindControl<TSplitter>("Splitter1");
    StatusBar1 = FindControl<TStatusBar>("StatusBar1");
    MainMenu1 = FindComponentAs<TMainMenu>("MainMenu1");
    OpenPictureDialog1 = FindComponentAs<TOpenPictureDialog>("OpenPictureDialog1");
    SavePictureDialog1 = FindComponentAs<TSavePictureDialog>("SavePictureDialog1");
    PrintDialog1 = FindComponentAs<TPrintDialog>("PrintDialog1");
}

void TMainForm::FormCreate(TObject*) {
    SetDoubleBuffered(true);
    ImgPanel1->SetDoubleBuffered(true);
    ImgPanel2->SetDoubleBuffered(true);
    Panel1->SetDoubleBuffered(true);
    ResultBitmap().Assign(&SourceBitmap());
    currentSketch_ = std::make_unique<TBitmap32>();
    currentSketch_->Assign(&ResultBitmap());
    currentSketch_->SetPixelFormat(TPixelFormat::pf32bit);
    CurrentSketch = currentSketch_.get();
    Canvas().CopyMode = cmSrcCopy;
}

void TMainForm::FormResize(TObject*) {
    Display(Image1, ImgPanel1);
    Display(Image2, ImgPanel2);
    ControlBar1->SetWidth(Width() - 10);
}

void TMainForm::FormClose(TObject*, TCloseAction&) {
    CurrentSketch = nullptr;
    currentSketch_.reset();
}

void TMainForm::Splitter1Moved(TObject*) {
    Display(Image1, ImgPanel1);
    Display(Image2, ImgPanel2);
    StatusBar1->SetPanelWidth(1, ImgPanel1->Width() - 48);
}

void TMainForm::Display(TImage* Image, TPanel* Panel) {
    const TPaneFit fit =
        FitPane(Image->Picture().Width(), Image->Picture().Height(), Panel->Width(), Panel->Height());
    Image->SetBounds(fit.Left, fit.Top, fit.Width, fit.Height);
}

void TMainForm::SpeedButton1Click(TObject*) {
    OpenPicture();
    // Also after a cancelled dialog: the copy and the fit are refreshed.
    // The copy shares the pane's pixels until one of them changes.
    if (currentSketch_) {
        currentSketch_->AssignShared(ResultBitmap());
        currentSketch_->SetPixelFormat(TPixelFormat::pf32bit);
    }
    Display(Image1, ImgPanel1);
    Display(Image2, ImgPanel2);
}

void TMainForm::OpenPicture() {
    OpenPictureDialog1->Filter = kOpenPictureFilter;
    if (!OpenPictureDialog1->Execute()) return;
    SetDoubleBuffered(true);
    const std::string fileName = OpenPictureDialog1->FileName;
    // A corrupt file raises the picture class's error, which the
    // application's handler shows; the panes are untouched then.
    std::unique_ptr<TBitmap> loaded;
    {
        TBusyScope busy;
        loaded = LoadPictureFile(fileName);
    }
    if (!loaded || loaded->Width() <= 0 || loaded->Height() <= 0) {
        Desktop().MessageBox(fileName + kNotValidFormat, "Sorry", MB_OK);
        return;
    }
    // The loaded pixels move into the left pane, and the right pane shares
    // them: a photograph is held once, not three times.
    TBitmap32 picture;
    picture.TakePicture(*loaded);
    loaded.reset();
    SourceBitmap().TakeOver(picture);
    ResultBitmap().AssignShared(SourceBitmap());
}

void TMainForm::savepic1(TGraphic& Graphic) {
    SavePictureDialog1->Filter = kSavePictureFilter;
    if (!SavePictureDialog1->Execute()) return;
    const std::string fileName = SavePictureDialog1->FileName;
    switch (SavePictureDialog1->FilterIndex) {
        case 1: {
            TJPEGImage jpeg;
            jpeg.Assign(&Graphic);
            jpeg.SaveToFile(ChangeFileExt(fileName, ".jpg"));
            break;
        }
        case 2: {
            TBitmap bitmap;
            bitmap.Assign(&Graphic);
            bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            bitmap.SaveToFile(ChangeFileExt(fileName, ".bmp"));
            break;
        }
        case 3:
            SaveAsMetafile(Graphic, fileName);
            break;
        default:
            break;
    }
}

void TMainForm::SpeedButton2Click(TObject*) { savepic1(ResultBitmap()); }

void TMainForm::SpeedButton3Click(TObject*) {
    if (Print_Setup) Print_Setup->Show();
}

// The main window is the mail client's parent, so its compose window shows.
// Where nothing takes the mail or the address the person is told so, or
// the click would seem to do nothing.
void TMainForm::SpeedButton5Click(TObject*) {
    const std::string folder = ProgramFolder();
    const int result = TellAFriend(ResultBitmap(), folder, reinterpret_cast<uintptr_t>(this));
    if (result != SUCCESS_SUCCESS && result != MAPI_USER_ABORT)
        Desktop().MessageBox(kNoMailProgramText + folder + "mywork.jpg.", "Sorry", MB_OK);
}

void TMainForm::SpeedButton6Click(TObject*) {
    if (!Desktop().OpenURL(kProductPage))
        Desktop().MessageBox(kNoBrowserText + std::string(kProductPage) + ".", "Sorry", MB_OK);
}

void TMainForm::Standard1Click(TObject*) {
    if (Setup_For_Color_Sketch) Setup_For_Color_Sketch->Hide();
    if (Standard) Standard->Show();
}

void TMainForm::SpeedButton4Click(TObject*) {
    if (Standard) Standard->Hide();
    if (Setup_For_Color_Sketch) Setup_For_Color_Sketch->Show();
}

void TMainForm::Exit1Click(TObject*) { Close(); }

void TMainForm::About1Click(TObject*) {
    if (About_Us) About_Us->Show();
}

void TMainForm::Image2DblClick(TObject*) {
    if (!ViewForm) return;
    // Hidden first, so the Show below always runs the viewer's FormShow.
    ViewForm->Hide();
    ViewForm->Image1->Picture().Bitmap().AssignShared(ResultBitmap());
    ViewForm->Show();
    ViewForm->ResetView();
}

bool BrowseForFolder(const std::string& Title, std::string& Path) {
    std::string chosen;
    if (!Desktop().BrowseForFolder(Title, InputDir, chosen) || chosen.empty()) return false;
    // Folders come back without a trailing "/", the root keeping its own.
    while (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
    Path = chosen;
    return true;
}

void TMainForm::OpenDir() {
    std::string folder;
    if (!BrowseForFolder("Open a directory to input pictures to convert.", folder)) return;
    InputDir = folder;
    ListView1->Items().Clear();
    for (const std::string& name : ListBatchFolder(folder)) {
        TListItem* item = ListView1->Items().Add();
        item->Caption = name;
        item->ImageIndex = 0;
    }
}

void TMainForm::OpenDir2() {
    std::string folder;
    if (BrowseForFolder("Open a directory to output pictures.", folder)) OutputDir = folder;
}

bool TMainForm::InputPicture(int I) {
    const std::string path = JoinPath(InputDir, ListView1->Items().Item(I - 1)->Caption);
    std::unique_ptr<TBitmap32> picture = LoadBatchPicture(path);
    if (!picture) return false;
    SourceBitmap().TakeOver(*picture);
    picture.reset();
    ResultBitmap().AssignShared(SourceBitmap());
    Display(Image1, ImgPanel1);
    Display(Image2, ImgPanel2);
    return true;
}

void TMainForm::outputpicture(int I, const std::string& Suffix) {
    SaveBatchPicture(ResultBitmap(), BatchOutputName(OutputDir, ListView1->Items().Item(I - 1)->Caption, Suffix));
}

void TMainForm::BatchConvert(const std::string& InputText, const std::string& OutputText,
                             const std::function<void()>& convert) {
    TBatchSteps steps;
    steps.InputPicture = [this](int i) { return InputPicture(i); };
    // The window thread stays busy for the whole batch: the panes are
    // painted now, before and after each conversion, and in between the
    // run's progress lets paints through.
    steps.Refresh = [this] { Refresh(); };
    steps.Convert = convert;
    steps.OutputPicture = [this](int i) { outputpicture(i, kBatchSuffix); };
    steps.ShowMessage = [](const std::string& text) {
        TBusyScope::TPause pause;
        ShowMessage(text);
    };
    TBusyScope busy;
    RunBatch(InputText, OutputText, ListView1->Items().Count(), steps);
}
