// Helpers of the core tests: temporary folders, a deadline against hangs, and a fresh state
// of the process-wide logger.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "core/logger.h"
#include "platform/platform.h"

namespace pel_test {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        static std::atomic<int> counter{0};
        path = fs::temp_directory_path() /
               ("pel_core_" + std::to_string(pel::platform::CurrentThreadId()) + "_" +
                std::to_string(pel::platform::PerformanceCounter()) + "_" +
                std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
};

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

// What the log file holds for the given messages: the file is opened in text mode ("a+"), as
// the log's contract says, so the Windows C runtime writes each "\n" as "\r\n".
inline std::string InFile(const std::string& text) {
#if defined(_WIN32)
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

inline void Touch(const fs::path& p, const std::string& text = "") {
    std::ofstream(p, std::ios::binary) << text;
}

// Runs body on its own thread; ends the process with a failure when it does not finish in
// time (a deadlock would otherwise hang the suite until ctest's timeout).
inline void WithDeadline(int seconds, const std::function<void()>& body) {
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        for (int i = 0; i < seconds * 100 && !finished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!finished) {
            std::fprintf(stderr, "deadline of %d s passed: deadlock?\n", seconds);
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
    body();
    finished = true;
    watchdog.join();
}

// Brings the process-wide logger back to its first-use state, logging to the given path
// (empty: the default path from the home folder at the next message).
inline void ResetLogger(const std::string& path) {
    ov::Logger& log = ov::GetLogger();
    pel::platform::CriticalSectionGuard guard(log.lock);
    if (log.file) std::fclose(log.file);
    log.file = nullptr;
    log.active = false;
    if (log.console) pel::platform::DebugConsoleClose();
    log.console = false;
    log.indent = 0;
    log.minLevel = 1;
    log.path = path;
}

// Points HOME at a temporary folder with an (optionally present) log file, and the logger at
// its default path there.
struct TempHome {
    TempDir dir;
    std::string savedHome, savedDrive, savedPath;
    bool hadHome, hadDrive, hadPath;
    explicit TempHome(bool withLogFile) {
        hadHome = pel::platform::EnvironmentVariable("HOME", &savedHome);
        hadDrive = pel::platform::EnvironmentVariable("HOMEDRIVE", &savedDrive);
        hadPath = pel::platform::EnvironmentVariable("HOMEPATH", &savedPath);
        pel::platform::SetEnvironmentVariableValue("HOME", dir.str().c_str());
        pel::platform::SetEnvironmentVariableValue("HOMEDRIVE", nullptr);
        fs::create_directories(dir.path / "ostrovanne");
        if (withLogFile) Touch(LogPath());
        ResetLogger("");
    }
    ~TempHome() {
        ResetLogger("");
        pel::platform::SetEnvironmentVariableValue("HOME", hadHome ? savedHome.c_str() : nullptr);
        pel::platform::SetEnvironmentVariableValue("HOMEDRIVE", hadDrive ? savedDrive.c_str() : nullptr);
        pel::platform::SetEnvironmentVariableValue("HOMEPATH", hadPath ? savedPath.c_str() : nullptr);
    }
    fs::path LogPath() const { return dir.path / "ostrovanne" / "pelidorn_ps.log"; }
    std::string Log() const { return ReadFile(LogPath()); }
};

}  // namespace pel_test
