// The debug log. One process-wide Logger, made on first use by GetLogger. It
// writes only when its file (GetHomeDirectory() + "ostrovanne/pelidorn_ps.log") already
// exists, and then mirrors every line to a debug console (a console window in the Windows
// build, standard error natively). Lines are the indent (four blanks per level) followed by
// the message exactly as given; marks and the final "\n" are part of the message.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace ov {

enum LogLevel : int32_t { LogLevelTrace = 1, LogLevelWarning = 2, LogLevelError = 3 };

constexpr const char kLogWarningMark[] = "-**### WARNING ###**-: ";
constexpr const char kLogErrorMark[] = "-**###  ERROR  ###**-: ";

class Logger {
public:
    Logger();   // runs Refresh once
    ~Logger();  // closes the console and the file
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Writes indent + message under the lock, after a Refresh, when level >= minLevel.
    void Write(const std::ostringstream& message, int32_t level);
    void Write(const std::string& message, int32_t level);
    // Opens the file when it exists (never creates it) and the console while active.
    void Refresh();
    static std::string DefaultPath();
    void SetLevel(int32_t level) { minLevel = level; }
    void SetActive() { active = true; }
    void ClearActive() { active = false; }

    std::string path;
    FILE* file = nullptr;
    bool active = false;
    int32_t minLevel = 1;
    std::atomic<int32_t> indent{0};   // process-wide nesting depth; changed without the lock
    pel::platform::CriticalSection lock;
    bool console = false;             // the debug console is open
};

// The logger, constructed on first use (its destruction registered for process exit).
Logger& GetLogger();
// Raise / lower the nesting depth by one (LogOutdent also makes sure the logger exists).
void LogIndent();
void LogOutdent();

// Streams a pointer as the trace convention wants it: 16 upper-case hexadecimal digits.
struct HexPtr {
    explicit HexPtr(const void* p) : value(reinterpret_cast<uintptr_t>(p)) {}
    uintptr_t value;
};
std::ostream& operator<<(std::ostream& os, const HexPtr& p);

// Log(level, parts...): streams the parts into one message and writes it. The caller
// provides the "\n" and, for warnings and errors, the mark (or uses LogWarning / LogError).
template <class... Parts>
void Log(int32_t level, Parts&&... parts) {
    std::ostringstream os;
    (os << ... << std::forward<Parts>(parts));
    GetLogger().Write(os, level);
}
template <class... Parts>
void LogTrace(Parts&&... parts) { Log(LogLevelTrace, std::forward<Parts>(parts)...); }
// Prepends "-**### WARNING ###**-: " (level 2); the caller gives the "\n".
template <class... Parts>
void LogWarning(Parts&&... parts) {
    Log(LogLevelWarning, kLogWarningMark, std::forward<Parts>(parts)...);
}
// Prepends "-**###  ERROR  ###**-: " (level 3); the caller gives the "\n".
template <class... Parts>
void LogError(Parts&&... parts) {
    Log(LogLevelError, kLogErrorMark, std::forward<Parts>(parts)...);
}

// A traced scope: the entry line has been written by the caller; construction raises the
// depth, destruction lowers it (also when an exception passes). Write the exit line before
// the scope ends so it stands at the inner depth.
class LogScope {
public:
    LogScope() { LogIndent(); }
    ~LogScope() { LogOutdent(); }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;
};

// Paths.
// HOMEDRIVE + (HOME, else HOMEPATH) + "/"; empty when neither HOME nor HOMEPATH is set.
std::string GetHomeDirectory();
// Drive and directory (with trailing separator) of the module's own file.
std::string GetModuleDirectory();
// Appends directory + separator + name of every file whose extension (text after the last
// ".", or the whole name) equals extension exactly, or of every file when extension is "*";
// skips names beginning with "."; descends into directories at once when recursive.
void ListFiles(std::vector<std::string>& out, const std::string& directory,
               const std::string& extension, bool recursive);

}  // namespace ov
