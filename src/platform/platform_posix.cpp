// pel_platform, native build: POSIX and the standard library standing in for the Win32 calls
// that name, with the same semantics.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <new>
#include <thread>

namespace pel::platform {

namespace {

thread_local uint32_t t_lastError = 0;
std::atomic<uint32_t> g_nextThreadId{1};
thread_local uint32_t t_threadId = 0;

void SetLastError(uint32_t code) { t_lastError = code; }

// Manual-reset event: a flag under a mutex; Set wakes every waiter and stays set.
struct EventImpl {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;

    bool Set() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            signalled = true;
        }
        cv.notify_all();
        return true;
    }
    bool Reset() {
        std::lock_guard<std::mutex> lock(mutex);
        signalled = false;
        return true;
    }
    WaitResult Wait(uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(mutex);
        if (milliseconds == kWaitInfinite) {
            cv.wait(lock, [this] { return signalled; });
            return WaitResult::Signalled;
        }
        bool ok = cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return signalled; });
        return ok ? WaitResult::Signalled : WaitResult::Timeout;
    }
};

}  // namespace

// ---- threads ------------------------------------------------------------------------------

struct ThreadImpl {
    std::thread thread;
    std::shared_ptr<EventImpl> ended;   // set when the procedure has returned
};

ThreadHandle StartThread(ThreadProc proc, void* arg, uint32_t* threadId) {
    if (!detail::TakeThreadStart()) {
        SetLastError(EAGAIN);
        return nullptr;
    }
    auto* impl = new (std::nothrow) ThreadImpl;
    if (!impl) {
        SetLastError(ENOMEM);
        return nullptr;
    }
    try {
        impl->ended = std::make_shared<EventImpl>();
        uint32_t id = g_nextThreadId.fetch_add(1);
        if (id == 0) id = g_nextThreadId.fetch_add(1);
        std::shared_ptr<EventImpl> ended = impl->ended;
        impl->thread = std::thread([proc, arg, id, ended] {
            t_threadId = id;
            proc(arg);
            ended->Set();
        });
        if (threadId) *threadId = id;
    } catch (const std::system_error& e) {
        SetLastError(static_cast<uint32_t>(e.code().value()));
        delete impl;
        return nullptr;
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        delete impl;
        return nullptr;
    }
    return impl;
}

WaitResult WaitThread(ThreadHandle thread, uint32_t milliseconds) {
    if (!thread) {
        SetLastError(EINVAL);
        return WaitResult::Failed;
    }
    return thread->ended->Wait(milliseconds);
}

void CloseThread(ThreadHandle thread) {
    if (!thread) return;
    if (thread->thread.joinable()) {
        // A thread that has ended (or is about to: its procedure has returned or returns
        // within the grace time) is joined; one that still runs goes on detached, as a
        // closed Win32 handle leaves its thread running.
        if (thread->ended->Wait(200) == WaitResult::Signalled)
            thread->thread.join();
        else
            thread->thread.detach();
    }
    delete thread;
}

uint32_t CurrentThreadId() {
    if (t_threadId == 0) {
        uint32_t id = g_nextThreadId.fetch_add(1);
        if (id == 0) id = g_nextThreadId.fetch_add(1);
        t_threadId = id;
    }
    return t_threadId;
}

void SleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- events -------------------------------------------------------------------------------

Event::Event(bool initiallySignalled) : impl_(new (std::nothrow) EventImpl) {
    if (!impl_) {
        SetLastError(ENOMEM);
        return;
    }
    static_cast<EventImpl*>(impl_)->signalled = initiallySignalled;
}

Event::~Event() { delete static_cast<EventImpl*>(impl_); }

bool Event::IsValid() const { return impl_ != nullptr; }

bool Event::Set() {
    if (!impl_) {
        SetLastError(EINVAL);
        return false;
    }
    return static_cast<EventImpl*>(impl_)->Set();
}

bool Event::Reset() {
    if (!impl_) {
        SetLastError(EINVAL);
        return false;
    }
    return static_cast<EventImpl*>(impl_)->Reset();
}

