#pragma once
// The program's real dialogs: Qt message boxes and Qt's file-open dialog.

#include "platform/Dialogs.h"

#include <QMessageBox>
#include <QUrl>

#include <memory>

namespace platform {

class QtDialogs : public Dialogs {
public:
    // A box titled with the application's display name, an OK button and no icon.
    void showMessage(const std::string& text) override;
    // A box titled `caption`, an OK button, no icon, no owner window.
    void messageBox(const std::string& text, const std::string& caption) override;
    // A critical-icon box titled with the application's display name.
    void showError(const std::string& text) override;
    // QFileDialog restricted to existing files of the one filter, opened on the initial folder
    // given as its URL; the chosen file as its URL's bytes (localFileBytes), so a name that is
    // not UTF-8 comes back exact from a dialog that lists it (the desktop's own dialogs do; Qt's
    // built-in one leaves such names out of its lists). nullopt when cancelled.
    std::optional<std::string> openFile(const OpenFileRequest& request) override;

    // Which member shows a box.
    enum class Box { Message, MessageBox, Error };
    // The box `member` shows for `text` (and `caption`, MessageBox only), made but not shown, so
    // that it can be looked at without a modal loop. Its text is plain text, shown exactly as
    // given: a path such as "/srv/<b>shop</b>/db.mdb" keeps its tags (bytes that are not UTF-8
    // are shown as \xHH, see readableText()).
    static std::unique_ptr<QMessageBox> box(Box member, const std::string& text,
                                            const std::string& caption = {});
};

// The local file `url` names, as the file system's bytes. A file dialog that lists names that
// are not UTF-8 hands them over as URLs whose %HH escapes keep every byte.
std::string localFileBytes(const QUrl& url);

// The URL of the local folder or file `bytes`, exact whatever the encoding of its name.
QUrl localFileUrl(const std::string& bytes);

} // namespace platform
