// Forms, their loading from descriptions, menus, timers, dialog components,
// the application object and embedded resources.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPointingDevice>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/forms/FormsInternal.h"

using namespace forms_internal;

TApplication* Application = nullptr;

namespace {

template <class E, class... A>
void Fire(const E& event, A&&... args) {
    if (event) event(std::forward<A>(args)...);
}

template <class E>
bool Bind(E& target, const std::string& event, const THandler& handler) {
    const E* h = std::get_if<E>(&handler);
    if (!h) throw EFormError("the handler for " + event + " has the wrong parameters");
    target = *h;
    return true;
}

void DefaultHandleException(std::exception_ptr error, const std::string& title) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        // A silent abort: nothing to show.
    } catch (const Exception& e) {
        Desktop().MessageBox(e.Message(), title, MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        Desktop().MessageBox(e.what(), title, MB_OK | MB_ICONERROR);
    } catch (...) {
        Desktop().MessageBox("Unknown error", title, MB_OK | MB_ICONERROR);
    }
}

class TFormWindow : public QWidget {
public:
    explicit TFormWindow(TForm* form) : form_(form) {}
    TForm* form_;

protected:
    void closeEvent(QCloseEvent* e) override {
        // The form decides (OnClose); Qt never closes it on its own, nor
        // while the window thread is inside a run.
        e->ignore();
        if (!TBusyScope::Active()) InvokeHandler([this] { form_->Close(); });
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        form_->WindowResized();
    }
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() == QEvent::ActivationChange && isActiveWindow() && form_->OnActivate)
            InvokeHandler([this] { form_->OnActivate(form_); });
    }
    // Keys no control took reach the form; a handler that sets the key to
    // 0 has used it.
    void keyPressEvent(QKeyEvent* e) override {
        uint16_t key = VirtualKeyOf(e->key(), e->modifiers());
        if (key != 0 && form_->OnKeyDown) {
            const TShiftState shift = ShiftOf(e->modifiers(), Qt::NoButton);
            InvokeHandler([&] { form_->OnKeyDown(form_, key, shift); });
            if (key == 0) return e->accept();
        }
        QWidget::keyPressEvent(e);
    }
};

// While a stay-on-top form shows, every dialog and message box that opens
// (the program's own, and those a standard dialog opens in turn) is given
// the same level: below the form it could not be reached. The level is set
// as the box appears, before the window system maps it.
class TModalLevel final : public QObject {
protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* dialog = qobject_cast<QDialog*>(object);
        QWindow* handle = dialog != nullptr && dialog->isWindow() ? dialog->windowHandle() : nullptr;
        if (handle != nullptr && !(handle->flags() & Qt::WindowStaysOnTopHint) && StayOnTopFormShowing())
            handle->setFlags(handle->flags() | Qt::WindowStaysOnTopHint);
        return false;
    }

private:
    static bool StayOnTopFormShowing() {
        for (int i = 0; Application != nullptr && i < Application->FormCount(); ++i)
            if (Application->Forms(i)->FormStyle() == fsStayOnTop && Application->Forms(i)->Visible()) return true;
        return false;
    }
};

class TFormClient : public TPlainWidget {
public:
    TFormClient(TForm* form, QWidget* parent) : TPlainWidget(form), form_(form) { setParent(parent); }

protected:
    void wheelEvent(QWheelEvent* e) override {
        TControlScrollBar& bar = (e->modifiers() & Qt::ShiftModifier) ? form_->HorzScrollBar() : form_->VertScrollBar();
        const int steps = e->angleDelta().y() / 40;
        if (steps != 0 && bar.IsScrollBarVisible()) bar.SetPosition(bar.Position() - steps * bar.Increment());
        e->accept();
    }

private:
    TForm* form_;
};

using TFactory = std::function<std::unique_ptr<TComponent>()>;

const std::map<std::string, TFactory>& Factories() {
    static const std::map<std::string, TFactory> kFactories = {
        {"TPanel", [] { return std::make_unique<TPanel>(); }},
        {"TGroupBox", [] { return std::make_unique<TGroupBox>(); }},
        {"TToolBar", [] { return std::make_unique<TToolBar>(); }},
        {"TControlBar", [] { return std::make_unique<TControlBar>(); }},
        {"TLabel", [] { return std::make_unique<TLabel>(); }},
        {"TEdit", [] { return std::make_unique<TEdit>(); }},
        {"TMemo", [] { return std::make_unique<TMemo>(); }},
        {"TButton", [] { return std::make_unique<TButton>(); }},
        {"TSpeedButton", [] { return std::make_unique<TSpeedButton>(); }},
        {"TTrackBar", [] { return std::make_unique<TTrackBar>(); }},
        {"TProgressBar", [] { return std::make_unique<TProgressBar>(); }},
        {"TRadioButton", [] { return std::make_unique<TRadioButton>(); }},
        {"TCheckBox", [] { return std::make_unique<TCheckBox>(); }},
        {"TImage", [] { return std::make_unique<TImage>(); }},
        {"TListView", [] { return std::make_unique<TListView>(); }},
        {"TStatusBar", [] { return std::make_unique<TStatusBar>(); }},
        {"TSplitter", [] { return std::make_unique<TSplitter>(); }},
        {"TMainMenu", [] { return std::make_unique<TMainMenu>(); }},
        {"TMenuItem", [] { return std::make_unique<TMenuItem>(); }},
        {"TTimer", [] { return std::make_unique<TTimer>(); }},
        {"TOpenDialog", [] { return std::make_unique<TOpenDialog>(); }},
        {"TOpenPictureDialog", [] { return std::make_unique<TOpenPictureDialog>(); }},
        {"TSaveDialog", [] { return std::make_unique<TSaveDialog>(); }},
        {"TSavePictureDialog", [] { return std::make_unique<TSavePictureDialog>(); }},
        {"TPrintDialog", [] { return std::make_unique<TPrintDialog>(); }},
    };
    return kFactories;
}

