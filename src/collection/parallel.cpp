// Worker threads take chunk numbers from one atomic counter; the calling
// thread only waits, so it can answer to interrupts while chunks run. A
// single worker is the calling thread itself, asking between chunks.
#include "collection/parallel.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace vorn::collection {

std::size_t resolve_workers(long workers) noexcept {
    const std::size_t cores = std::max<std::size_t>(1, std::thread::hardware_concurrency());
    if (workers == -1) return cores;
    return std::min(cores, static_cast<std::size_t>(std::max<long>(1, workers)));
}

std::size_t thread_count(std::size_t n_items, std::size_t chunk, std::size_t workers) noexcept {
    chunk = std::max<std::size_t>(chunk, 1);
    const std::size_t n_chunks = n_items / chunk + (n_items % chunk != 0);
    return std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(n_chunks, 1));
}

namespace {

struct SharedRun {
    std::atomic<std::size_t> next_chunk{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;     // guarded by mutex
    std::exception_ptr failure;  // first failure, guarded by mutex
};

void work(SharedRun& run, std::size_t worker, std::size_t n_items, std::size_t chunk, std::size_t n_chunks,
          const ChunkBody& body) {
    const ChunkContext context(worker, run.stop);
    try {
        while (!run.stop.load(std::memory_order_relaxed)) {
            const std::size_t index = run.next_chunk.fetch_add(1, std::memory_order_relaxed);
            if (index >= n_chunks) break;
            const std::size_t begin = index * chunk;
            body(begin, std::min(n_items, begin + chunk), context);
        }
    } catch (...) {
        std::lock_guard lock(run.mutex);
        if (!run.failure) run.failure = std::current_exception();
        run.stop.store(true, std::memory_order_relaxed);
    }
    std::lock_guard lock(run.mutex);
    --run.running;
    run.finished.notify_one();
}

// One worker: the chunks run on the calling thread, which asks should_stop
// between them at the same interval. Starting and joining a thread would
// cost more than a small call's whole work.
RunOutcome run_inline(std::size_t n_items, std::size_t chunk, std::size_t n_chunks, const ChunkBody& body,
                      const StopPoll& should_stop) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPollInterval = std::chrono::milliseconds(kStopPollMilliseconds);
    const std::atomic<bool> never_stopped{false};  // nothing sets it while a chunk runs
    const ChunkContext context(0, never_stopped);
    auto next_poll = Clock::now() + kPollInterval;
    for (std::size_t index = 0; index < n_chunks; ++index) {
        const std::size_t begin = index * chunk;
        body(begin, std::min(n_items, begin + chunk), context);
        if (index + 1 < n_chunks && Clock::now() >= next_poll) {
            if (should_stop()) return RunOutcome::stopped;
            next_poll = Clock::now() + kPollInterval;
        }
    }
    return RunOutcome::completed;
}

}  // namespace

RunOutcome parallel_for(std::size_t n_items, std::size_t chunk, std::size_t workers, const ChunkBody& body,
                        const StopPoll& should_stop) {
    if (n_items == 0) return RunOutcome::completed;
    chunk = std::max<std::size_t>(chunk, 1);
    const std::size_t n_chunks = n_items / chunk + (n_items % chunk != 0);
    const std::size_t n_threads = thread_count(n_items, chunk, workers);
    if (n_threads == 1) return run_inline(n_items, chunk, n_chunks, body, should_stop);

    SharedRun run;
    std::vector<std::thread> threads;
    threads.reserve(n_threads);
    for (std::size_t worker = 0; worker < n_threads; ++worker) {
        {
            std::lock_guard lock(run.mutex);
            ++run.running;
        }
        try {
            threads.emplace_back(work, std::ref(run), worker, n_items, chunk, n_chunks, std::cref(body));
        } catch (const std::system_error&) {
            // The system refused another thread: go on with those started.
            std::lock_guard lock(run.mutex);
            --run.running;
            if (!threads.empty()) break;
            run.failure = std::make_exception_ptr(std::bad_alloc());
            run.stop = true;
            break;
        }
    }

    bool stopped = false;
    {
        std::unique_lock lock(run.mutex);
        while (run.running > 0) {
            if (run.finished.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds),
                                      [&] { return run.running == 0; }))
                break;
            if (stopped) continue;
            lock.unlock();
            stopped = should_stop();
            if (stopped) run.stop.store(true, std::memory_order_relaxed);
            lock.lock();
        }
    }
    for (std::thread& thread : threads) thread.join();
    if (run.failure) std::rethrow_exception(run.failure);
    return stopped ? RunOutcome::stopped : RunOutcome::completed;
}

}  // namespace vorn::collection
