#include "platform/SharedCounter.h"

#include "platform/FileDescriptor.h"

#include <atomic>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloq::platform {

namespace {

constexpr size_t counter_size = sizeof(uint64_t);

}

SharedCounter::SharedCounter(std::string const& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.is_valid())
        return;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    // Growing a shorter file zero-fills it; a longer one keeps its first eight bytes as the count.
    if (static_cast<size_t>(info.st_size) < counter_size && ::ftruncate(file.get(), counter_size) != 0)
        return;
    void* mapping = ::mmap(nullptr, counter_size, PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0);
    if (mapping != MAP_FAILED)
        m_value = static_cast<uint64_t*>(mapping);
}

SharedCounter::~SharedCounter()
{
    if (m_value)
        ::munmap(m_value, counter_size);
}

uint64_t SharedCounter::load() const
{
    return m_value ? std::atomic_ref<uint64_t>(*m_value).load(std::memory_order_acquire) : 0;
}

void SharedCounter::increment()
{
    if (m_value)
        std::atomic_ref<uint64_t>(*m_value).fetch_add(1, std::memory_order_acq_rel);
}

}
