// Running programs on Windows (see ChildProcess.h), through the wide-character API so any
// argument reaches the program as it was given.
#if defined(_WIN32)

#include "support/ChildProcess.h"

#include "engine/jet4/file/SystemFiles.h"

#include <cwchar>
#include <cwctype>
#include <string_view>
#include <system_error>
#include <thread>
#include <windows.h>

namespace testsupport {

namespace {

using engine::jet4::sys::wide;

// One argument quoted so that the C runtime's splitting of the command line gives it back
// unchanged: backslashes count only before a quote, where each is doubled.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// This process's environment with `changes` ("NAME=value") replacing or added, as the block
// CreateProcessW takes: entries ended by a NUL, the block by another. Names are compared
// without regard to case, as Windows does.
std::wstring environmentBlock(const std::vector<std::string>& changes) {
    std::vector<std::wstring> set;
    for (const auto& change : changes)
        set.push_back(wide(change));
    const auto nameOf = [](std::wstring_view entry) {
        std::wstring name(entry.substr(0, entry.find(L'=', 1) + 1));
        for (auto& c : name)
            c = static_cast<wchar_t>(::towupper(c));
        return name;
    };
    std::wstring block;
    wchar_t* const strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += std::wcslen(entry) + 1) {
        bool replaced = false;
        for (const auto& change : set)
            replaced = replaced || nameOf(entry) == nameOf(change);
        if (!replaced)
            block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
    for (const auto& change : set)
        block.append(change).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// Everything written to the pipe until its last writer closes it, CR LF read as LF.
void drain(HANDLE pipe, std::string& sink) {
    char buffer[65536];
    DWORD n = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        sink.append(buffer, n);
    std::string text;
    text.reserve(sink.size());
    for (std::size_t i = 0; i < sink.size(); ++i)
        if (!(sink[i] == '\r' && i + 1 < sink.size() && sink[i + 1] == '\n'))
            text += sink[i];
    sink = std::move(text);
}

} // namespace

ProcessResult runProgram(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment) {
    std::wstring commandLine;
    for (const auto& argument : args)
        commandLine += (commandLine.empty() ? L"" : L" ") + quoted(wide(argument));
    std::wstring block = environmentBlock(environment);

    // The child inherits the pipes' write ends and the empty input, nothing else of ours.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0))
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "pipe");
    if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        const auto error = static_cast<int>(::GetLastError());
        ::CloseHandle(outRead);
        ::CloseHandle(outWrite);
        throw std::system_error(error, std::system_category(), "pipe");
    }
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    const HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                                          block.data(), nullptr, &startup, &process);
    const auto startError = static_cast<int>(::GetLastError());
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (input != INVALID_HANDLE_VALUE)
        ::CloseHandle(input);
    if (!started) {
        ::CloseHandle(outRead);
        ::CloseHandle(errRead);
        throw std::system_error(startError, std::system_category(), "cannot start " + args[0]);
    }

    // Both pipes are read at once, so a child that fills one while we wait on the other
    // cannot stop.
    ProcessResult result;
    std::thread errors([&] { drain(errRead, result.err); });
    drain(outRead, result.out);
    errors.join();
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    result.status = static_cast<int>(code);
    return result;
}

std::string thisProgram() {
    std::wstring name(32768, L'\0');
    name.resize(::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size())));
    return engine::jet4::sys::narrow(name);
}

bool onPath(const std::string& program) {
    wchar_t found[MAX_PATH];
    return ::SearchPathW(nullptr, wide(program).c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
}

} // namespace testsupport

#endif
