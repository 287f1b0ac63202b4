#include "platform/forms/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
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
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <thread>

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

// The window a dialog or message box belongs to: the program's window the
// person is working in, else the main window. Owned by it, the box is
// placed over it and kept in front of it.
QWidget* ModalParent() {
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active->isVisible() && active->windowType() != Qt::Popup &&
        active->windowType() != Qt::ToolTip)
        return active;
    TForm* main = Application ? Application->MainForm() : nullptr;
    return main != nullptr && main->Visible() ? main->Window() : nullptr;
}

// Starts program and waits for it to hand its work over, painting the
// windows meanwhile: its exit code, or -1 when it could not start. One
// still running after waitMs (a mail client or browser kept in the
// foreground) has taken the work and finishes on its own.
int HandOver(const QString& program, const QStringList& arguments, int waitMs) {
    auto* process = new QProcess(QCoreApplication::instance());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start(program, arguments);
    if (!process->waitForStarted(5000)) {
        process->deleteLater();
        return -1;
    }
    if (process->state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (process->state() != QProcess::NotRunning) return 0;
    }
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

// The open dialog's preview: the selected picture file drawn into the
// label's own area over the dialog's background, drawn again whenever an
// animation moves on. A file the picture registry cannot read shows
// "(no preview)" with the reader's message under it. Files are read off
// the window thread: the pane stays empty until the picture is in.
class TPreviewLabel final : public QLabel {
public:
    explicit TPreviewLabel(QWidget* parent) : QLabel(parent) {
        setObjectName("preview");
        setFixedSize(200, 200);
        setAlignment(Qt::AlignCenter);
        setWordWrap(true);
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
        preview_->OnLoaded = [this](std::exception_ptr error) {
            if (error) {
                Try([&] { std::rethrow_exception(error); });
                return;
            }
            const TPoint size = preview_->PictureSize();
            setToolTip(QString("%1 x %2").arg(size.X).arg(size.Y));
            Refresh();
        };
    }

    void Select(const QString& path) {
        const QString file = QFileInfo(path).isFile() ? path : QString();
        // The dialog names the file it opened on again once its folder is
        // listed: that one is read once.
        if (file == selected_ && !file.isEmpty()) return;
        selected_ = file;
        clear();
        setToolTip(QString());
        preview_->SelectInBackground(S(file));
    }

private:
    void Refresh() {
        if (!preview_->HasPicture()) return;
        Try([&] {
            const TBitmap& bmp = preview_->Render();
            QImage img(bmp.Width(), bmp.Height(), QImage::Format_RGB32);
            for (int32_t y = 0; y < bmp.Height(); ++y) {
                const uint8_t* src = bmp.ScanLine(y);
                QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int32_t x = 0; x < bmp.Width(); ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
            }
            setPixmap(QPixmap::fromImage(img));
        });
    }

    // Runs step; when it raises, the pane says why instead (no message
    // box: the person is only looking through files).
    bool Try(const std::function<void()>& step) {
        QString reason;
        try {
            step();
            return true;
        } catch (const Exception& e) {
            reason = Q(e.Message());
        } catch (const std::exception& e) {
            reason = QString::fromLocal8Bit(e.what());
        } catch (...) {
        }
        setText(reason.isEmpty() ? QString("(no preview)") : "(no preview)\n\n" + reason);
        return false;
    }

    std::unique_ptr<TPicturePreview> preview_;
    QString selected_;
    bool refreshPending_ = false;
};

class TQtDesktop final : public IDesktop {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        QMessageBox box(ModalParent());
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
        QFileDialog dialog(ModalParent(), "Open");
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
        // The file the dialog opens on is shown before anything is clicked.
        if (!fileName.empty()) preview->Select(Q(fileName));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        fileName = S(dialog.selectedFiles().first());
        return true;
    }

    bool SavePictureDialog(const std::string& filter, std::string& fileName, int& filterIndex) override {
        QFileDialog dialog(ModalParent(), "Save As");
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
        QFileDialog dialog(ModalParent(), Q(title), start);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setFileMode(QFileDialog::Directory);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        path = S(QDir::toNativeSeparators(dialog.selectedFiles().first()));
        return true;
    }

    bool PrintDialog(TPrinter& printer) override {
        QPrintDialog dialog(printer.Device(), ModalParent());
        return dialog.exec() == QDialog::Accepted;
    }

    int SendMail(const TMailMessage& message) override {
        QStringList arguments;
        for (const auto& a : MailCommandArguments(message)) arguments << Q(a);
        // xdg-email hands over to the mail client and returns; a client that
        // keeps it waiting counts as started.
        return HandOver("xdg-email", arguments, 30000) == 0 ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
    }

    bool OpenURL(const std::string& url) override {
        // xdg-open says by its exit code that no browser took the address;
        // Qt's own call only knows whether it could start it.
        const QString tool = QStandardPaths::findExecutable("xdg-open");
        if (tool.isEmpty()) return QDesktopServices::openUrl(QUrl(Q(url)));
        return HandOver(tool, {Q(url)}, 10000) == 0;
    }

    int ScreenWidth() const override {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? s->geometry().width() : 1024;
    }
    int ScreenHeight() const override {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? s->geometry().height() : 768;
    }
    TRect WorkArea() const override {
        QScreen* s = QGuiApplication::primaryScreen();
        return s ? Available(*s) : IDesktop::WorkArea();
    }
    TRect WorkAreaAt(const TPoint& point) const override {
        QScreen* s = QGuiApplication::screenAt(QPoint(point.X, point.Y));
        return s ? Available(*s) : WorkArea();
    }

private:
    static TRect Available(const QScreen& screen) {
        const QRect r = screen.availableGeometry();
        return Bounds(r.x(), r.y(), r.width(), r.height());
    }
};

