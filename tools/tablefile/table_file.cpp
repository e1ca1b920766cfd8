#include "table_file.h"

#include "geo/mapped_file.h"

#include <stdexcept>

namespace tablefile {

std::string DottedQuad(std::uint32_t a)
{
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 255) + '.'
        + std::to_string((a >> 8) & 255) + '.' + std::to_string(a & 255);
}

PartFile::PartFile(std::string path)
    : m_path(std::move(path)), m_partPath(m_path + ".part"), m_file(std::fopen(m_partPath.c_str(), "wb"))
{
    if (!m_file)
        throw std::runtime_error("cannot write " + m_partPath);
}

PartFile::~PartFile()
{
    if (m_file) {
        m_file.reset();
        std::remove(m_partPath.c_str());
    }
}

void PartFile::write(const void *data, std::size_t size)
{
    m_failed = m_failed || std::fwrite(data, 1, size, m_file.get()) != size;
}

void PartFile::commit()
{
    const bool closed = std::fclose(m_file.release()) == 0;
    if (m_failed || !closed) {
        std::remove(m_partPath.c_str());
        throw std::runtime_error("cannot write " + m_partPath);
    }
    if (std::rename(m_partPath.c_str(), m_path.c_str()) != 0)
        throw std::runtime_error("cannot rename " + m_partPath + " to " + m_path);
}

void Faults::add(const std::function<std::string()> &describe)
{
    if (faults.size() < kKept)
        faults.push_back(describe());
    ++faultCount;
}

int CheckTableFile(const char *tool, const std::string &path, const Checker &check)
{
    const MappedFile file(path);
    if (!file.error().empty())
        throw std::runtime_error("cannot map " + path + ": " + file.error());
    std::string figures;
    const Faults result = check(file.bytes(), figures);
    std::printf("%s", figures.c_str());
    for (const std::string &fault : result.faults)
        std::fprintf(stderr, "%s: %s: %s\n", tool, path.c_str(), fault.c_str());
    if (!result.ok()) {
        std::fprintf(stderr, "%s: %s: %zu faults; the table is not usable\n", tool, path.c_str(),
                     result.faultCount);
        return 1;
    }
    std::printf("%s: every check passed\n", path.c_str());
    return 0;
}

} // namespace tablefile
