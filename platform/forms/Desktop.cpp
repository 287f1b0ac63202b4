#include "platform/forms/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>

#include "platform/forms/Forms.h"
#include "platform/forms/Printer.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::string ApplicationTitle() {
    if (Application) {
        std::string t = Application->Title();
        if (!t.empty()) return t;
    }
    return "Quillarc";
}

// "desc|pattern|desc|pattern" as Qt name filters "desc (p1 p2)".
QStringList NameFilters(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        // The platform's file search ignores case: "A.JPG" is listed under
        // "*.jpg", so each pattern is offered in upper case as well.
        QStringList each = patterns.simplified().split(' ', Qt::SkipEmptyParts);
        for (const QString& p : QStringList(each))
            if (p.toUpper() != p) each << p.toUpper();
        out << parts[i] + " (" + each.join(' ') + ")";
    }
    if (out.isEmpty()) out << "All files (*)";
    return out;
}

// The open dialog's preview: the selected picture file drawn into the
// label's own area over the dialog's background, drawn again whenever an
// animation moves on; anything the picture registry cannot read shows
// "(no preview)".
class TPreviewLabel final : public QLabel {
public:
    explicit TPreviewLabel(QWidget* parent) : QLabel(parent) {
        setObjectName("preview");
        setFixedSize(200, 200);
        setAlignment(Qt::AlignCenter);
        setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        const QRect area = contentsRect();
        const QColor back = palette().color(QPalette::Window);
        preview_ = std::make_unique<TPicturePreview>(area.width(), area.height(),
                                                     RGB(back.red(), back.green(), back.blue()));
        // Many changes to one animation frame make one redraw, once the
        // painter's step is over.
        preview_->OnChange = [this] {
            if (refreshPending_) return;
            refreshPending_ = true;
            QTimer::singleShot(0, this, [this] {
                refreshPending_ = false;
                Refresh();
            });
        };
    }

    void Select(const QString& path) {
        clear();
        setToolTip(QString());
        try {
            preview_->Select(QFileInfo(path).isFile() ? S(path) : std::string());
        } catch (...) {
            setText("(no preview)");
            return;
        }
        if (!preview_->HasPicture()) return;
        const TPoint size = preview_->PictureSize();
        setToolTip(QString("%1 x %2").arg(size.X).arg(size.Y));
        Refresh();
    }

private:
    void Refresh() {
        if (!preview_->HasPicture()) return;
        try {
            const TBitmap& bmp = preview_->Render();
            QImage img(bmp.Width(), bmp.Height(), QImage::Format_RGB32);
            for (int32_t y = 0; y < bmp.Height(); ++y) {
                const uint8_t* src = bmp.ScanLine(y);
                QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int32_t x = 0; x < bmp.Width(); ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
            }
            setPixmap(QPixmap::fromImage(img));
        } catch (...) {
            setText("(no preview)");
        }
    }

    std::unique_ptr<TPicturePreview> preview_;
    bool refreshPending_ = false;
};