std::string Where(const std::string& file, int line) { return file + "(" + std::to_string(line) + "): "; }

}  // namespace

void InvokeHandler(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
        else DefaultHandleException(std::current_exception(), "Error");
    }
}

// ------------------------------------------------------------ menus

TMenuItem::TMenuItem() = default;
TMenuItem::~TMenuItem() = default;  // the actions belong to the menu bar

void TMenuItem::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (action_) action_->setText(Q(caption));
    if (menu_) menu_->setTitle(Q(caption));
}

void TMenuItem::SetEnabled(bool value) {
    enabled_ = value;
    if (action_) action_->setEnabled(value);
    if (menu_) menu_->setEnabled(value);
}

void TMenuItem::SetVisible(bool value) {
    visible_ = value;
    if (action_) action_->setVisible(value);
    if (menu_) menu_->menuAction()->setVisible(value);
}

void TMenuItem::SetChecked(bool value) {
    checked_ = value;
    if (action_) {
        action_->setCheckable(value || action_->isCheckable());
        action_->setChecked(value);
    }
}

void TMenuItem::Add(TMenuItem* item) {
    item->parentItem_ = this;
    items_.push_back(item);
}

void TMenuItem::Click() { InvokeHandler([this] { Fire(OnClick, this); }); }

void TMenuItem::Build(QWidget* parent) {
    auto* bar = dynamic_cast<QMenuBar*>(parent);
    auto* menu = dynamic_cast<QMenu*>(parent);
    if (!bar && !menu) return;
    if (!items_.empty()) {
        menu_ = bar ? bar->addMenu(Q(caption_)) : menu->addMenu(Q(caption_));
        menu_->setEnabled(enabled_);
        menu_->menuAction()->setVisible(visible_);
        for (TMenuItem* child : items_) child->Build(menu_);
        return;
    }
    if (caption_ == "-") {
        action_ = bar ? bar->addSeparator() : menu->addSeparator();
        return;
    }
    action_ = bar ? bar->addAction(Q(caption_)) : menu->addAction(Q(caption_));
    action_->setEnabled(enabled_);
    action_->setVisible(visible_);
    if (checked_) {
        action_->setCheckable(true);
        action_->setChecked(true);
    }
    QObject::connect(action_, &QAction::triggered, action_, [this] { InvokeHandler([this] { Click(); }); });
}

bool TMenuItem::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Caption") SetCaption(v.AsString());
    else if (name == "Enabled") SetEnabled(v.AsBool());
    else if (name == "Visible") SetVisible(v.AsBool());
    else if (name == "Checked") SetChecked(v.AsBool());
    else if (name == "ShortCut" || name == "GroupIndex" || name == "RadioItem" || name == "ImageIndex" || name == "Hint")
        (void)v;
    else return TComponent::SetProperty(name, v);
    return true;
}

bool TMenuItem::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnClick") return Bind(OnClick, event, h);
    return TComponent::BindEvent(event, h);
}

TMainMenu::TMainMenu() = default;

void TMainMenu::Add(TMenuItem* item) {
    item->parentItem_ = nullptr;
    items_.push_back(item);
}

TMenuItem* TMainMenu::Find(const std::vector<std::string>& captions) const {
    auto clean = [](const std::string& s) { return S(StripAccelerators(s)); };
    const std::vector<TMenuItem*>* level = &items_;
    TMenuItem* found = nullptr;
    for (const std::string& want : captions) {
        found = nullptr;
        for (TMenuItem* item : *level)
            if (clean(item->Caption()) == clean(want)) {
                found = item;
                break;
            }
        if (!found) return nullptr;
        level = &found->items_;
    }
    return found;
}

void TMainMenu::BuildInto(QMenuBar* bar) {
    bar->clear();
    for (TMenuItem* item : items_) item->Build(bar);
}

// ------------------------------------------------------------ timer

TTimer::TTimer() : timer_(new QTimer) {
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
        if (enabled_) InvokeHandler([this] { Tick(); });
    });
}

TTimer::~TTimer() { delete timer_; }

void TTimer::SetInterval(unsigned ms) {
    interval_ = ms;
    Restart();
}

void TTimer::SetEnabled(bool value) {
    enabled_ = value;
    Restart();
}

void TTimer::Restart() {
    if (Loading()) return;
    if (enabled_ && interval_ > 0 && OnTimer) timer_->start(static_cast<int>(std::min<unsigned>(interval_, INT32_MAX)));
    else timer_->stop();
}

// A disabled timer does not tick.
void TTimer::Tick() {
    if (enabled_) InvokeHandler([this] { Fire(OnTimer, this); });
}
void TTimer::Loaded() { Restart(); }

bool TTimer::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Interval") {
        const int ms = v.AsInt();
        if (ms < 0) v.Fail("interval must not be negative");
        SetInterval(static_cast<unsigned>(ms));
    } else if (name == "Enabled") SetEnabled(v.AsBool());
    else return TComponent::SetProperty(name, v);
    return true;
}

bool TTimer::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnTimer") {
        Bind(OnTimer, event, h);
        Restart();
        return true;
    }
    return TComponent::BindEvent(event, h);
}

