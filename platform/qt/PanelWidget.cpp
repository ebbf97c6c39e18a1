#include "platform/qt/PanelWidget.h"

#include "platform/qt/QtCanvas.h"

#include <QPainter>

namespace platform {

PanelWidget::PanelWidget(controls::TCustomPanel& panel, bool transparentToMouse, QWidget* parent)
    : QWidget(parent), panel_(&panel), shownText_(panel.Caption()) {
    // The panel paints every pixel, so Qt need not erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents, transparentToMouse);
    setFocusPolicy(Qt::NoFocus);
    panel_->attach(this);
    syncFont();
}

PanelWidget::~PanelWidget() {
    if (panel_)
        panel_->attach(nullptr);
}

void PanelWidget::panelDestroyed() {
    panel_ = nullptr;
}

void PanelWidget::invalidate() {
    syncFont();
    update();
}

void PanelWidget::repaint() {
    syncFont();
    QWidget::repaint();
}

void PanelWidget::textChanged(const std::string& text) {
    shownText_ = text;
    setAccessibleName(QString::fromStdString(text));
}

void PanelWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!panel_) {
        painter.fillRect(rect(), palette().color(QPalette::Window));
        return;
    }
    QtCanvas canvas(painter, palette(), layoutDirection() == Qt::RightToLeft);
    panel_->PaintOn(canvas, {0, 0, width(), height()});
}

void PanelWidget::syncFont() {
    // The panel's font shows on the widget too, so Qt's font and palette tell what is drawn;
    // both are set only when they change, since each set schedules a redraw of its own.
    if (!panel_ ||
        (synced_ && panel_->ParentFont() == syncedParent_ && panel_->Font() == syncedFont_))
        return;
    synced_ = true;
    syncedParent_ = panel_->ParentFont();
    syncedFont_ = panel_->Font();
    if (panel_->ParentFont()) {
        setFont(QFont());
        setAttribute(Qt::WA_SetFont, false);
    } else {
        setFont(qtFont(panel_->Font()));
    }
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, resolveColor(panel_->Font().Color, colours));
    setPalette(colours);
}

} // namespace platform