std::unique_ptr<IDesktop>& DesktopSlot() {
    static std::unique_ptr<IDesktop> desktop;
    return desktop;
}

}  // namespace

TRect IDesktop::WorkArea() const { return Rect(0, 0, ScreenWidth(), ScreenHeight()); }
TRect IDesktop::WorkAreaAt(const TPoint&) const { return WorkArea(); }

namespace {

// A 32-bit picture carries alpha when some alpha byte is not 0: bitmap
// files and everything drawn by a blit leave every one at 0, and those
// pictures are opaque.
bool CarriesAlpha(const TBitmap& bitmap) {
    if (bitmap.PixelFormat() != TPixelFormat::pf32bit) return false;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int32_t x = 0; x < bitmap.Width(); ++x)
            if (row[4 * x + 3] != 0) return true;
    }
    return false;
}

// For each of `from` source pixels along one side, the target pixel whose
// area holds its top-left corner; every target pixel gets at least one
// while to <= from.
std::vector<int32_t> TargetIndex(int32_t from, int32_t to) {
    std::vector<int32_t> index(static_cast<size_t>(from));
    for (int32_t i = 0; i < from; ++i) index[static_cast<size_t>(i)] = static_cast<int32_t>(int64_t{i} * to / from);
    return index;
}

// Writes source into target of dest (no larger on either side), each
// target pixel the rounded mean of the source pixels it covers. Each source
// pixel is first laid over backdrop: through its alpha byte when alpha is
// set, not at all where it has the bitmap's transparent colour.
void AverageInto(const TBitmap& source, bool alpha, TColor backdrop, TBitmap& dest, const TRect& target) {
    const int32_t sw = source.Width(), sh = source.Height(), tw = target.Width(), th = target.Height();
    const std::vector<int32_t> column = TargetIndex(sw, tw), row = TargetIndex(sh, th);
    std::vector<uint32_t> columnCount(static_cast<size_t>(tw), 0);
    for (int32_t c : column) ++columnCount[static_cast<size_t>(c)];
    const TColor back = ColorToRGB(backdrop);
    const uint32_t under[3] = {GetBValue(back), GetGValue(back), GetRValue(back)};
    const int64_t key = source.Transparent() ? int64_t{ColorToRGB(source.TransparentColor()) & 0xFFFFFF} : -1;
    // Rows of the other formats are read through a one-row 32-bit copy.
    const bool direct =
        source.PixelFormat() == TPixelFormat::pf32bit || source.PixelFormat() == TPixelFormat::pfDevice;
    TBitmap line;
    if (!direct) {
        line.SetPixelFormat(TPixelFormat::pf32bit);
        line.SetSize(sw, 1);
    }
    std::vector<uint64_t> sums(3 * static_cast<size_t>(tw), 0);
    uint32_t rows = 0;
    for (int32_t y = 0; y < sh; ++y) {
        const uint8_t* p = direct ? source.ScanLine(y) : nullptr;
        if (!direct) {
            line.Canvas().StretchBlt(Rect(0, 0, sw, 1), source, Rect(0, y, sw, y + 1));
            p = line.ScanLine(0);
        }
        for (int32_t x = 0; x < sw; ++x, p += 4) {
            uint32_t a = alpha ? p[3] : 255;
            if (key >= 0 && RGB(p[2], p[1], p[0]) == key) a = 0;
            uint64_t* sum = &sums[3 * static_cast<size_t>(column[static_cast<size_t>(x)])];
            for (int c = 0; c < 3; ++c) sum[c] += (p[c] * a + under[c] * (255 - a) + 127) / 255;
        }
        ++rows;
        const int32_t ty = row[static_cast<size_t>(y)];
        if (y + 1 < sh && row[static_cast<size_t>(y) + 1] == ty) continue;
        uint8_t* out = dest.ScanLine(target.Top + ty) + 4 * static_cast<size_t>(target.Left);
        for (int32_t x = 0; x < tw; ++x, out += 4) {
            const uint64_t count = uint64_t{columnCount[static_cast<size_t>(x)]} * rows;
            for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sums[3 * size_t(x) + c] + count / 2) / count);
            out[3] = 0;
        }
        std::fill(sums.begin(), sums.end(), 0);
        rows = 0;
    }
}

}  // namespace

