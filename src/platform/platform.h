// The thin OS layer: everything above src/platform calls these instead of the OS.
// Win32 in the Windows build (platform_win32.cpp), POSIX/std in the native build
// (platform_posix.cpp). Semantics follow the Win32 calls:
// a manual-reset event stays signalled until reset, a critical section may be re-entered by
// the thread that holds it, thread ids are never 0.
#pragma once
// Names avoid the Win32 ones that <windows.h> turns into macros (GetModuleFileName, ...).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pel::platform {

constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled, Timeout, Failed };

// ---- threads ------------------------------------------------------------------------------
struct ThreadImpl;
using ThreadHandle = ThreadImpl*;              // null: no thread
using ThreadProc = uint32_t (*)(void* arg);    // the value returned is the exit code

// Starts a thread at once (default stack size). Stores its id (never 0) in *threadId when
// given. Returns null on failure (LastError() then tells why).
ThreadHandle StartThread(ThreadProc proc, void* arg, uint32_t* threadId);
// Test seam: after `starts` more successful StartThread calls every further one fails, as when
// the system has no room for another thread (stack, address space); a negative count lifts
// the limit. Process-wide; only tests set it.
void LimitThreadStartsForTesting(int32_t starts);
namespace detail {
// Whether StartThread may start one more thread under the test limit (counts it when so).
bool TakeThreadStart();
}  // namespace detail
// Waits until the thread has ended or the time (ms) is up.
WaitResult WaitThread(ThreadHandle thread, uint32_t milliseconds);
// Releases the handle. A thread that has not ended yet goes on running, detached.
void CloseThread(ThreadHandle thread);
// The calling thread's id, unique among the live threads of the process and never 0.
uint32_t CurrentThreadId();
void SleepMilliseconds(uint32_t milliseconds);

// ---- manual-reset event (CreateEventA with manual reset, no name) ------------------------
class Event {
public:
    explicit Event(bool initiallySignalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool IsValid() const;  // false when creation failed (LastError() tells why)
    bool Set();            // stays signalled, releasing every waiter, until Reset
    bool Reset();
    WaitResult Wait(uint32_t milliseconds = kWaitInfinite);

private:
    void* impl_;
};

// ---- recursive critical section ---------------------------------------------------------
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter();     // the holding thread may enter again (and must leave as often)
    bool TryEnter();
    void Leave();

private:
    void* impl_;
};

// Enters on construction, leaves on destruction.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~CriticalSectionGuard() { cs_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& cs_;
};

// ---- system information and clocks -------------------------------------------------------
uint32_t LastError();               // GetLastError / errno of the last failing call here
uint32_t ProcessorCount();          // GetSystemInfo's processor count; at least 1
uint32_t TickCount();               // milliseconds, wraps at 2^32 (GetTickCount)
int64_t PerformanceCounter();       // QueryPerformanceCounter, or a monotonic ns counter
int64_t PerformanceFrequency();     // ticks per second of PerformanceCounter

// ---- debug console -----------------------------------------------------------------------
// Windows: a console window of its own (AllocConsole, title, 200 x 5000 buffer, widened
// window). Native: standard error stands in for the window. Writing goes nowhere while the
// console is closed.
bool DebugConsoleOpen(const char* title);
void DebugConsoleClose();
bool DebugConsoleIsOpen();
void DebugConsoleWrite(const char* text);  // up to the first zero byte

// ---- environment, module, files ----------------------------------------------------------
// Answers whether the variable is set; its value goes to *value when given.
// Reads the C runtime's environment (getenv).
bool EnvironmentVariable(const char* name, std::string* value);
// Sets (value given) or removes (null) a variable of the C runtime's environment.
bool SetEnvironmentVariableValue(const char* name, const char* value);
// The handle of the plug-in module (DllMain stores it at load). When none was stored the
// module containing this code is used.
void SetModuleHandle(void* module);
void* ModuleHandle();
// Full path of the module's file (GetModuleFileNameA into 512 characters); empty on failure.
std::string ModuleFileName();
// Splits a path into drive ("C:" or empty), directory (with trailing separator), name and
// extension (with its dot), as _splitpath does.
void SplitPath(const std::string& path, std::string* drive, std::string* directory,
               std::string* name, std::string* extension);

// The native separator of the file system ("\\" on Windows, "/" natively).
const char* PathSeparator();

struct DirectoryEntry {
    std::string name;     // without the directory
    bool isDirectory = false;
};
// Entries of one directory in the order the system returns them, "." and ".." included as
// the system gives them. Answers false when the directory cannot be read.
bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries);

}  // namespace pel::platform
