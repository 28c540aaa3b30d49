// The debug logger and the path operations.
#include "core/logger.h"

#include <cinttypes>
#include <cstdio>

namespace ov {

Logger::Logger() { Refresh(); }

Logger::~Logger() {
    if (console) {
        pel::platform::DebugConsoleClose();
        console = false;
    }
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
}

std::string Logger::DefaultPath() { return GetHomeDirectory() + "ostrovanne/pelidorn_ps.log"; }

void Logger::Refresh() {
    if (path.empty()) path = DefaultPath();
    if (!file && !path.empty()) {
        // The logger never creates the file: only an existing, readable file is appended to.
        if (FILE* probe = std::fopen(path.c_str(), "r")) {
            std::fclose(probe);
            file = std::fopen(path.c_str(), "a+");
        }
    }
    if (file) active = true;
    if (!active && console) {
        pel::platform::DebugConsoleClose();
        console = false;
    }
    if (active && !console) console = pel::platform::DebugConsoleOpen("Debug Window");
}

void Logger::Write(const std::string& message, int32_t level) {
    pel::platform::CriticalSectionGuard guard(lock);
    Refresh();
    if (level < minLevel) return;
    std::string blanks;
    for (int32_t i = 0, depth = indent.load(); i < depth; ++i) blanks += "    ";
    if (file) {
        std::fprintf(file, "%s", blanks.c_str());
        std::fprintf(file, "%s", message.c_str());
        std::fflush(file);
    }
    if (console) {
        pel::platform::DebugConsoleWrite(blanks.c_str());
        pel::platform::DebugConsoleWrite(message.c_str());
    }
}

void Logger::Write(const std::ostringstream& message, int32_t level) {
    Write(message.str(), level);
}

Logger& GetLogger() {
    // Constructed on first use; destroyed at process exit in the reverse order of
    // registration (after the filter object, before the module's globals).
    static Logger logger;
    return logger;
}

void LogIndent() { ++GetLogger().indent; }
void LogOutdent() { --GetLogger().indent; }

std::ostream& operator<<(std::ostream& os, const HexPtr& p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%016" PRIXPTR, p.value);
    return os << buffer;
}

std::string GetHomeDirectory() {
    std::string home;
    if (!pel::platform::EnvironmentVariable("HOME", &home) &&
        !pel::platform::EnvironmentVariable("HOMEPATH", &home))
        return std::string();
    std::string drive;
    pel::platform::EnvironmentVariable("HOMEDRIVE", &drive);
    return drive + home + "/";
}

std::string GetModuleDirectory() {
    std::string drive, directory;
    pel::platform::SplitPath(pel::platform::ModuleFileName(), &drive, &directory, nullptr,
                             nullptr);
    return drive + directory;
}

void ListFiles(std::vector<std::string>& out, const std::string& directory,
               const std::string& extension, bool recursive) {
    std::vector<pel::platform::DirectoryEntry> entries;
    if (!pel::platform::ListDirectory(directory, &entries)) return;
    const std::string separator = pel::platform::PathSeparator();
    for (const auto& e : entries) {
        if (e.name.empty() || e.name[0] == '.') continue;
        const std::string full = directory + separator + e.name;
        if (!e.isDirectory) {
            size_t dot = e.name.find_last_of('.');
            std::string ext = dot == std::string::npos ? e.name : e.name.substr(dot + 1);
            if (extension == "*" || ext == extension) out.push_back(full);
        } else if (recursive) {
            ListFiles(out, full, extension, true);
        }
    }
}

}  // namespace ov
