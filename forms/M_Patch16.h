#pragma once
// The program's one window: the database path with its browse button, the run button, the
// warning, the revision badge and the progress meter.

#include "controls/CustomPanel.h"
#include "controls/zelMeter.h"
#include "dao/ClassDAO.h"
#include "platform/OpenDialog.h"
#include "platform/ProgramFolder.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <memory>
#include <string>

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds the window and its components, then runs FormCreate() with `programFolder` (ending in
    // a path separator) as the folder whose "DB" subfolder is searched.
    explicit TForm1(std::string programFolder = platform::programFolder(),
                    QWidget* parent = nullptr);

    // The components, owned by the form (Qt parent) except the dialog, which is a member.
    QPushButton* Button1;
    QLineEdit* Edit1;
    platform::TOpenDialog OpenDialog1;
    controls::TzelMeter* Meter;
    QPushButton* Button2;
    QLabel* Label1;
    QLabel* Label2;
    controls::TCustomPanel* Panel1;

    // The file Edit1 names, as the file system's bytes: Edit1 shows a name that is not UTF-8
    // with its other bytes escaped (platform::displayFileName), and this undoes that.
    std::string databasePath() const;

public slots:
    // The run on the path of Edit1.
    void Button1Click();
    // Proposes in Edit1 the first "*.mdb" entry (in name order, any kind of entry) of the
    // program folder's "DB" subfolder, its name in any case ("DB" first, then the others in byte
    // order, each tried until one holds a database), and points OpenDialog1 at the program
    // folder. A folder that cannot be read proposes nothing; it never ends the start-up.
    void FormCreate();
    // Lets the operator pick a database; a confirmed choice replaces the text of Edit1.
    void Button2Click();
    // Enables Button1 exactly when Edit1 names an existing regular file.
    void Edit1Change();

protected:
    // Enter presses the focused push button, or Button1 when no button has the focus.
    void keyPressEvent(QKeyEvent* event) override;
    // Keeps Label1 over the full client width.
    void resizeEvent(QResizeEvent* event) override;
    // The first time the window is shown, centres it, frame included, on its screen.
    void showEvent(QShowEvent* event) override;

private:
    // The stages of the run.
    void MakeLogTables();
    void AlterGoodPric();
    void AlterSupgood();

    std::string programFolder_;
    bool centred_ = false;
};

// The connection of the current or last run: replaced at the start of every run, released at
// its end; the run's stages reach the database through it.
extern std::unique_ptr<TzelDAO> Dao;
