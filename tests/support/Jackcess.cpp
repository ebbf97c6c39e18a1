#include "support/Jackcess.h"

#include "support/ChildProcess.h"

#include <cstdlib>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr int noJava = 4;

fs::path defaultFolder() {
    return fs::path(PATCH16_SOURCE_DIR) / ".." / "shared" / "jackcess";
}

fs::path wantedFolder() {
    if (const char* env = std::getenv("PATCH16_JACKCESS"); env && *env)
        return env;
    return defaultFolder();
}

// The judge's Java options, unless the environment sets JETJUDGE_JAVA_OPTS: the tests' runs are
// short, most of their time Java's start, which the first compiler alone and the serial collector
// cut by about a third (as much on a shop of 100,000 rows).
std::vector<std::string> judgeEnvironment() {
    if (const char* set = std::getenv("JETJUDGE_JAVA_OPTS"); set && *set)
        return {};
    return {"JETJUDGE_JAVA_OPTS=-Xmx2g -XX:TieredStopAtLevel=1 -XX:+UseSerialGC"};
}

JudgeResult runJudge(const std::string& verb, const fs::path& file,
                     const std::vector<std::string>& extraArgs) {
    const auto folder = jackcessFolder();
    if (!folder)
        return {noJava, "the Jackcess judge is missing: " + wantedFolder().string()};
    std::vector<std::string> args{(*folder / "judge.sh").string(), verb, file.string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    auto result = runProgram(args, judgeEnvironment());
    return {result.status, result.out + result.err};
}

} // namespace

std::optional<fs::path> jackcessFolder() {
    const fs::path folder = wantedFolder();
    std::error_code error;
    if (!fs::is_regular_file(folder / "judge.sh", error))
        return std::nullopt;
    return fs::weakly_canonical(folder, error);
}

std::optional<std::string> jackcessMissing() {
    // judge.sh without arguments answers 4 when Java or the jars are missing and 3 (usage) when
    // it could run; asked once, as each answer starts a Java machine.
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
#if defined(_WIN32)
        // judge.sh is a shell script starting Java, which the Windows suite has neither of.
        return "the Jackcess judge (judge.sh, a shell script starting Java) is not run by the "
               "Windows suite";
#endif
        const auto folder = jackcessFolder();
        if (!folder)
            return "the Jackcess judge is missing (looked for PATCH16_JACKCESS, then " +
                   defaultFolder().lexically_normal().string() + "/judge.sh)";
        const auto probe = runProgram({(*folder / "judge.sh").string()});
        if (probe.status == noJava)
            return "the Jackcess judge cannot run (./test installs default-jre-headless, "
                   "libcommons-lang3-java and libcommons-logging-java): " +
                   probe.err;
        return std::nullopt;
    }();
    return reason;
}

JudgeResult jackcessRead(const fs::path& file, const std::vector<std::string>& extraArgs) {
    return runJudge("read", file, extraArgs);
}

JudgeResult jackcessWrite(const fs::path& copy, const std::vector<std::string>& extraArgs) {
    return runJudge("write", copy, extraArgs);
}

std::vector<std::string> jackcessRows(const fs::path& file) {
    const auto folder = jackcessFolder();
    if (!folder)
        throw std::runtime_error("the Jackcess judge is missing: " + wantedFolder().string());
    const auto result =
        runProgram({(*folder / "judge.sh").string(), "rows", file.string()}, judgeEnvironment());
    if (result.status != 0)
        throw std::runtime_error("Jackcess cannot read the rows of " + file.string() + " (exit " +
                                 std::to_string(result.status) + "): " + result.err);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < result.out.size()) {
        auto end = result.out.find('\n', start);
        if (end == std::string::npos)
            end = result.out.size();
        lines.push_back(result.out.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace testsupport
