#include "platform/qt/QtForm.h"

#include "platform/Handlers.h"
#include "platform/qt/PanelWidget.h"
#include "platform/qt/QtCanvas.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>

namespace platform {

namespace {

QString qtText(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void applyFont(QWidget* widget, const controls::TFont& font) {
    widget->setFont(qtFont(font));
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, resolveColor(font.Color, colours));
    widget->setPalette(colours);
}

} // namespace

// One control: the widget, what kind it is, and its design (for resizing).
class QtForm::Control : public controls::TControl {
public:
    Control(QWidget* widget, const controls::ControlDesign& design)
        : widget_(widget), design_(design) {}

    QWidget* widget() const { return widget_; }
    const controls::ControlDesign& design() const { return design_; }

    std::string Text() const override {
        if (auto* label = qobject_cast<QLabel*>(widget_))
            return label->text().toStdString();
        if (auto* edit = qobject_cast<QLineEdit*>(widget_))
            return edit->text().toStdString();
        if (auto* button = qobject_cast<QPushButton*>(widget_))
            return button->text().toStdString();
        if (auto* panel = qobject_cast<PanelWidget*>(widget_))
            return panel->shownText();
        return {};
    }
    void setText(const std::string& text) override {
        if (auto* label = qobject_cast<QLabel*>(widget_))
            label->setText(qtText(text));
        else if (auto* edit = qobject_cast<QLineEdit*>(widget_))
            edit->setText(qtText(text));
        else if (auto* button = qobject_cast<QPushButton*>(widget_))
            button->setText(qtText(text));
        else if (auto* panel = qobject_cast<PanelWidget*>(widget_); panel && panel->panel())
            panel->panel()->setCaption(text);
    }
    bool Enabled() const override { return widget_->isEnabled(); }
    void setEnabled(bool enabled) override { widget_->setEnabled(enabled); }
    controls::TRect BoundsRect() const override {
        const QRect r = widget_->geometry();
        return {r.x(), r.y(), r.width(), r.height()};
    }
    void SetFocus() override { widget_->setFocus(Qt::OtherFocusReason); }
    bool Focused() const override { return widget_->hasFocus(); }

private:
    QWidget* widget_;
    controls::ControlDesign design_;
};

QtForm::QtForm(QWidget* parent) : QWidget(parent) {}

QtForm::~QtForm() = default;

void QtForm::designForm(const controls::FormDesign& design) {
    setWindowTitle(qtText(design.Caption));
    // The form's font and background; children inherit both.
    setFont(qtFont(design.Font));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, resolveColor(design.Color, colours));
    setPalette(colours);
    setAutoFillBackground(true);
    designWidth_ = design.ClientWidth;
    resize(design.ClientWidth, design.ClientHeight);
    // Where the frame is not known yet; showEvent() centres the window with its frame.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

controls::TControl& QtForm::addControl(const controls::ControlDesign& design) {
    QWidget* widget = nullptr;
    switch (design.Kind) {
    case controls::ControlKind::Label: {
        auto* label = new QLabel(qtText(design.Text), this);
        Qt::Alignment horizontal = Qt::AlignLeft;
        if (design.Alignment == controls::TAlignment::Center)
            horizontal = Qt::AlignHCenter;
        else if (design.Alignment == controls::TAlignment::RightJustify)
            horizontal = Qt::AlignRight;
        // Labels centre their one line vertically, as the framework's labels do.
        label->setAlignment(design.WordWrap ? horizontal | Qt::AlignTop
                                            : horizontal | Qt::AlignVCenter);
        label->setWordWrap(design.WordWrap);
        widget = label;
        break;
    }
    case controls::ControlKind::Edit:
        widget = new QLineEdit(qtText(design.Text), this);
        break;
    case controls::ControlKind::Button: {
        auto* button = new QPushButton(qtText(design.Text), this);
        button->setDefault(design.Default);
        button->setAutoDefault(design.Default);
        if (design.Default)
            defaultButton_ = button;
        widget = button;
        break;
    }
    }
    widget->setGeometry(design.Bounds.Left, design.Bounds.Top, design.Bounds.Width,
                        design.Bounds.Height);
    if (!design.ParentFont)
        applyFont(widget, design.Font);
    widget->setEnabled(design.Enabled);

    controls_.push_back(std::make_unique<Control>(widget, design));
    Control& control = *controls_.back();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        connect(button, &QPushButton::clicked, this, [&control] { runHandler(control.OnClick); });
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        connect(edit, &QLineEdit::textChanged, this, [&control] { runHandler(control.OnChange); });
    return control;
}

controls::TControl& QtForm::addPanel(controls::TCustomPanel& panel, const controls::TRect& bounds,
                                     bool transparentToMouse) {
    auto* widget = new PanelWidget(panel, transparentToMouse, this);
    widget->setGeometry(bounds.Left, bounds.Top, bounds.Width, bounds.Height);
    controls::ControlDesign design;
    design.Bounds = bounds;
    controls_.push_back(std::make_unique<Control>(widget, design));
    return *controls_.back();
}

QWidget* QtForm::widgetOf(const controls::TControl& control) {
    const auto* made = dynamic_cast<const Control*>(&control);
    return made ? made->widget() : nullptr;
}

void QtForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (QPushButton* pressed = focused ? focused : defaultButton_)
        pressed->click();
    event->accept();
}

void QtForm::resizeEvent(QResizeEvent* event) {
    for (const auto& control : controls_) {
        const controls::ControlDesign& design = control->design();
        if (!design.StretchRight)
            continue;
        const int margin = designWidth_ - design.Bounds.Right();
        QWidget* widget = control->widget();
        widget->setGeometry(widget->x(), widget->y(), event->size().width() - margin - widget->x(),
                            widget->height());
    }
    QWidget::resizeEvent(event);
}

void QtForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    // The whole window, frame included, in the middle of its screen's free area, once the
    // window system has told the frame; a system that places windows itself ignores the move.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

} // namespace platform
