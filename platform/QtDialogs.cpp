#include "platform/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

namespace platform {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), text.size());
}

QString applicationTitle() {
    QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

// Modal box with one OK button, owned by the active window (if any) so it stays on top of it.
void showBox(QMessageBox::Icon icon, const QString& caption, const QString& text, bool owned) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok,
                    owned ? QApplication::activeWindow() : nullptr);
    box.exec();
}

} // namespace

void QtDialogs::showMessage(const std::string& text) {
    showBox(QMessageBox::NoIcon, applicationTitle(), fromUtf8(text), true);
}

void QtDialogs::messageBox(const std::string& text, const std::string& caption) {
    showBox(QMessageBox::NoIcon, fromUtf8(caption), fromUtf8(text), false);
}

void QtDialogs::showError(const std::string& text) {
    showBox(QMessageBox::Critical, applicationTitle(), fromUtf8(text), true);
}

std::optional<std::string> QtDialogs::openFile(const OpenFileRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), fromUtf8(request.title),
                       fromUtf8(request.initialFolder));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // A description that already shows its pattern ("… (*.mdb)") is the whole filter text;
    // Qt reads the pattern out of its parentheses.
    const QString name = fromUtf8(request.filterName);
    const QString pattern = fromUtf8(request.filterPattern);
    dialog.setNameFilter(name.endsWith("(" + pattern + ")") ? name : name + " (" + pattern + ")");
    dialog.setDefaultSuffix(fromUtf8(request.defaultSuffix));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.front().toStdString();
}

} // namespace platform
