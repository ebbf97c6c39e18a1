// The program entry: the application with its title and icon, the engine made creatable, the one
// window, the event loop.

#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "main/AppIcon.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
    platform::Application app(argc, argv);
    const QString title = QStringLiteral("Изменение структуры базы данных Ворлан+ 4.0");
    app.setApplicationName(title);
    // Some platforms append the display name to every window title; the window's caption must
    // read exactly as set, so the display name stays empty and desktops take the title from the
    // desktop entry.
    app.setDesktopFileName(QStringLiteral("patch16"));
    app.setWindowIcon(applicationIcon());

    engine::registerEngine();

    TForm1 form;
    form.show();
    return app.exec();
}
