#include "table_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace geotable {

TableFile::TableFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        problem = "not a regular file";
    else if (st.st_size > 0) {
        void *p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            problem = std::strerror(errno);
        } else {
            m_data = static_cast<const unsigned char *>(p);
            m_size = std::size_t(st.st_size);
        }
    }
    ::close(fd);
    if (!problem.empty())
        throw std::runtime_error("cannot map " + path + ": " + problem);
}

TableFile::~TableFile()
{
    if (m_data)
        ::munmap(const_cast<unsigned char *>(m_data), m_size);
}

} // namespace geotable
