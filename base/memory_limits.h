#pragma once
// The memory this process may really use, which is often less than the machine has: a container's
// cgroup bounds what it keeps resident, and resource limits (ulimit -v, -d) bound its address
// space and data. Read, never cached: each answer is the state now.
//
//   const std::uint64_t budget = residentMemoryLimit() / 4;
//   if (!addressSpaceHolds(160ull << 20)) ...   // no room to map another 160 MiB

#include <cstdint>
#include <filesystem>

namespace ondevice {

// The least of the machine's physical memory and the memory controller's limits on this
// process's cgroup and each of its ancestors (cgroup v2's memory.max and memory.high, v1's
// memory.limit_in_bytes, under `cgroupRoot`); 0 when none of them can be read.
std::uint64_t residentMemoryLimit(const std::filesystem::path& cgroupRoot = "/sys/fs/cgroup");

// Whether `bytes` more of address space could be mapped now, within RLIMIT_AS and RLIMIT_DATA:
// maps that much without touching or reserving it, and unmaps it again.
bool addressSpaceHolds(std::uint64_t bytes);

}  // namespace ondevice
