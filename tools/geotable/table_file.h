#pragma once
// A table file mapped read-only for checking, unmapped when the owner goes.
#include <cstddef>
#include <span>
#include <string>

namespace geotable {

class TableFile {
public:
    // Maps PATH; throws std::runtime_error when it cannot be opened or mapped.
    explicit TableFile(const std::string &path);
    ~TableFile();
    TableFile(const TableFile &) = delete;
    TableFile &operator=(const TableFile &) = delete;

    std::span<const unsigned char> bytes() const { return {m_data, m_size}; }

private:
    const unsigned char *m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace geotable
