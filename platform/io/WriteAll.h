#pragma once
// Writes that finish: short writes are continued and EINTR retried.
#include <cstddef>
#include <cstdint>

namespace tunara::io {

// 0 when all `count` bytes were written, else the errno of the failed write.
int WriteAll(int fd, const void* data, size_t count);
// The same with pwrite at `offset`; the file position stays.
int WriteAllAt(int fd, const void* data, size_t count, int64_t offset);

}  // namespace tunara::io