TPicturePreview::TPicturePreview(int32_t width, int32_t height, TColor backdrop) : backdrop_(backdrop) {
    bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
    bitmap_.SetSize(std::max(width, 0), std::max(height, 0));
}

// One background read of a picture file for a preview. The reading thread
// fills picture or error and warnings before it hands the read to the
// window thread; owner belongs to the window thread alone.
struct TPreviewRead {
    std::string fileName;
    std::atomic<bool> abandoned{false};
    std::atomic<bool> finished{false};
    std::unique_ptr<TPicture> picture;
    std::exception_ptr error;
    std::vector<TPictureWarningCapture::TWarning> warnings;
    TPicturePreview* owner = nullptr;
};

// On the window thread: the read's outcome to its preview, unless it was
// abandoned meanwhile.
void FinishPreviewRead(const std::shared_ptr<TPreviewRead>& read) {
    TPicturePreview* preview = read->owner;
    if (preview == nullptr) return;
    preview->reading_ = nullptr;
    read->owner = nullptr;
    if (!read->error) preview->Show(std::move(read->picture));
    const std::vector<TPictureWarningCapture::TWarning> warnings = std::move(read->warnings);
    if (preview->OnLoaded) preview->OnLoaded(read->error);
    // Told once the picture stands in the pane, as a load on this thread
    // would have told them.
    for (const auto& w : warnings) PictureWarning(w.load, w.text);
}

namespace {

void ReadPicture(const std::shared_ptr<TPreviewRead>& read) {
    {
        TPictureWarningCapture warnings;
        try {
            auto picture = std::make_unique<TPicture>();
            // A read nobody waits for any more stops at its next report.
            picture->OnProgress = [&read](TObject*, TProgressStage stage, uint8_t, bool, const TRect&,
                                          const std::string&) {
                if (stage == TProgressStage::psRunning && read->abandoned.load()) throw EAbort("");
            };
            picture->LoadFromFile(read->fileName);
            picture->OnProgress = nullptr;
            read->picture = std::move(picture);
        } catch (...) {
            read->error = std::current_exception();
        }
        read->warnings = warnings.Take();
    }
    // The application, when there is one, lives until every read's thread
    // is joined (WaitForPreviewReads).
    if (QCoreApplication* app = QCoreApplication::instance(); app != nullptr && !read->abandoned.load())
        QMetaObject::invokeMethod(app, [read] { FinishPreviewRead(read); }, Qt::QueuedConnection);
    read->finished.store(true);
}

// The thread of every read started, kept until it is joined: when a later
// read starts, once it has finished, or at the end, abandoned.
class TPreviewReaders {
public:
    ~TPreviewReaders() { WaitForAll(); }

