// The one thread pool of the collection layer: a range of items cut into
// chunks that up to `workers` threads take in turn, while the calling
// thread waits and asks every 50 ms whether to stop. One worker is the
// calling thread itself, which asks between chunks. No thread outlives the
// call.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace vorn::collection {

// What a chunk sees of the run: its worker's number (0 .. workers-1, for
// per-thread buffers) and whether the run is being stopped, which long
// chunks check between items.
class ChunkContext {
public:
    ChunkContext(std::size_t worker, const std::atomic<bool>& stop) noexcept : worker_(worker), stop_(&stop) {}
    std::size_t worker() const noexcept { return worker_; }
    bool stop_requested() const noexcept { return stop_->load(std::memory_order_relaxed); }

private:
    std::size_t worker_;
    const std::atomic<bool>* stop_;
};

enum class RunOutcome { completed, stopped };

// The body scores items [begin, end). It may throw only std::bad_alloc,
// which stops the run and is rethrown to the caller after every thread has
// been joined.
using ChunkBody = std::function<void(std::size_t begin, std::size_t end, const ChunkContext&)>;

// Polled by the calling thread about every 50 ms (between chunks when it
// runs them itself); true stops the run.
using StopPoll = std::function<bool()>;

// Interval at which the calling thread polls `should_stop`.
inline constexpr int kStopPollMilliseconds = 50;

// Number of threads `workers` asks for: -1 means every core; others are
// taken as given (at least 1) up to the number of cores, as more threads
// than cores only cost memory.
std::size_t resolve_workers(long workers) noexcept;

// Number of threads parallel_for starts for these arguments (it may start
// fewer when the system refuses one): per-thread buffers are sized by it.
std::size_t thread_count(std::size_t n_items, std::size_t chunk, std::size_t workers) noexcept;

// Runs body over [0, n_items) in chunks of `chunk` items (the last may be
// shorter) on min(workers, number of chunks) threads. Chunks are handed
// out in increasing order. Returns `stopped` when should_stop answered
// true (chunks already running finish; no new chunk starts).
RunOutcome parallel_for(std::size_t n_items, std::size_t chunk, std::size_t workers, const ChunkBody& body,
                        const StopPoll& should_stop);

}  // namespace vorn::collection
