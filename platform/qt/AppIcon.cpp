#include "platform/qt/AppIcon.h"

#include <QPixmap>

namespace {

// The pictures in XPM (the format is C source), 16 colours at most; main/icons holds the same
// pictures as PNG for the desktop.
// clang-format off
const char* const patch16_16[] = {
    "16 16 8 1",
    "  c None",
    ". c #000000",
    "b c #0000FF",
    "c c #00FFFF",
    "d c #000080",
    "o c #808000",
    "w c #FFFFFF",
    "y c #FFFF00",
    "                ",
    "   .......      ",
    "  .ccccccc.     ",
    " .ccccccccc.    ",
    " .wcccccccd. .  ",
    " .wwcccccdd..y. ",
    " .wwbbbbbdd.yyo.",
    " .wwbbbbbd.yyyoo",
    " .wwddddddd.yyo.",
    " .wwbbbbbdd.yyo.",
    " .wwbbbbbdd.yyo.",
    " .wwddddddd.yyo.",
    " .wwbbbbbdd.yyo.",
    "  .wbbbbbd..yyo.",
    "   ....... .yyo.",
    "           ....."
};

const char* const patch16_32[] = {
    "32 32 8 1",
    "  c None",
    ". c #000000",
    "b c #0000FF",
    "c c #00FFFF",
    "d c #000080",
    "o c #808000",
    "w c #FFFFFF",
    "y c #FFFF00",
    "                                ",
    "        ...........             ",
    "     ...ccccccccccc...          ",
    "   ..ccccccccccccccccc..        ",
    "  .ccccccccccccccccccccc.       ",
    " .ccccccccccccccccccccccc.      ",
    " .ccccccccccccccccccccccc.      ",
    " .wcccccccccccccccccccccd.      ",
    " .wwwcccccccccccccccccddd.      ",
    " .wwwwbbcccccccccccdddddd.      ",
    " .wwwwbbbbbbbbbbbbddddddd.      ",
    " .wwwwbbbbbbbbbbbbddddd...      ",
    " .wwwwbbbbbbbbbbbbdddd....      ",
    " .dwwwbbbbbbbbbbbbddd..yy..     ",
    " .wddwbbbbbbbbbbbbddd.yyyo.     ",
    " .wwddddbbbbbbbbbbdd.yyyyoo.    ",
    " .wwwwbdddddddddddd.yyyyyooo.   ",
    " .wwwwbbbbbbbbbbbb..yyyyyooo..  ",
    " .wwwwbbbbbbbbbbb..yyyyyyoooo.. ",
    " .wwwwbbbbbbbbbbb.yyyyyyyooooo. ",
    " .ddwwbbbbbbbbbb.yyyyyyyyoooooo.",
    " .wdddbbbbbbbbb......yyyyoo.....",
    " .wwwwdddddddddddddd.yyyyoo.    ",
    " .wwwwbbbbbdddddbbdd.yyyyoo.    ",
    " .wwwwbbbbbbbbbbbbdd.yyyyoo.    ",
    " .wwwwbbbbbbbbbbbbdd.yyyyoo.    ",
    " .wwwwbbbbbbbbbbbbdd.yyyyoo.    ",
    "  .wwwbbbbbbbbbbbbdd.yyyyoo.    ",
    "   ..wbbbbbbbbbbbbdd.yyyyoo.    ",
    "     ...bbbbbbbbbbd..yyyyoo.    ",
    "        ........... .yyyyoo.    ",
    "                    ........    "
};
// clang-format on

} // namespace

namespace platform {

QIcon applicationIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(patch16_16));
    icon.addPixmap(QPixmap(patch16_32));
    return icon;
}

} // namespace platform