class TQtDesktop final : public IDesktop {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        QMessageBox box;
        box.setWindowTitle(Q(caption));
        box.setText(Q(text));
        switch (flags & 0xF0) {
            case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
            case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
            case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
            case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
            default: break;
        }
        switch (flags & 0x0F) {
            case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
            case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
            default: box.setStandardButtons(QMessageBox::Ok); break;
        }
        switch (box.exec()) {
            case QMessageBox::Cancel: return IDCANCEL;
            case QMessageBox::Yes: return IDYES;
            case QMessageBox::No: return IDNO;
            default: return IDOK;
        }
    }

    void ShowMessage(const std::string& text) override { MessageBox(text, ApplicationTitle(), MB_OK); }

    bool OpenPictureDialog(const std::string& filter, std::string& fileName) override {
        QFileDialog dialog(nullptr, "Open");
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(NameFilters(filter));
        if (!fileName.empty()) dialog.selectFile(Q(fileName));
        auto* preview = new TPreviewLabel(&dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
        QObject::connect(&dialog, &QFileDialog::currentChanged, preview,
                         [preview](const QString& path) { preview->Select(path); });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        fileName = S(dialog.selectedFiles().first());
        return true;
    }

    bool SavePictureDialog(const std::string& filter, std::string& fileName, int& filterIndex) override {
        QFileDialog dialog(nullptr, "Save As");
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        // The program replaces the extension and overwrites without asking.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        QStringList filters = NameFilters(filter);
        dialog.setNameFilters(filters);
        if (filterIndex >= 1 && filterIndex <= filters.size()) dialog.selectNameFilter(filters[filterIndex - 1]);
        if (!fileName.empty()) dialog.selectFile(Q(fileName));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        fileName = S(dialog.selectedFiles().first());
        qsizetype index = filters.indexOf(dialog.selectedNameFilter());
        filterIndex = index < 0 ? 1 : static_cast<int>(index) + 1;
        return true;
    }

    bool BrowseForFolder(const std::string& title, const std::string& initialDir, std::string& path) override {
        QString start = Q(initialDir);
        if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
        QString chosen = QFileDialog::getExistingDirectory(nullptr, Q(title), start);
        if (chosen.isEmpty()) return false;
        path = S(QDir::toNativeSeparators(chosen));
        return true;
    }

    bool PrintDialog(TPrinter& printer) override {
        QPrintDialog dialog(printer.Device());
        return dialog.exec() == QDialog::Accepted;
    }

    int SendMail(const TMailMessage& message) override {
        std::vector<std::string> args = MailCommandArguments(message);
        QStringList qargs;
        for (const auto& a : args) qargs << Q(a);
        QProcess process;
        process.start("xdg-email", qargs);
        if (!process.waitForStarted(5000)) return MAPI_E_FAILURE;
        // xdg-email hands over to the mail client and returns; a client that
        // keeps it waiting counts as started.
        if (!process.waitForFinished(30000)) return SUCCESS_SUCCESS;
        if (process.exitStatus() != QProcess::NormalExit) return MAPI_E_FAILURE;
        return process.exitCode();
    }

    bool OpenURL(const std::string& url) override { return QDesktopServices::openUrl(QUrl(Q(url))); }

    int ScreenWidth() const override {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? s->geometry().width() : 1024;
    }
    int ScreenHeight() const override {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? s->geometry().height() : 768;
    }
};

std::unique_ptr<IDesktop>& DesktopSlot() {
    static std::unique_ptr<IDesktop> desktop;
    return desktop;
}

}  // namespace

TPicturePreview::TPicturePreview(int32_t width, int32_t height, TColor backdrop) : backdrop_(backdrop) {
    bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
    bitmap_.SetSize(std::max(width, 0), std::max(height, 0));
}

TPicturePreview::~TPicturePreview() = default;

void TPicturePreview::Select(const std::string& fileName) {
    picture_.reset();
    if (fileName.empty()) return;
    auto picture = std::make_unique<TPicture>();
    picture->LoadFromFile(fileName);
    picture->OnChange = [this](TObject*) {
        if (OnChange) OnChange();
    };
    picture_ = std::move(picture);
}

TPoint TPicturePreview::PictureSize() const {
    return picture_ ? TPoint{picture_->Width(), picture_->Height()} : TPoint{};
}

const TBitmap& TPicturePreview::Render() {
    const int32_t width = bitmap_.Width(), height = bitmap_.Height();
    bitmap_.Canvas().Brush.Color = backdrop_;
    bitmap_.Canvas().FillRect(Rect(0, 0, width, height));
    TGraphic* g = picture_ ? picture_->Graphic() : nullptr;
    if (g == nullptr || g->Empty() || bitmap_.Empty()) return bitmap_;
    // Fitted by width, or by height when that is the tighter side.
    int64_t w = width, h = int64_t(g->Height()) * width / std::max(g->Width(), 1);
    if (h > height) {
        h = height;
        w = int64_t(g->Width()) * height / std::max(g->Height(), 1);
    }
    w = std::max<int64_t>(w, 1);
    h = std::max<int64_t>(h, 1);
    const TRect target = Bounds(static_cast<int32_t>((width - w) / 2), static_cast<int32_t>((height - h) / 2),
                                static_cast<int32_t>(w), static_cast<int32_t>(h));
    bitmap_.Canvas().StretchDraw(target, *g);
    return bitmap_;
}

