#include "support/TempDevice.h"

#include "platform/Folders.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velloq::test {

TempDevice::TempDevice()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velloq-device-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary device folder");
    m_path = pattern;
    if (char const* previous = std::getenv("VELLOQ_DEVICE"))
        m_previous = previous;
    ::setenv("VELLOQ_DEVICE", m_path.c_str(), 1);
    platform::use_device_folder(m_path.string());
}

TempDevice::~TempDevice()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    if (m_previous) {
        ::setenv("VELLOQ_DEVICE", m_previous->c_str(), 1);
        platform::use_device_folder(*m_previous);
    } else {
        ::unsetenv("VELLOQ_DEVICE");
        platform::forget_device_folder();
    }
}

std::filesystem::path TempDevice::log_file() const
{
    auto program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    return m_path / "Temp" / (program + ".txt");
}

std::vector<std::u16string> TempDevice::log_lines(std::u16string_view prefix) const
{
    std::vector<std::u16string> lines;
    std::u16string text = read_utf16_file(log_file());
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(u'\n', start);
        end = end == std::u16string::npos ? text.size() : end;
        if (std::u16string_view(text).substr(start, end - start).starts_with(prefix))
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string read_file(std::filesystem::path const& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool write_file(std::filesystem::path const& path, std::string const& content)
{
    std::ofstream file(path, std::ios::binary);
    file << content;
    return static_cast<bool>(file);
}

std::u16string read_utf16_file(std::filesystem::path const& path)
{
    std::string bytes = read_file(path);
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
}

}