    void Start(const std::shared_ptr<TPreviewRead>& read) {
        std::vector<TRunning> done;
        {
            std::lock_guard lock(mutex_);
            const auto over = std::stable_partition(running_.begin(), running_.end(),
                                                    [](const TRunning& r) { return !r.read->finished.load(); });
            std::move(over, running_.end(), std::back_inserter(done));
            running_.erase(over, running_.end());
            running_.push_back({read, std::thread([read] { ReadPicture(read); })});
        }
        for (TRunning& r : done) r.thread.join();  // they have only to return
    }

    void WaitForAll() {
        std::vector<TRunning> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(running_);
        }
        for (TRunning& r : all) r.read->abandoned.store(true);
        for (TRunning& r : all) r.thread.join();
    }

private:
    struct TRunning {
        std::shared_ptr<TPreviewRead> read;
        std::thread thread;
    };
    std::mutex mutex_;
    std::vector<TRunning> running_;
};

TPreviewReaders& Readers() {
    static TPreviewReaders readers;
    return readers;
}

}  // namespace

void WaitForPreviewReads() { Readers().WaitForAll(); }

TPicturePreview::~TPicturePreview() { Abandon(); }

void TPicturePreview::Abandon() {
    if (!reading_) return;
    reading_->abandoned.store(true);
    reading_->owner = nullptr;
    reading_ = nullptr;
}

void TPicturePreview::Show(std::unique_ptr<TPicture> picture) {
    picture->OnChange = [this](TObject*) {
        if (OnChange) OnChange();
    };
    picture_ = std::move(picture);
}

void TPicturePreview::Select(const std::string& fileName) {
    Abandon();
    picture_.reset();
    own_.ReleaseImage();
    if (fileName.empty()) return;
    auto picture = std::make_unique<TPicture>();
    picture->LoadFromFile(fileName);
    Show(std::move(picture));
}

void TPicturePreview::SelectInBackground(const std::string& fileName) {
    Select("");
    if (fileName.empty()) return;
    auto read = std::make_shared<TPreviewRead>();
    read->fileName = fileName;
    read->owner = this;
    reading_ = read;
    Readers().Start(read);
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
    const bool shrink = g->Width() > target.Width() || g->Height() > target.Height();
    const auto* bitmap = dynamic_cast<const TBitmap*>(g);
    const bool alpha = bitmap != nullptr && CarriesAlpha(*bitmap);
    if (!shrink && !alpha) {
        bitmap_.Canvas().StretchDraw(target, *g);
        return bitmap_;
    }
    if (bitmap == nullptr) {
        // Pictures that draw themselves (animations, metafiles, icons) are
        // drawn at their own size over the backdrop, then shrunk.
        own_.SetPixelFormat(TPixelFormat::pf32bit);
        own_.SetSize(g->Width(), g->Height());
        own_.Canvas().Brush.Color = backdrop_;
        own_.Canvas().FillRect(Rect(0, 0, own_.Width(), own_.Height()));
        own_.Canvas().Draw(0, 0, *g);
        bitmap = &own_;
    }
    if (shrink) {
        AverageInto(*bitmap, alpha, backdrop_, bitmap_, target);
        return bitmap_;
    }
    // A small picture with alpha: laid over the backdrop, then stretched.
    own_.SetPixelFormat(TPixelFormat::pf32bit);
    own_.SetSize(g->Width(), g->Height());
    AverageInto(*bitmap, true, backdrop_, own_, Rect(0, 0, own_.Width(), own_.Height()));
    bitmap_.Canvas().StretchDraw(target, own_);
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
