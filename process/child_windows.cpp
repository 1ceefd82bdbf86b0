#include "process/child.h"

#include <windows.h>

#include <algorithm>
#include <vector>

// How long a child asked to stop has before it is ended outright, in milliseconds.
static constexpr DWORD STOP_GRACE_MS = 10000;
static constexpr DWORD STOP_POLL_MS = 10;
// The exit status a child ended outright is given.
static constexpr UINT ENDED_OUTRIGHT_STATUS = 130;

static std::string lastErrorText()
{
    char text[512] = "";
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                   nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

// One argument as the C runtime's command-line parser reads it back: quoted
// when it holds a space, a tab or a quote, with the backslashes before a
// quote (or before the closing quote) doubled.
static std::string quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

static void closeEnd(intptr_t& end)
{
    if (end != -1) CloseHandle(HANDLE(end));
    end = -1;
}

// Starts the program with its three standard handles and no other: a child
// (and the console host Wine starts beside it) would otherwise hold every
// inheritable handle of this program, such as a temporary file it is about
// to delete, and Windows refuses to delete a file that is open.
static BOOL createWithOnlyItsHandles(std::string& commandLine, const std::string& program, STARTUPINFOA& startup,
                                     PROCESS_INFORMATION& info)
{
    std::vector<HANDLE> given;
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        DWORD handleFlags = 0;
        if (h && h != INVALID_HANDLE_VALUE && GetHandleInformation(h, &handleFlags) &&
            (handleFlags & HANDLE_FLAG_INHERIT) && std::find(given.begin(), given.end(), h) == given.end())
            given.push_back(h);
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    STARTUPINFOEXA extended{};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof extended;
    extended.lpAttributeList = LPPROC_THREAD_ATTRIBUTE_LIST(storage.data());
    if (!InitializeProcThreadAttributeList(extended.lpAttributeList, 1, 0, &size)) return FALSE;
    if (!given.empty() &&
        !UpdateProcThreadAttribute(extended.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, given.data(),
                                   given.size() * sizeof(HANDLE), nullptr, nullptr)) {
        DeleteProcThreadAttributeList(extended.lpAttributeList);
        return FALSE;
    }
    // A group of its own: the console's Ctrl+C reaches only this program.
    // Without a console here (the studio started by a double-click), Windows
    // would open a console window for the child: it gets none.
    const DWORD flags =
        CREATE_NEW_PROCESS_GROUP | EXTENDED_STARTUPINFO_PRESENT | (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW);
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, !given.empty(), flags,
                                        nullptr, nullptr, &extended.StartupInfo, &info);
    DeleteProcThreadAttributeList(extended.lpAttributeList);
    return started;
}

bool startChild(Child& child, const std::vector<std::string>& args, int pipes, std::string* error)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr, errorsRead = nullptr, errorsWrite = nullptr;
    auto closeAll = [&] {
        for (HANDLE h : {inputRead, inputWrite, errorsRead, errorsWrite})
            if (h) CloseHandle(h);
    };
    if (((pipes & CHILD_INPUT) && !CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) ||
        ((pipes & CHILD_ERRORS) && !CreatePipe(&errorsRead, &errorsWrite, &inheritable, 0))) {
        *error = "no pipe to " + args[0] + " could be made (" + lastErrorText() + ")";
        closeAll();
        return false;
    }
    // This program's ends stay here.
    for (HANDLE own : {inputWrite, errorsRead})
        if (own) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = nullptr;
    if (pipes & CHILD_ERRORS)
        nothing = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead ? inputRead : nothing ? nothing : GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = nothing ? nothing : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = errorsWrite ? errorsWrite : GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine;
    for (const std::string& argument : args) {
        if (!commandLine.empty()) commandLine.push_back(' ');
        commandLine.append(quoted(argument));
    }
    PROCESS_INFORMATION info{};
    const BOOL started = createWithOnlyItsHandles(commandLine, args[0], startup, info);
    const std::string why = started ? "" : lastErrorText();
    for (HANDLE childs : {inputRead, errorsWrite, nothing})
        if (childs && childs != INVALID_HANDLE_VALUE) CloseHandle(childs);
    if (!started) {
        for (HANDLE own : {inputWrite, errorsRead})
            if (own) CloseHandle(own);
        *error = args[0] + " could not be started (" + why + ")";
        return false;
    }
    CloseHandle(info.hThread);
    child.process = intptr_t(info.hProcess);
    child.id = info.dwProcessId;
    child.input = inputWrite ? intptr_t(inputWrite) : -1;
    child.errors = errorsRead ? intptr_t(errorsRead) : -1;
    return true;
}

bool writeToChild(Child& child, const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(HANDLE(child.input), bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

void readFromChild(Child& child, std::string& text)
{
    if (child.errors == -1) return;
    char buffer[4096];
    for (DWORD waiting = 0;
         PeekNamedPipe(HANDLE(child.errors), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;) {
        DWORD got = 0;
        if (!ReadFile(HANDLE(child.errors), buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr) || got == 0)
            return;
        text.append(buffer, got);
    }
}

// The child has ended: what it wrote last is taken, and it is forgotten.
static ChildEnd ended(Child& child, std::string* text)
{
    DWORD status = 1;
    GetExitCodeProcess(HANDLE(child.process), &status);
    if (text) readFromChild(child, *text);
    closeEnd(child.input);
    closeEnd(child.errors);
    CloseHandle(HANDLE(child.process));
    child = Child{};
    return {int(status), 0};
}

bool childEnded(Child& child, ChildEnd& end, std::string& text)
{
    if (WaitForSingleObject(HANDLE(child.process), 0) != WAIT_OBJECT_0) return false;
    end = ended(child, &text);
    return true;
}

ChildEnd waitForChild(Child& child, std::string& text)
{
    closeEnd(child.input);
    while (WaitForSingleObject(HANDLE(child.process), STOP_POLL_MS) == WAIT_TIMEOUT) readFromChild(child, text);
    return ended(child, &text);
}

ChildEnd interruptChild(Child& child, std::string& text)
{
    closeEnd(child.input);
    if (WaitForSingleObject(HANDLE(child.process), STOP_GRACE_MS) != WAIT_OBJECT_0) {
        TerminateProcess(HANDLE(child.process), ENDED_OUTRIGHT_STATUS);
        WaitForSingleObject(HANDLE(child.process), INFINITE);
    }
    return ended(child, &text);
}

bool standardInputEnded()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD waiting = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
    // Anything written to it is not a sign: it is read and let go.
    char buffer[256];
    DWORD got = 0;
    if (waiting > 0) ReadFile(input, buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr);
    return false;
}
