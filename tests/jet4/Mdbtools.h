#pragma once
// Running Debian's mdbtools, the independent reader the Jet 4 tests compare against.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <optional>
#include <string>
#include <vector>

namespace jet4test {

inline bool haveMdbtools() {
    return !QStandardPaths::findExecutable("mdb-tables").isEmpty() &&
           !QStandardPaths::findExecutable("mdb-json").isEmpty() &&
           !QStandardPaths::findExecutable("mdb-prop").isEmpty();
}

// The program's standard output, or nothing when it fails.
inline std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

inline std::vector<std::string> lines(const QByteArray& output) {
    std::vector<std::string> result;
    for (const QByteArray& line : output.split('\n'))
        if (!line.isEmpty())
            result.push_back(line.toStdString());
    return result;
}

} // namespace jet4test

#define REQUIRE_MDBTOOLS()                                                                         \
    do {                                                                                           \
        if (!::jet4test::haveMdbtools())                                                           \
            GTEST_SKIP() << "mdbtools (mdb-tables, mdb-json, mdb-prop) is not installed";          \
    } while (false)
