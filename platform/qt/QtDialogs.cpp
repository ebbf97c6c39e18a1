#include "platform/qt/QtDialogs.h"

#include "platform/FileNames.h"

#include <QApplication>
#include <QFileDialog>
#include <QString>

#include <filesystem>
#include <system_error>

namespace platform {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString applicationTitle() {
    QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

} // namespace

Dialogs& systemDialogs() {
    static QtDialogs qtDialogs;
    return qtDialogs;
}

std::unique_ptr<QMessageBox> QtDialogs::box(Box member, const std::string& text,
                                            const std::string& caption) {
    // One OK button; the boxes of the program's own messages are owned by the active window (if
    // any), so they stay on top of it.
    const bool owned = member != Box::MessageBox;
    auto made = std::make_unique<QMessageBox>(
        member == Box::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
        member == Box::MessageBox ? fromUtf8(caption) : applicationTitle(), QString(),
        QMessageBox::Ok, owned ? QApplication::activeWindow() : nullptr);
    // Qt would otherwise guess from the text whether it is HTML, and a path or a name with
    // "<...>" in it would lose its tags and change its look.
    made->setTextFormat(Qt::PlainText);
    made->setText(fromUtf8(readableText(text)));
    return made;
}

void QtDialogs::showMessage(const std::string& text) {
    box(Box::Message, text)->exec();
}

void QtDialogs::messageBox(const std::string& text, const std::string& caption) {
    box(Box::MessageBox, text, caption)->exec();
}

void QtDialogs::showError(const std::string& text) {
    box(Box::Error, text)->exec();
}

std::optional<std::string> QtDialogs::openFile(const OpenFileRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), fromUtf8(request.title));
    dialog.setDirectoryUrl(localFileUrl(request.initialFolder));
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
    // The chosen file as a URL, not as text: text cannot hold a name that is not UTF-8.
    const QList<QUrl> chosen = dialog.selectedUrls();
    std::string path = chosen.isEmpty() ? std::string() : localFileBytes(chosen.front());
    if (path.empty())
        return std::nullopt;
    return path;
}

std::string localFileBytes(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

QUrl localFileUrl(const std::string& bytes) {
    if (bytes.empty())
        return {};
    std::error_code error;
    const std::string absolute =
        bytes.front() == '/' ? bytes : std::filesystem::absolute(bytes, error).string();
    return QUrl::fromEncoded("file://" +
                             QByteArray::fromStdString(absolute).toPercentEncoding("/"));
}

} // namespace platform
