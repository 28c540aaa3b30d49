// pel_platform, Windows build: the Win32 calls that name, through the
// toolchain's own <windows.h>.
#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace pel::platform {

namespace {

struct ThreadStart {
    ThreadProc proc;
    void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return start.proc(start.arg);
}

HANDLE g_console = nullptr;
void* g_module = nullptr;

}  // namespace

// ---- threads ------------------------------------------------------------------------------

ThreadHandle StartThread(ThreadProc proc, void* arg, uint32_t* threadId) {
    if (!detail::TakeThreadStart()) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* start = new (std::nothrow) ThreadStart{proc, arg};
    if (!start) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id = 0;
    HANDLE h = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, &id);
    if (!h) {
        delete start;
        return nullptr;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<ThreadHandle>(h);
}

static WaitResult ToWaitResult(DWORD rc) {
    if (rc == WAIT_OBJECT_0) return WaitResult::Signalled;
    if (rc == WAIT_TIMEOUT) return WaitResult::Timeout;
    return WaitResult::Failed;
}

WaitResult WaitThread(ThreadHandle thread, uint32_t milliseconds) {
    return ToWaitResult(::WaitForSingleObject(reinterpret_cast<HANDLE>(thread), milliseconds));
}

void CloseThread(ThreadHandle thread) {
    if (thread) ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

void SleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---- events -------------------------------------------------------------------------------

Event::Event(bool initiallySignalled)
    : impl_(::CreateEventA(nullptr, TRUE, initiallySignalled ? TRUE : FALSE, nullptr)) {}

Event::~Event() {
    if (impl_) ::CloseHandle(static_cast<HANDLE>(impl_));
}

bool Event::IsValid() const { return impl_ != nullptr; }
bool Event::Set() { return ::SetEvent(static_cast<HANDLE>(impl_)) != 0; }
bool Event::Reset() { return ::ResetEvent(static_cast<HANDLE>(impl_)) != 0; }

WaitResult Event::Wait(uint32_t milliseconds) {
    return ToWaitResult(::WaitForSingleObject(static_cast<HANDLE>(impl_), milliseconds));
}

// ---- critical section ---------------------------------------------------------------------

CriticalSection::CriticalSection() : impl_(new CRITICAL_SECTION) {
    ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
    delete static_cast<CRITICAL_SECTION*>(impl_);
}

void CriticalSection::Enter() { ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }
bool CriticalSection::TryEnter() {
    return ::TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)) != 0;
}
void CriticalSection::Leave() { ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

// ---- system information and clocks -------------------------------------------------------

uint32_t LastError() { return ::GetLastError(); }

uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

uint32_t TickCount() { return ::GetTickCount(); }

int64_t PerformanceCounter() {
    LARGE_INTEGER v;
    ::QueryPerformanceCounter(&v);
    return v.QuadPart;
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER v;
    ::QueryPerformanceFrequency(&v);
    return v.QuadPart;
}

// ---- debug console: a console window of the module's own ----------------------------------

bool DebugConsoleOpen(const char* title) {
    if (g_console) return true;
    ::AllocConsole();
    ::SetConsoleTitleA(title);
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE) out = nullptr;
    g_console = out;
    if (!out) return false;
    COORD size;
    size.X = 200;
    size.Y = 5000;
    ::SetConsoleScreenBufferSize(out, size);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(out, &info)) {
        SMALL_RECT r;
        r.Left = info.srWindow.Left;
        r.Top = info.srWindow.Top;
        r.Right = static_cast<SHORT>(info.srWindow.Left + info.dwMaximumWindowSize.X - 1);
        r.Bottom = static_cast<SHORT>(2 * info.srWindow.Bottom - info.srWindow.Top);
        ::SetConsoleWindowInfo(out, TRUE, &r);
    }
    return true;
}

void DebugConsoleClose() {
    if (!g_console) return;
    ::FreeConsole();
    g_console = nullptr;
}

bool DebugConsoleIsOpen() { return g_console != nullptr; }

void DebugConsoleWrite(const char* text) {
    if (!g_console || !text) return;
    DWORD written = 0;
    ::WriteConsoleA(g_console, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// ---- environment, module, files ----------------------------------------------------------

bool SetEnvironmentVariableValue(const char* name, const char* value) {
    // The C runtime's copy (read by getenv) and the process's both change.
    return _putenv_s(name, value ? value : "") == 0;
}

void SetModuleHandle(void* module) { g_module = module; }

void* ModuleHandle() {
    if (g_module) return g_module;
    HMODULE m = nullptr;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCSTR>(&ModuleHandle), &m))
        return m;
    return nullptr;
}

std::string ModuleFileName() {
    char buffer[512];
    DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(ModuleHandle()), buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return std::string();
    return std::string(buffer, n);
}

const char* PathSeparator() { return "\\"; }

bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((directory + "\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        DirectoryEntry e;
        e.name = data.cFileName;
        e.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (entries) entries->push_back(std::move(e));
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return true;
}

}  // namespace pel::platform

// ---- registry ---------------------------------------------------------------------------------

#include "platform/registry.h"

namespace pel::platform {

RegistryKey::~RegistryKey() { Close(); }

void RegistryKey::Close() {
    if (handle_) ::RegCloseKey(static_cast<HKEY>(handle_));
    handle_ = nullptr;
}

bool RegistryKey::OpenForReading(const std::string& path) {
    Close();
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    handle_ = key;
    return true;
}

bool RegistryKey::CreateForWriting(const std::string& path) {
    Close();
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        return false;
    handle_ = key;
    return true;
}

bool RegistryKey::Read(const char* name, uint32_t& type, std::vector<uint8_t>& bytes, size_t maxBytes) const {
    if (!handle_ || maxBytes > 0xffffffffu) return false;
    // One query into a zeroed buffer of the caller's size: a value that does not fit answers
    // ERROR_MORE_DATA. (Asking for the size first is no help: for a string the ANSI query may
    // answer with the size of the stored UTF-16 text, twice what it reads.)
    std::vector<uint8_t> buffer(maxBytes ? maxBytes : 1, 0);
    DWORD t = 0, got = DWORD(maxBytes);
    if (::RegQueryValueExA(static_cast<HKEY>(handle_), name, nullptr, &t, buffer.data(), &got) != ERROR_SUCCESS ||
        got > maxBytes)
        return false;
    buffer.resize(got);
    bytes = std::move(buffer);
    type = t;
    return true;
}

bool RegistryKey::Write(const char* name, uint32_t type, const void* data, uint32_t size) const {
    if (!handle_) return false;
    return ::RegSetValueExA(static_cast<HKEY>(handle_), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

bool RegistryDeleteTree(const std::string& path) {
    const LSTATUS rc = ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace pel::platform
