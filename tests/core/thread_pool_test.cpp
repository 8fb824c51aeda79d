// The thread pool's failure paths: threads the system refuses to start, and
// a chunk that throws. Every run must report its failure as an exception,
// join every thread it started and leave no chunk running.
//
// The refusal is injected by this program's own pthread_create, which
// stands in for the C library's (the program exports it) and refuses once
// a set number of threads have started; production code is untouched.
#include <dlfcn.h>
#include <pthread.h>

#include <dirent.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "collection/parallel.hpp"

namespace {

// Threads still to be allowed; -1 allows all.
std::atomic<int> threads_allowed{-1};
std::atomic<int> threads_refused{0};

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto system_create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    int allowed = threads_allowed.load();
    while (allowed > 0 && !threads_allowed.compare_exchange_weak(allowed, allowed - 1)) {}
    if (allowed == 0) {
        ++threads_refused;
        return EAGAIN;
    }
    return system_create(thread, attributes, start, argument);
}

namespace {

using vorn::collection::ChunkContext;
using vorn::collection::parallel_for;
using vorn::collection::RunOutcome;
using vorn::testing::check;

// Threads of this process, counted in /proc (-1 where there is none).
int thread_count() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
    return count;
}

bool never_stop() { return false; }

// Runs 64 chunks on 4 workers with `allowed` threads allowed to start;
// returns how many chunks ran, and -1 when the run threw bad_alloc.
int run_with_threads_allowed(int allowed, std::atomic<int>& running_after) {
    std::atomic<int> chunks{0}, running{0};
    threads_allowed = allowed;
    int result;
    try {
        parallel_for(
            64, 1, 4,
            [&](std::size_t, std::size_t, const ChunkContext&) {
                ++running;
                ++chunks;
                --running;
            },
            never_stop);
        result = chunks.load();
    } catch (const std::bad_alloc&) {
        result = -1;
    }
    threads_allowed = -1;
    running_after = running.load();
    return result;
}

void refused_threads() {
    const int threads_before = thread_count();
    for (const int allowed : {3, 1}) {
        // Some threads started: the run finishes on those, every chunk once.
        std::atomic<int> running{0};
        const int refused_before = threads_refused.load();
        const int chunks = run_with_threads_allowed(allowed, running);
        check(threads_refused.load() > refused_before, "%d threads allowed: no thread was refused", allowed);
        check(chunks == 64, "%d threads allowed: %d of 64 chunks ran", allowed, chunks);
        check(running == 0 && thread_count() == threads_before, "%d threads allowed: threads left behind", allowed);
    }
    // None started: the run fails as out of memory, having run nothing.
    std::atomic<int> running{0};
    const int chunks = run_with_threads_allowed(0, running);
    check(chunks == -1, "no thread allowed: the run gave %d chunks instead of failing", chunks);
    check(running == 0 && thread_count() == threads_before, "no thread allowed: threads left behind");
}

void throwing_chunk() {
    const int threads_before = thread_count();
    for (const std::size_t workers : {1, 2, 4}) {
        std::atomic<int> running{0}, started{0};
        bool caught = false;
        try {
            parallel_for(
                1000, 1, workers,
                [&](std::size_t begin, std::size_t, const ChunkContext&) {
                    ++running;
                    ++started;
                    if (begin == 7) {
                        --running;
                        throw std::runtime_error("chunk 7");
                    }
                    --running;
                },
                never_stop);
        } catch (const std::runtime_error& error) {
            caught = std::string_view(error.what()) == "chunk 7";
        }
        check(caught, "%zu workers: the chunk's exception did not reach the caller", workers);
        check(running == 0 && thread_count() == threads_before, "%zu workers: threads left behind", workers);
        // The failure stops the run: chunks handed out after it do not start.
        check(started < 1000, "%zu workers: all %d chunks ran after a failure", workers, started.load());
    }
}

}  // namespace

int main() {
    refused_threads();
    throwing_chunk();
    return vorn::testing::exit_status();
}
