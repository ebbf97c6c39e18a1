#include "forms/M_Patch16.h"

#include "platform/Application.h"
#include "platform/FileNames.h"

#include "controls/Colors.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using controls::TColor;

// The faces the window was drawn for, then a face with the same line height (13 pixels at 11),
// which keeps the three lines of the warning inside its label where the original face is missing.
QFont sansFont(int pixelHeight, bool bold) {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans"});
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

QFont serifFont(int pixelHeight, bool bold) {
    QFont font;
    font.setFamilies(
        {"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"});
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

void setTextColor(QWidget* widget, TColor color) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, controls::resolveColor(color, colours));
    widget->setPalette(colours);
}

bool endsWithMdb(const std::string& name) {
    if (name.size() < 4)
        return false;
    const std::string tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'm' && (tail[2] | 0x20) == 'd' &&
           (tail[3] | 0x20) == 'b';
}

// The names of the entries of `folder`, in no particular order; nothing when it cannot be read.
// Listing stops at the first error (a share that goes away, a folder the process may not read):
// a name missed then could be the one that comes first. The error_code overloads throughout,
// because a std::filesystem::filesystem_error would end the start-up.
std::optional<std::vector<std::string>> entriesOf(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    std::vector<std::string> names;
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        names.push_back(entry->path().filename().string());
    if (error)
        return std::nullopt;
    return names;
}

// The name of the first entry of `folder` that ends in ".mdb" (any case, any kind of entry),
// in byte order of the names; nothing when there is none or the folder cannot be read.
std::optional<std::string> firstDatabaseIn(const std::filesystem::path& folder) {
    std::optional<std::vector<std::string>> names = entriesOf(folder);
    if (!names)
        return std::nullopt;
    std::optional<std::string> first;
    for (std::string& name : *names)
        if (endsWithMdb(name) && (!first || name < *first))
            first = std::move(name);
    return first;
}

// The subfolders of `programFolder` named "DB" in any case, as the original platform's file
// system found them: "DB" itself first, then "Db", "dB", "db" (byte order).
std::vector<std::string> databaseFolders(const std::string& programFolder) {
    std::vector<std::string> found;
    std::error_code error;
    if (std::filesystem::is_directory(programFolder + "DB", error))
        found.push_back("DB");
    std::vector<std::string> others;
    for (const std::string& name : entriesOf(programFolder).value_or(std::vector<std::string>{}))
        if (name.size() == 2 && name != "DB" && (name[0] | 0x20) == 'd' &&
            (name[1] | 0x20) == 'b' && std::filesystem::is_directory(programFolder + name, error))
            others.push_back(name);
    std::sort(others.begin(), others.end());
    found.insert(found.end(), others.begin(), others.end());
    return found;
}

} // namespace

TForm1::TForm1(std::string programFolder, QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder)) {
    setWindowTitle(QStringLiteral("Изменение структуры базы данных"));
    // The form's font and button-face background; children inherit both.
    setFont(sansFont(11, false));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, controls::resolveColor(controls::clBtnFace, colours));
    setPalette(colours);
    setAutoFillBackground(true);

    Label1 = new QLabel(QStringLiteral("\"Ворлан + 4.0 \" изменения от 30.07.2003 года"), this);
    Label1->setGeometry(0, 0, 375, 16);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(sansFont(13, true));
    setTextColor(Label1, controls::clNavy);

    Label2 = new QLabel(QStringLiteral("Внимание! Не забудьте сделать резервную копию Вашей базы"),
                        this);
    Label2->setGeometry(83, 61, 162, 39);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setWordWrap(true);
    Label2->setFont(sansFont(11, true));
    setTextColor(Label2, controls::clRed);

    Panel1 = new controls::TCustomPanel(this);
    Panel1->setGeometry(24, 65, 52, 28);
    Panel1->setBevelOuter(controls::BevelCut::Raised);
    Panel1->setBevelInner(controls::BevelCut::Lowered);
    Panel1->setCaption(QStringLiteral("№ 16"));
    Panel1->setFont(serifFont(19, true));
    Panel1->setFontColor(controls::clBlue);

    Button1 = new QPushButton(QStringLiteral("Выполнить"), this);
    Button1->setGeometry(271, 67, 75, 25);
    Button1->setDefault(true);
    Button1->setEnabled(false);
    connect(Button1, &QPushButton::clicked, this,
            [this] { platform::runHandler([this] { Button1Click(); }); });

    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(24, 34, 265, 21);
    connect(Edit1, &QLineEdit::textChanged, this,
            [this] { platform::runHandler([this] { Edit1Change(); }); });

    Meter = new controls::TzelMeter(this);
    Meter->setGeometry(24, 104, 322, 21);
    Meter->setBevelOuter(controls::BevelCut::Lowered);

    Button2 = new QPushButton(QStringLiteral("Обзор..."), this);
    Button2->setGeometry(289, 35, 49, 22);
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this,
            [this] { platform::runHandler([this] { Button2Click(); }); });

    OpenDialog1.request.title = "Открыть базу данных ";
    OpenDialog1.request.filterName = "База MS Access (*.mdb)";
    OpenDialog1.request.filterPattern = "*.mdb";
    OpenDialog1.request.defaultSuffix = "mdb";

    setTabOrder(Button1, Edit1);
    setTabOrder(Edit1, Button2);

    resize(375, 133);
    // Where the frame is not known yet; showEvent() centres the window with its frame.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
}

void TForm1::FormCreate() {
    for (const std::string& folder : databaseFolders(programFolder_)) {
        const std::string databases = programFolder_ + folder + "/";
        if (std::optional<std::string> name = firstDatabaseIn(databases)) {
            Edit1->setText(platform::displayFileName(databases + *name));
            break;
        }
    }
    OpenDialog1.request.initialFolder = programFolder_;
}

void TForm1::Button2Click() {
    if (OpenDialog1.Execute())
        Edit1->setText(platform::displayFileName(OpenDialog1.FileName()));
}

void TForm1::Edit1Change() {
    std::error_code error;
    Button1->setEnabled(std::filesystem::is_regular_file(databasePath(), error));
}

std::string TForm1::databasePath() const {
    return platform::fileNameBytes(Edit1->text());
}

void TForm1::showEvent(QShowEvent* event) {
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

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    (focused ? focused : Button1)->click();
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    Label1->setGeometry(0, 0, event->size().width(), Label1->height());
    QWidget::resizeEvent(event);
}
