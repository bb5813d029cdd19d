#pragma once

#include <cstdint>
#include <string>

namespace velloq::platform {

// A 64-bit counter in a small memory-mapped file that every process on the device shares.
// Reading it is a plain memory load, no system call, which lets a process keep answers cached
// until another process says, by counting up, that they may have changed.
class SharedCounter {
public:
    // Maps the file, creating it when absent; `is_mapped()` is false when it cannot be had.
    explicit SharedCounter(std::string const& path);
    ~SharedCounter();

    SharedCounter(SharedCounter const&) = delete;
    SharedCounter& operator=(SharedCounter const&) = delete;

    bool is_mapped() const { return m_value != nullptr; }
    uint64_t load() const;
    void increment();

private:
    uint64_t* m_value { nullptr };
};

}
