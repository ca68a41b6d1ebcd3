// CPU and heap allocations per VCOM operation through the HAL path, on the
// simulated board with its trace off. The driver's waits return at once, so
// the CPU figure is the code's own cost, user plus system time; the parts'
// busy windows pass on the waits' virtual time.

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <ze/sim/device.h>

#include "rig.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

// operator new and every library allocate through these; glibc's own entry
// points do the work.
std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::uint64_t> gAllocatedBytes{0};
std::atomic<std::uint64_t> gWaitedUs{0};

void count(std::size_t bytes)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(bytes, std::memory_order_relaxed);
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void* malloc(std::size_t size)
{
    count(size);
    return __libc_malloc(size);
}
__attribute__((visibility("default"))) void* calloc(std::size_t n, std::size_t size)
{
    count(n * size);
    return __libc_calloc(n, size);
}
__attribute__((visibility("default"))) void* realloc(void* pointer, std::size_t size)
{
    count(size);
    return __libc_realloc(pointer, size);
}
__attribute__((visibility("default"))) int usleep(useconds_t us)
{
    gWaitedUs.fetch_add(us, std::memory_order_relaxed);
    return 0;
}
}

namespace {

void measure(benchmark::State& state, const ze::ic::catalogue::ChipInfo& chip,
             const ze::bench::Op& op)
{
    ze::bench::Rig rig(chip);
    // The first run fills the caches the later runs keep.
    if (!rig.run(op)) state.SkipWithError("the operation failed");
    const std::uint64_t allocations = gAllocations.load();
    const std::uint64_t bytes = gAllocatedBytes.load();
    for (auto _ : state) {
        if (!rig.run(op)) {
            state.SkipWithError("the operation failed");
            break;
        }
    }
    using benchmark::Counter;
    state.counters["allocs"] =
        Counter(static_cast<double>(gAllocations.load() - allocations), Counter::kAvgIterations);
    state.counters["bytes"] =
        Counter(static_cast<double>(gAllocatedBytes.load() - bytes), Counter::kAvgIterations);
}

}  // namespace

int main(int argc, char** argv)
{
    ze::sim::setDefaultClock([] { return gWaitedUs.load(std::memory_order_relaxed); });
    for (const ze::ic::catalogue::ChipInfo& chip : ze::ic::catalogue::kChips) {
        for (const ze::bench::Op& op : ze::bench::kOps) {
            const std::string name = std::string(chip.label) + "/" + op.name;
            benchmark::RegisterBenchmark(name.c_str(), measure, chip, op)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
