// The program entry: the engine made creatable, then the one window and its event loop on the
// window system the program is built for.

#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "platform/MainWindow.h"

int main(int argc, char** argv) {
    engine::registerEngine();
    return platform::runMainWindow(
        argc, argv, "Изменение структуры базы данных Ворлан+ 4.0",
        [](controls::FormHost& window) { return std::make_shared<TForm1>(window); });
}
