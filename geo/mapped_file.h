#pragma once
// A read-only memory mapping of a whole file, unmapped when the owner goes.
#include <cstddef>
#include <span>
#include <string>

namespace quokka::geo {

class MappedFile {
public:
    MappedFile() = default;
    explicit MappedFile(const std::string &path);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    std::span<const unsigned char> Bytes() const { return {m_data, m_size}; }
    std::size_t Size() const { return m_size; }
    // Why the file could not be mapped; empty on success.
    const std::string &Error() const { return m_error; }

private:
    const unsigned char *m_data = nullptr;
    std::size_t m_size = 0;
    std::string m_error;
};

} // namespace quokka::geo