// ------------------------------------------------------------ dialog components

bool TOpenDialog::Execute() {
    std::string name = FileName;
    if (name.empty() && !InitialDir.empty()) name = InitialDir + "/";
    if (!Desktop().OpenPictureDialog(Filter, name)) return false;
    FileName = name;
    return true;
}

bool TOpenDialog::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "FileName") FileName = v.AsString();
    else if (name == "Filter") Filter = v.AsString();
    else if (name == "FilterIndex") FilterIndex = v.AsInt();
    else if (name == "InitialDir") InitialDir = v.AsString();
    else if (name == "DefaultExt") DefaultExt = v.AsString();
    else if (name == "Title") Title = v.AsString();
    else if (name == "Options" || name == "Left" || name == "Top") (void)v;
    else return TComponent::SetProperty(name, v);
    return true;
}

TOpenPictureDialog::TOpenPictureDialog() { Filter = TPicture::GraphicFilter(TGraphic::StaticClass()); }

bool TSaveDialog::Execute() {
    std::string name = FileName;
    if (name.empty() && !InitialDir.empty()) name = InitialDir + "/";
    int index = FilterIndex;
    if (!Desktop().SavePictureDialog(Filter, name, index)) return false;
    FileName = name;
    FilterIndex = index;
    return true;
}

TSavePictureDialog::TSavePictureDialog() { Filter = TPicture::GraphicFilter(TGraphic::StaticClass()); }

bool TPrintDialog::Execute() { return Desktop().PrintDialog(Printer()); }

bool TPrintDialog::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Copies") Copies = v.AsInt();
    else if (name == "Options" || name == "MinPage" || name == "MaxPage" || name == "PrintRange") (void)v;
    else return TComponent::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ scroll bars

int TControlScrollBar::MaxPosition() const {
    if (!form_ || !showing_) return 0;
    const int visible = horizontal_ ? form_->ClientWidth() : form_->ClientHeight();
    int range = range_;
    if (range <= 0) range = horizontal_ ? form_->hscrollExtent_ : form_->vscrollExtent_;
    return std::max(0, range - visible);
}

void TControlScrollBar::SetPosition(int value) {
    if (!form_ || form_->loading_) {
        position_ = std::max(0, value);
        return;
    }
    value = std::clamp(value, 0, MaxPosition());
    if (value == position_) return;
    const int delta = position_ - value;
    position_ = value;
    if (horizontal_) form_->ScrollBy(delta, 0);
    else form_->ScrollBy(0, delta);
}

void TControlScrollBar::SetRange(int value) {
    range_ = std::max(0, value);
    if (form_) form_->LayoutWindow();
}

void TControlScrollBar::SetTracking(bool value) {
    tracking_ = value;
    if (bar_) bar_->setTracking(value);
}

void TControlScrollBar::SetVisible(bool value) {
    visible_ = value;
    if (form_) form_->LayoutWindow();
}

bool TControlScrollBar::IsScrollBarVisible() const { return showing_; }

void TControlScrollBar::SetIncrement(int value) {
    increment_ = std::max(1, value);
    if (bar_) bar_->setSingleStep(increment_);
}

// ------------------------------------------------------------ TForm

TForm::TForm() {
    auto* window = new TFormWindow(this);
    Attach(window);
    client_ = new TFormClient(this, window);
    menuBar_ = new QMenuBar(window);
    menuBar_->setNativeMenuBar(false);
    menuBar_->hide();
    for (TControlScrollBar* bar : {&hscroll_, &vscroll_}) {
        bar->form_ = this;
        bar->horizontal_ = bar == &hscroll_;
        bar->bar_ = new QScrollBar(bar->horizontal_ ? Qt::Horizontal : Qt::Vertical, window);
        bar->bar_->hide();
        bar->bar_->setTracking(false);
        bar->bar_->setSingleStep(bar->increment_);
        QObject::connect(bar->bar_, &QScrollBar::valueChanged, bar->bar_, [bar](int v) { bar->SetPosition(v); });
    }
    parentColor_ = false;
    parentFont_ = false;
    visible_ = false;
    font_.SetHeight(-11);
    ApplyColors();
    window->resize(300, 200);
    LayoutWindow();
}

TForm::~TForm() {
    if (OnDestroy) InvokeHandler([this] { OnDestroy(this); });
    // The window takes every control's widget with it; the components only
    // hold pointers to them and are destroyed after, newest first.
    QPointer<QWidget> window(widget_);
    delete window.data();
    while (!components_.empty()) components_.pop_back();
}

void TForm::ApplyColors() {
    TControl::ApplyColors();
    // The menu bar keeps the platform's menu colour, whatever the form's.
    if (menuBar_) {
        QPalette mp = menuBar_->palette();
        mp.setColor(QPalette::Window, ToQColor(clMenu));
        mp.setColor(QPalette::Button, ToQColor(clMenu));
        mp.setColor(QPalette::WindowText, ToQColor(clMenuText));
        mp.setColor(QPalette::ButtonText, ToQColor(clMenuText));
        menuBar_->setPalette(mp);
        menuBar_->setAutoFillBackground(true);
    }
    if (auto* c = static_cast<TPlainWidget*>(client_)) {
        c->fill = true;
        c->color = ToQColor(color_);
        QPalette pal = c->palette();
        pal.setColor(QPalette::Window, ToQColor(color_));
        c->setPalette(pal);
        c->update();
    }
}

void TForm::ApplyFont() { widget_->setFont(ToQFont(font_)); }