std::unique_ptr<TBitmap> PreviewBitmap(const std::string& fileName, int32_t width, int32_t height, TColor backdrop,
                                       TPoint* pictureSize) {
    TPicturePreview preview(width, height, backdrop);
    preview.Select(fileName);
    if (pictureSize != nullptr) *pictureSize = preview.PictureSize();
    auto bmp = std::make_unique<TBitmap>();
    bmp->Assign(&preview.Render());
    return bmp;
}

std::unique_ptr<IDesktop> CreateQtDesktop() { return std::make_unique<TQtDesktop>(); }

IDesktop& Desktop() {
    auto& slot = DesktopSlot();
    if (!slot) slot = CreateQtDesktop();
    return *slot;
}

std::unique_ptr<IDesktop> SetDesktop(std::unique_ptr<IDesktop> desktop) {
    auto& slot = DesktopSlot();
    std::unique_ptr<IDesktop> previous = std::move(slot);
    slot = desktop ? std::move(desktop) : CreateQtDesktop();
    return previous;
}

void ShowMessage(const std::string& text) { Desktop().ShowMessage(text); }

std::vector<std::string> MailCommandArguments(const TMailMessage& message) {
    std::vector<std::string> args{"--utf8"};
    if (!message.Subject.empty()) {
        args.push_back("--subject");
        args.push_back(message.Subject);
    }
    if (!message.NoteText.empty()) {
        args.push_back("--body");
        args.push_back(message.NoteText);
    }
    for (const auto& a : message.Attachments) {
        if (a.PathName.empty()) continue;
        args.push_back("--attach");
        args.push_back(a.PathName);
    }
    // The recipient last, as xdg-email expects; the address without its
    // transport prefix.
    for (const auto& r : message.Recipients) {
        std::string address = r.Address.empty() ? r.Name : r.Address;
        if (address.size() >= 5 && (address.compare(0, 5, "SMTP:") == 0 || address.compare(0, 5, "smtp:") == 0))
            address.erase(0, 5);
        if (address.empty()) continue;
        // A leading "-" would be taken for an option.
        if (address[0] == '-') continue;
        args.push_back(address);
    }
    return args;
}

// ------------------------------------------------------------ scripted desktop

int TScriptedDesktop::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    messageBoxes.push_back({text, caption, flags});
    if (messageBoxAnswers.empty()) return IDOK;
    int answer = messageBoxAnswers.front();
    messageBoxAnswers.pop_front();
    return answer;
}

void TScriptedDesktop::ShowMessage(const std::string& text) { messages.push_back(text); }

bool TScriptedDesktop::OpenPictureDialog(const std::string& filter, std::string& fileName) {
    openCalls.push_back({filter, fileName, 1});
    if (openAnswers.empty()) return false;
    TFileAnswer a = openAnswers.front();
    openAnswers.pop_front();
    if (a.ok) fileName = a.fileName;
    return a.ok;
}

bool TScriptedDesktop::SavePictureDialog(const std::string& filter, std::string& fileName, int& filterIndex) {
    saveCalls.push_back({filter, fileName, filterIndex});
    if (saveAnswers.empty()) return false;
    TFileAnswer a = saveAnswers.front();
    saveAnswers.pop_front();
    if (a.ok) {
        fileName = a.fileName;
        filterIndex = a.filterIndex;
    }
    return a.ok;
}

bool TScriptedDesktop::BrowseForFolder(const std::string& title, const std::string& initialDir, std::string& path) {
    folderCalls.push_back({title, initialDir});
    if (folderAnswers.empty()) return false;
    TFolderAnswer a = folderAnswers.front();
    folderAnswers.pop_front();
    if (a.ok) path = a.path;
    return a.ok;
}

bool TScriptedDesktop::PrintDialog(TPrinter& printer) {
    ++printCalls;
    if (printAnswers.empty()) return false;
    TPrintAnswer a = printAnswers.front();
    printAnswers.pop_front();
    if (a.ok) printer.SetOutputFileName(a.pdfPath);
    return a.ok;
}

int TScriptedDesktop::SendMail(const TMailMessage& message) {
    mails.push_back(message);
    if (mailResults.empty()) return SUCCESS_SUCCESS;
    int r = mailResults.front();
    mailResults.pop_front();
    return r;
}

bool TScriptedDesktop::OpenURL(const std::string& url) {
    urls.push_back(url);
    return openURLResult;
}
