#include "platform/MainWindow.h"

#include "platform/qt/AppIcon.h"
#include "platform/qt/Application.h"
#include "platform/qt/QtForm.h"

namespace platform {

int runMainWindow(int argc, char** argv, const std::string& applicationTitle,
                  const FormMaker& makeForm) {
    Application app(argc, argv);
    app.setApplicationName(QString::fromStdString(applicationTitle));
    // Some platforms append the display name to every window title; the window's caption must
    // read exactly as set, so the display name stays empty and desktops take the title from the
    // desktop entry.
    app.setDesktopFileName(QStringLiteral("patch16"));
    app.setWindowIcon(applicationIcon());

    // The form outlives its window: the panels' windows, which the window owns, detach from the
    // form's panels as they go.
    std::shared_ptr<void> form;
    QtForm window;
    form = makeForm(window);
    window.show();
    return app.exec();
}

} // namespace platform