WaitResult Event::Wait(uint32_t milliseconds) {
    if (!impl_) {
        SetLastError(EINVAL);
        return WaitResult::Failed;
    }
    return static_cast<EventImpl*>(impl_)->Wait(milliseconds);
}

// ---- critical section ---------------------------------------------------------------------

CriticalSection::CriticalSection() : impl_(new std::recursive_mutex) {}
CriticalSection::~CriticalSection() { delete static_cast<std::recursive_mutex*>(impl_); }
void CriticalSection::Enter() { static_cast<std::recursive_mutex*>(impl_)->lock(); }
bool CriticalSection::TryEnter() { return static_cast<std::recursive_mutex*>(impl_)->try_lock(); }
void CriticalSection::Leave() { static_cast<std::recursive_mutex*>(impl_)->unlock(); }

// ---- system information and clocks -------------------------------------------------------

uint32_t LastError() { return t_lastError; }

uint32_t ProcessorCount() {
#if defined(__linux__)
    // The processors this process may run on (taskset, a container's cpuset), not all the
    // machine has: more threads than those only queue behind each other and take buffers.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int allowed = CPU_COUNT(&set);
        if (allowed >= 1) return static_cast<uint32_t>(allowed);
    }
#endif
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n < 1) {
        unsigned hw = std::thread::hardware_concurrency();
        n = hw ? static_cast<long>(hw) : 1;
    }
    return static_cast<uint32_t>(n);
}

uint32_t TickCount() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

int64_t PerformanceCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t PerformanceFrequency() { return 1000000000; }

// ---- debug console: standard error stands in for the console window -----------------------

namespace {
std::atomic<bool> g_consoleOpen{false};
}

bool DebugConsoleOpen(const char* /*title*/) {
    g_consoleOpen = true;
    return true;
}

void DebugConsoleClose() { g_consoleOpen = false; }

bool DebugConsoleIsOpen() { return g_consoleOpen; }

void DebugConsoleWrite(const char* text) {
    if (!g_consoleOpen || !text) return;
    size_t n = std::strlen(text);
    while (n > 0) {
        ssize_t w = ::write(STDERR_FILENO, text, n);
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            return;  // write errors are ignored
        }
        text += w;
        n -= static_cast<size_t>(w);
    }
}

// ---- environment, module, files ----------------------------------------------------------

bool SetEnvironmentVariableValue(const char* name, const char* value) {
    int rc = value ? ::setenv(name, value, 1) : ::unsetenv(name);
    if (rc != 0) SetLastError(static_cast<uint32_t>(errno));
    return rc == 0;
}

namespace {
std::atomic<void*> g_module{nullptr};
}

void SetModuleHandle(void* module) { g_module = module; }

void* ModuleHandle() {
    void* m = g_module;
    if (m) return m;
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ModuleHandle), &info) && info.dli_fbase)
        return info.dli_fbase;
    return nullptr;
}

std::string ModuleFileName() {
    // The file of the shared object (or program) that contains this code. A handle stored
    // by SetModuleHandle natively is the base address of that object.
    Dl_info info;
    void* probe = g_module ? g_module.load() : reinterpret_cast<void*>(&ModuleHandle);
    if (dladdr(probe, &info) && info.dli_fname && info.dli_fname[0]) {
        std::string name = info.dli_fname;
        if (name.find('/') == std::string::npos) {
            // The main program: dladdr gives the name it was started with.
            char buffer[512];
            ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
            if (n > 0) return std::string(buffer, static_cast<size_t>(n));
        }
        return name.size() < 512 ? name : std::string();
    }
    char buffer[512];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

const char* PathSeparator() { return "/"; }

bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) {
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) {
        SetLastError(static_cast<uint32_t>(errno));
        return false;
    }
    while (dirent* e = ::readdir(dir)) {
        DirectoryEntry entry;
        entry.name = e->d_name;
        bool isDir = false;
        if (e->d_type == DT_DIR) {
            isDir = true;
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            std::string full = directory + "/" + entry.name;
            DIR* probe = ::opendir(full.c_str());
            if (probe) {
                isDir = true;
                ::closedir(probe);
            }
        }
        entry.isDirectory = isDir;
        if (entries) entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

}  // namespace pel::platform