void TForm::AddHandler(const std::string& name, THandler handler) { handlers_[name] = std::move(handler); }

void TForm::MissingComponent(const std::string& name, TComponent* found) const {
    if (!found) throw EFormError("Form " + Name() + " has no component " + name);
    throw EFormError("Component " + name + " of form " + Name() + " is a " + found->ClassName());
}

TComponent* TForm::FindComponent(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

TComponent* TForm::InsertComponent(std::unique_ptr<TComponent> component) {
    TComponent* c = component.get();
    c->owner_ = this;
    if (!c->Name().empty()) {
        if (byName_.count(c->Name())) throw EFormError("A component named " + c->Name() + " already exists");
        byName_[c->Name()] = c;
    }
    components_.push_back(std::move(component));
    return c;
}

void TForm::LoadFromResource(const std::string& name) {
    const std::string file = name.size() > 5 && name.compare(name.size() - 5, 5, ".form") == 0 ? name : name + ".form";
    const std::vector<uint8_t> bytes = LoadResource(file);
    LoadFromText(std::string(bytes.begin(), bytes.end()), file);
}

void TForm::LoadFromText(const std::string& text, const std::string& fileName) {
    LoadFromDescription(ParseFormDescription(text, fileName));
}

namespace {
struct TPendingEvent {
    TComponent* component;
    std::string event, handler, file;
    int line;
};
}  // namespace

// Applies one object's properties; events wait until everything exists.
static void ApplyProperties(TComponent* c, const TFormObject& obj, std::vector<TPendingEvent>& events) {
    for (const TFormProperty& p : obj.Properties) {
        if (p.Name.size() > 2 && p.Name.compare(0, 2, "On") == 0 && p.Name.find('.') == std::string::npos) {
            events.push_back({c, p.Name, p.Value.AsIdent(), obj.FileName, p.Line});
            continue;
        }
        bool known = false;
        try {
            known = c->SetProperty(p.Name, p.Value);
        } catch (const EFormError& e) {
            const std::string& m = e.Message();
            // Messages of the value parsers already name the place.
            if (m.rfind(obj.FileName + "(", 0) == 0) throw;
            throw EFormError(Where(obj.FileName, p.Line) + m);
        } catch (const Exception& e) {
            throw EFormError(Where(obj.FileName, p.Line) + p.Name + ": " + e.Message());
        }
        if (!known) throw EFormError(Where(obj.FileName, p.Line) + "unknown property " + p.Name + " of " + obj.ClassName);
    }
}

void TForm::LoadFromDescription(const TFormObject& root) {
    loading_ = true;
    fileName_ = root.FileName;
    SetName(root.Name);
    std::vector<TPendingEvent> events;
    try {
        ApplyProperties(this, root, events);
        std::function<void(const TFormObject&, TWinControl*, TComponent*)> create =
            [&](const TFormObject& obj, TWinControl* parentControl, TComponent* parentComponent) {
                auto f = Factories().find(obj.ClassName);
                if (f == Factories().end())
                    throw EFormError(Where(obj.FileName, obj.Line) + "unknown class " + obj.ClassName);
                if (byName_.count(obj.Name) || obj.Name == Name())
                    throw EFormError(Where(obj.FileName, obj.Line) + "duplicate name " + obj.Name);
                std::unique_ptr<TComponent> owned = f->second();
                TComponent* c = owned.get();
                c->SetName(obj.Name);
                c->owner_ = this;
                components_.push_back(std::move(owned));
                byName_[obj.Name] = c;
                if (auto* control = dynamic_cast<TControl*>(c)) {
                    if (!parentControl)
                        throw EFormError(Where(obj.FileName, obj.Line) + obj.Name + " has no container to sit in");
                    control->SetParent(parentControl);
                } else if (auto* item = dynamic_cast<TMenuItem*>(c)) {
                    if (auto* m = dynamic_cast<TMainMenu*>(parentComponent)) m->Add(item);
                    else if (auto* pi = dynamic_cast<TMenuItem*>(parentComponent)) pi->Add(item);
                    else throw EFormError(Where(obj.FileName, obj.Line) + "menu item " + obj.Name + " outside a menu");
                }
                ApplyProperties(c, obj, events);
                auto* container = dynamic_cast<TWinControl*>(c);
                for (const TFormObject& child : obj.Children) {
                    const bool childIsControl = Factories().count(child.ClassName) &&
                                                child.ClassName != "TMainMenu" && child.ClassName != "TMenuItem" &&
                                                child.ClassName != "TTimer" && child.ClassName.find("Dialog") == std::string::npos;
                    if (childIsControl && !container && dynamic_cast<TControl*>(c))
                        throw EFormError(Where(child.FileName, child.Line) + obj.Name + " cannot hold controls");
                    create(child, container ? container : parentControl, c);
                }
            };
        for (const TFormObject& child : root.Children) create(child, this, this);

        if (!pendingMenu_.empty()) {
            auto* menu = dynamic_cast<TMainMenu*>(FindComponent(pendingMenu_));
            if (!menu) throw EFormError(Where(fileName_, pendingMenuLine_) + "no main menu named " + pendingMenu_);
            SetMenu(menu);
        }
        for (const TPendingEvent& e : events) {
            auto h = handlers_.find(e.handler);
            if (h == handlers_.end())
                throw EFormError(Where(e.file, e.line) + "handler " + e.handler + " for " + e.component->Name() + "." +
                                 e.event + " is not registered");
            bool bound = false;
            try {
                bound = e.component->BindEvent(e.event, h->second);
            } catch (const EFormError& err) {
                throw EFormError(Where(e.file, e.line) + e.handler + ": " + err.Message());
            }
            if (!bound)
                throw EFormError(Where(e.file, e.line) + e.component->ClassName() + " has no event " + e.event);
        }
    } catch (...) {
        loading_ = false;
        throw;
    }
    // Still loading while the window takes its final geometry: OnResize
    // must not reach the form class before its Loaded has run.
    for (auto& c : components_) c->Loaded();
    ApplyWindowFlags();
    if (clientW_ > 0) SetClientWidth(clientW_);
    if (clientH_ > 0) SetClientHeight(clientH_);
    std::function<void(TWinControl*)> realign = [&](TWinControl* w) {
        w->AlignControls();
        for (int i = 0; i < w->ControlCount(); ++i)
            if (auto* inner = dynamic_cast<TWinControl*>(w->Controls(i))) realign(inner);
    };
    realign(this);
    LayoutWindow();
    lastWidth_ = Width();
    lastHeight_ = Height();
    loading_ = false;
    Loaded();
}

void TForm::DoCreate() {
    if (OnCreate) InvokeHandler([this] { OnCreate(this); });
    if (showAfterCreate_) {
        showAfterCreate_ = false;
        InvokeHandler([this] { Show(); });
    }
}

bool TForm::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "ClientWidth") SetClientWidth(v.AsInt());
    else if (name == "ClientHeight") SetClientHeight(v.AsInt());
    else if (name == "Caption") SetCaption(v.AsString());
    else if (name == "BorderStyle")
        SetBorderStyle(static_cast<TFormBorderStyle>(
            EnumValue(v, {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"})));
    else if (name == "BorderIcons")
        SetBorderIcons(SetValue(v, {{"biSystemMenu", biSystemMenu}, {"biMinimize", biMinimize},
                                    {"biMaximize", biMaximize}, {"biHelp", biHelp}}));
    else if (name == "FormStyle") SetFormStyle(static_cast<TFormStyle>(EnumValue(v, {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"})));
    else if (name == "Position")
        SetPosition(static_cast<TPosition>(EnumValue(v, {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                                                         "poScreenCenter", "poDesktopCenter", "poMainFormCenter",
                                                         "poOwnerFormCenter"})));
    else if (name == "Menu") {
        pendingMenu_ = v.AsIdent();
        pendingMenuLine_ = v.Line;
    } else if (name == "AutoScroll") SetAutoScroll(v.AsBool());
    else if (name == "Visible") {
        if (loading_) showAfterCreate_ = v.AsBool();
        else SetVisible(v.AsBool());
    } else if (name.rfind("HorzScrollBar.", 0) == 0 || name.rfind("VertScrollBar.", 0) == 0) {
        TControlScrollBar& bar = name[0] == 'H' ? hscroll_ : vscroll_;
        const std::string sub = name.substr(14);
        if (sub == "Range") bar.SetRange(v.AsInt());
        else if (sub == "Position") bar.SetPosition(v.AsInt());
        else if (sub == "Tracking") bar.SetTracking(v.AsBool());
        else if (sub == "Visible") bar.SetVisible(v.AsBool());
        else if (sub == "Increment") bar.SetIncrement(v.AsInt());
        else if (sub == "Smooth" || sub == "Style" || sub == "ButtonSize" || sub == "Size" || sub == "Margin") (void)v;
        else return false;
    } else if (name == "OldCreateOrder" || name == "PixelsPerInch" || name == "TextHeight" || name == "KeyPreview" ||
               name == "Scaled" || name == "WindowState" || name == "Icon" || name == "ShowHint")
        (void)v;
    else return TWinControl::SetProperty(name, v);
    return true;
}

bool TForm::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnCreate") return Bind(OnCreate, event, h);
    if (event == "OnShow") return Bind(OnShow, event, h);
    if (event == "OnHide") return Bind(OnHide, event, h);
    if (event == "OnDestroy") return Bind(OnDestroy, event, h);
    if (event == "OnActivate") return Bind(OnActivate, event, h);
    if (event == "OnClose") return Bind(OnClose, event, h);
    if (event == "OnKeyDown") return Bind(OnKeyDown, event, h);
    return TWinControl::BindEvent(event, h);
}

// --- window state

void TForm::SetVisible(bool value) {
    if (value == visible_) {
        if (value) BringToFront();
        return;
    }
    visible_ = value;
    if (!value) {
        widget_->hide();
        Fire(OnHide, this);
        return;
    }
    if (!shownOnce_) {
        shownOnce_ = true;
        const int sw = Screen()->Width(), sh = Screen()->Height();
        TForm* main = Application ? Application->MainForm() : nullptr;
        if (position_ == poScreenCenter || position_ == poDesktopCenter)
            widget_->move((sw - Width()) / 2, (sh - Height()) / 2);
        else if ((position_ == poMainFormCenter || position_ == poOwnerFormCenter) && main && main != this)
            widget_->move(main->Left() + (main->Width() - Width()) / 2, main->Top() + (main->Height() - Height()) / 2);
    }
    // The platform runs OnShow before the window appears.
    Fire(OnShow, this);
    if (!visible_) return;  // OnShow hid it again
    KeepOnScreen();
    widget_->show();
    LayoutWindow();
    BringToFront();
}

TPoint PlaceOnArea(const TRect& bounds, const TRect& area) {
    // Right and bottom first: a form larger than the area keeps its top-left
    // corner, and with it the caption, on the area.
    const auto place = [](int64_t at, int64_t size, int64_t low, int64_t high) {
        return static_cast<int32_t>(std::max(low, std::min(at, high - size)));
    };
    return {place(bounds.Left, bounds.Width(), area.Left, area.Right),
            place(bounds.Top, bounds.Height(), area.Top, area.Bottom)};
}

void TForm::KeepOnScreen() {
    // The screen under the window's centre keeps it, so that a window moved
    // to another screen stays there; one on no screen goes to the primary.
    const TRect area = Desktop().WorkAreaAt({Left() + Width() / 2, Top() + Height() / 2});
    // A form the person may resize is made small enough for the area; a
    // fixed one keeps its size.
    const bool sizeable = borderStyle_ == bsSizeable || borderStyle_ == bsSizeToolWin;
    const int width = sizeable ? std::min(Width(), std::max(area.Width(), 1)) : Width();
    const int height = sizeable ? std::min(Height(), std::max(area.Height(), 1)) : Height();
    const TPoint p = PlaceOnArea(Bounds(Left(), Top(), width, height), area);
    if (p.X != Left() || p.Y != Top()) widget_->move(p.X, p.Y);
    if (width != Width() || height != Height())
        ResizeWindow(width - 2 * kFrameWidth, height - kCaptionHeight - kFrameWidth);
}

void TForm::Show() { SetVisible(true); }

void TForm::Close() {
    TCloseAction action = caHide;
    Fire(OnClose, this, action);
    if (action == caNone) return;
    if (Application && Application->MainForm() == this) {
        // The main window goes away, then the message loop ends.
        Hide();
        Application->Terminate();
        return;
    }
    if (action == caMinimize) widget_->showMinimized();
    else Hide();
}

bool TForm::CloseQuery() { return true; }

bool TForm::Active() const { return widget_->isActiveWindow(); }

void TForm::SetFocus() { BringToFront(); }

void TForm::SetCaption(const std::string& caption) {
    caption_ = caption;
    widget_->setWindowTitle(StripAccelerators(caption));
}

int TForm::Width() const { return widget_->width() + 2 * kFrameWidth; }
int TForm::Height() const { return widget_->height() + kCaptionHeight + kFrameWidth; }
int TForm::ClientWidth() const { return client_->width(); }
int TForm::ClientHeight() const { return client_->height(); }

void TForm::ResizeWindow(int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (borderStyle_ == bsSizeable || borderStyle_ == bsSizeToolWin) {
        widget_->setMinimumSize(0, 0);
        widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        widget_->resize(width, height);
    } else {
        widget_->setFixedSize(width, height);
    }
    LayoutWindow();
    NotifyResize();
}

void TForm::ApplyFixedSize() { ResizeWindow(widget_->width(), widget_->height()); }

void TForm::SetBounds(int left, int top, int width, int height) {
    widget_->move(left, top);
    ResizeWindow(width - 2 * kFrameWidth, height - kCaptionHeight - kFrameWidth);
    if (visible_ && !loading_) KeepOnScreen();
}

// A bar may come or go with the new size, so the size is settled in up to
// two rounds.
void TForm::SetClientWidth(int value) {
    if (loading_) clientW_ = value;
    for (int round = 0; round < 2; ++round) {
        ResizeWindow(value + (vscroll_.showing_ ? ScrollBarExtent(false) : 0), widget_->height());
        if (ClientWidth() == value) break;
    }
}

void TForm::SetClientHeight(int value) {
    if (loading_) clientH_ = value;
    const int menu = menu_ ? kMenuHeight : 0;
    for (int round = 0; round < 2; ++round) {
        ResizeWindow(widget_->width(), value + menu + (hscroll_.showing_ ? ScrollBarExtent(true) : 0));
        if (ClientHeight() == value) break;
    }
}

void TForm::SetColor(TColor color) { TControl::SetColor(color); }

void TForm::SetBorderStyle(TFormBorderStyle style) {
    borderStyle_ = style;
    if (!loading_) ApplyWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons icons) {
    borderIcons_ = icons;
    if (!loading_) ApplyWindowFlags();
}

void TForm::SetFormStyle(TFormStyle style) {
    formStyle_ = style;
    if (!loading_) ApplyWindowFlags();
}

void TForm::SetMenu(TMainMenu* menu) {
    menu_ = menu;
    if (menu) {
        menu->BuildInto(menuBar_);
        menuBar_->show();
    } else {
        menuBar_->clear();
        menuBar_->hide();
    }
    LayoutWindow();
}

void TForm::SetAutoScroll(bool value) {
    autoScroll_ = value;
    LayoutWindow();
}

void TForm::ApplyWindowFlags() {
    TForm* main = Application ? Application->MainForm() : nullptr;
    // Stay-on-top dialogs float over the main window as tool windows.
    const bool tool = formStyle_ == fsStayOnTop && main && main != this;
    Qt::WindowFlags f = tool ? Qt::Tool : borderStyle_ == bsDialog ? Qt::Dialog : Qt::Window;
    if (borderStyle_ == bsNone) {
        f |= Qt::FramelessWindowHint;
    } else {
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (borderIcons_ & biSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if ((borderIcons_ & biMinimize) && borderStyle_ != bsDialog && !tool) f |= Qt::WindowMinimizeButtonHint;
        if ((borderIcons_ & biMaximize) && (borderStyle_ == bsSizeable)) f |= Qt::WindowMaximizeButtonHint;
    }
    if (formStyle_ == fsStayOnTop) f |= Qt::WindowStaysOnTopHint;
    QWidget* parent = tool ? main->Window() : nullptr;
    const bool wasVisible = widget_->isVisible();
    const QPoint pos = widget_->pos();
    const QSize size = widget_->size();
    if (widget_->parentWidget() != parent || widget_->windowFlags() != f) widget_->setParent(parent, f);
    widget_->move(pos);
    ResizeWindow(size.width(), size.height());
    if (wasVisible) widget_->show();
}

int TForm::ScrollBarExtent(bool horizontal) const {
    const QSize hint = (horizontal ? hscroll_.bar_ : vscroll_.bar_)->sizeHint();
    return horizontal ? hint.height() : hint.width();
}

void TForm::LayoutWindow() {
    if (layingOut_) return;
    layingOut_ = true;
    const int w = widget_->width(), h = widget_->height();
    const int menuH = menu_ ? kMenuHeight : 0;
    menuBar_->setGeometry(0, 0, w, menuH);

    // Extents of the scrolling controls in unscrolled coordinates.
    int extentX = 0, extentY = 0;
    if (autoScroll_)
        for (TControl* c : controls_) {
            if (!c->Visible() || c->Align() != alNone) continue;
            extentX = std::max(extentX, c->Left() + c->Width() + hscroll_.position_);
            extentY = std::max(extentY, c->Top() + c->Height() + vscroll_.position_);
        }
    hscrollExtent_ = extentX;
    vscrollExtent_ = extentY;
    const int rangeX = hscroll_.range_ > 0 ? hscroll_.range_ : extentX;
    const int rangeY = vscroll_.range_ > 0 ? vscroll_.range_ : extentY;
    const int sbH = ScrollBarExtent(true), sbW = ScrollBarExtent(false);
    int availW = w, availH = h - menuH;
    bool showH = false, showV = false;
    // Showing one bar narrows the other axis; two rounds settle it.
    for (int round = 0; round < 2 && !loading_; ++round) {
        showH = hscroll_.visible_ && (autoScroll_ || hscroll_.range_ > 0) && rangeX > availW;
        showV = vscroll_.visible_ && (autoScroll_ || vscroll_.range_ > 0) && rangeY > availH;
        availW = w - (showV ? sbW : 0);
        availH = h - menuH - (showH ? sbH : 0);
    }
    availW = std::max(0, availW);
    availH = std::max(0, availH);
    hscroll_.showing_ = showH;
    vscroll_.showing_ = showV;
    client_->setGeometry(0, menuH, availW, availH);
    hscroll_.bar_->setGeometry(0, menuH + availH, availW, sbH);
    vscroll_.bar_->setGeometry(availW, menuH, sbW, availH);
    hscroll_.bar_->setVisible(showH);
    vscroll_.bar_->setVisible(showV);
    for (TControlScrollBar* bar : {&hscroll_, &vscroll_}) {
        const int page = bar->horizontal_ ? availW : availH;
        const int range = bar->horizontal_ ? rangeX : rangeY;
        const bool blocked = bar->bar_->blockSignals(true);
        bar->bar_->setRange(0, bar->showing_ ? std::max(0, range - page) : 0);
        bar->bar_->setPageStep(std::max(1, page));
        bar->bar_->setValue(bar->position_);
        bar->bar_->blockSignals(blocked);
    }
    const bool clientResized = availW != layoutClientW_ || availH != layoutClientH_;
    layoutClientW_ = availW;
    layoutClientH_ = availH;
    layingOut_ = false;

    // A bar that went away or a range that shrank scrolls back.
    if (!loading_) {
        for (TControlScrollBar* bar : {&hscroll_, &vscroll_})
            if (bar->position_ > bar->MaxPosition()) bar->SetPosition(bar->MaxPosition());
        if (clientResized) AlignControls();
    }
}

void TForm::ScrollBy(int dx, int dy) {
    scrolling_ = true;
    for (TControl* c : controls_)
        if (c->Align() == alNone) c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
    scrolling_ = false;
    LayoutWindow();
}

void TForm::ChildGeometryChanged() {
    if (!scrolling_ && !loading_) LayoutWindow();
}

void TForm::NotifyResize() {
    if (loading_) return;
    const int w = Width(), h = Height();
    if (w == lastWidth_ && h == lastHeight_) return;
    lastWidth_ = w;
    lastHeight_ = h;
    Fire(OnResize, this);
}

void TForm::WindowResized() {
    LayoutWindow();
    InvokeHandler([this] { NotifyResize(); });
}

// ------------------------------------------------------------ screen

int TScreen::Width() const { return Desktop().ScreenWidth(); }
int TScreen::Height() const { return Desktop().ScreenHeight(); }

void TScreen::SetCursor(TCursor cursor) {
    if (cursor == cursor_) return;
    if (cursor_ != crDefault) QGuiApplication::restoreOverrideCursor();
    cursor_ = cursor;
    if (cursor != crDefault) QGuiApplication::setOverrideCursor(QCursor(ToQtCursor(cursor)));
}

TScreen* Screen() {
    static TScreen screen;
    return &screen;
}

// ------------------------------------------------------------ application

namespace {
int fallbackArgc = 1;
char fallbackName[] = "quillarc";
char* fallbackArgv[] = {fallbackName, nullptr};
}  // namespace

TApplication::TApplication(int& argc, char** argv) {
    if (!QApplication::instance()) {
        if (argc <= 0 || !argv) ownApp_ = std::make_unique<QApplication>(fallbackArgc, fallbackArgv);
        else ownApp_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt makes its input devices on first use; made now, they outlive an
    // application object kept in a static (as test programs do).
    QPointingDevice::primaryPointingDevice();
    QInputDevice::primaryKeyboard();
    previousHandler_ = SetMessageBoxHandler(
        [](const std::string& text, const std::string& caption, unsigned flags) {
            TBusyScope::TPause pause;
            return Desktop().MessageBox(text, caption, flags);
        });
    // One box for the first warning of a picture's load; a damaged file
    // must not open a box for every damaged strip.
    // (The core calls a copy of the handler: the last load shown is shared.)
    previousWarningHandler_ = SetPictureWarningHandler(
        [shown = std::make_shared<uint64_t>(0)](uint64_t load, const std::string& text) {
            if (load == *shown) return;
            *shown = load;
            TBusyScope::TPause pause;
            Desktop().MessageBox(text, "Warning", MB_OK | MB_ICONWARNING);
        });
    // Workers hand steps to the window thread: the event loop runs them as
    // soon as one is queued.
    previousWake_ = SetWakeMainThreadHook([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    });
    // Code that waits inside the window loop pumps it; a quit asked for
    // meanwhile is this application's Terminate.
    previousPump_ = SetMessagePump({[] {
                                        QCoreApplication::processEvents();
                                        return Application != nullptr && Application->Terminated();
                                    },
                                    [] {
                                        if (Application) Application->Terminate();
                                    }});
    modalLevel_ = std::make_unique<TModalLevel>();
    QCoreApplication::instance()->installEventFilter(modalLevel_.get());
    // An exception no caller waits for (a worker's) is reported once the
    // loop is idle, as one from an event handler would be.
    previousExceptionHandler_ = SetApplicationExceptionHandler([](std::exception_ptr error) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [error] { InvokeHandler([error] { std::rethrow_exception(error); }); }, Qt::QueuedConnection);
    });
    Application = this;
}

TApplication::~TApplication() {
    DestroyForms();
    // A preview's read still running hands its outcome to the application.
    WaitForPreviewReads();
    modalLevel_.reset();
    ReleasePrinter();
    SetApplicationExceptionHandler(std::move(previousExceptionHandler_));
    SetMessagePump(std::move(previousPump_));
    SetWakeMainThreadHook(std::move(previousWake_));
    SetMessageBoxHandler(std::move(previousHandler_));
    SetPictureWarningHandler(std::move(previousWarningHandler_));
    if (Application == this) Application = nullptr;
    ownApp_.reset();
}

void TApplication::AdoptForm(std::unique_ptr<TForm> form, const std::string& resourceName) {
    TForm* f = form.get();
    forms_.push_back(std::move(form));
    if (!mainForm_) mainForm_ = f;
    try {
        f->LoadFromResource(resourceName);
    } catch (...) {
        if (mainForm_ == f) mainForm_ = nullptr;
        forms_.pop_back();
        throw;
    }
    f->DoCreate();
}

void TApplication::Run() {
    if (!mainForm_ || terminated_) return;
    InvokeHandler([this] { mainForm_->Show(); });
    if (!terminated_) QApplication::exec();
}

void TApplication::Terminate() {
    terminated_ = true;
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

void TApplication::HandleException(std::exception_ptr error) {
    if (OnException) {
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
            return;
        } catch (const std::exception& e) {
            OnException(e);
            return;
        } catch (...) {
        }
    }
    DefaultHandleException(error, Title());
}

std::string TApplication::ExeName() const { return S(QCoreApplication::applicationFilePath()); }

std::string TApplication::Title() const {
    if (!title_.empty()) return title_;
    std::string name = ExtractFileName(ExeName());
    return name.empty() ? std::string("Quillarc") : ChangeFileExt(name, "");
}

void TApplication::DestroyForms() {
    mainForm_ = nullptr;
    while (!forms_.empty()) forms_.pop_back();
}

// ------------------------------------------------------------ resources

namespace {
bool OpenResource(const std::string& name, QFile& file) {
    for (const char* prefix : {":/res/", ":/forms/", ":/"}) {
        file.setFileName(QString::fromLatin1(prefix) + Q(name));
        if (file.open(QIODevice::ReadOnly)) return true;
    }
    return false;
}
}  // namespace

bool ResourceExists(const std::string& name) {
    QFile f;
    return !name.empty() && OpenResource(name, f);
}

std::vector<uint8_t> LoadResource(const std::string& name) {
    QFile f;
    if (name.empty() || !OpenResource(name, f)) throw EFormError("Resource not found: " + name);
    const QByteArray bytes = f.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::unique_ptr<TGraphic> LoadPictureResource(const std::string& name) {
    const std::vector<uint8_t> bytes = LoadResource(name);
    std::string ext = LowerCase(ExtractFileExt(name));
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    if (const TGraphicClass* cls = TPicture::ClassForExtension(ext)) {
        std::unique_ptr<TGraphic> g = cls->create();
        TMemoryStream ms;
        if (!bytes.empty()) ms.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        ms.SetPosition(0);
        g->LoadFromStream(ms);
        return g;
    }
    QImage img;
    if (bytes.size() > static_cast<size_t>(INT32_MAX) || !img.loadFromData(bytes.data(), static_cast<int>(bytes.size())))
        throw EFormError("Resource " + name + " is not a picture");
    img = img.convertToFormat(QImage::Format_ARGB32);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(TPixelFormat::pf32bit);
    bitmap->SetSize(img.width(), img.height());
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(bitmap->ScanLine(y), img.constScanLine(y), static_cast<size_t>(img.width()) * 4);
    return bitmap;
}
