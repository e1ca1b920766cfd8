#include "geo/mapped_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quokka::geo {

MappedFile::MappedFile(const std::string &path)
{
    // Non-blocking, so a FIFO or device given by mistake cannot hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_error = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        m_error = "not a regular file";
    } else if (st.st_size > 0) {
        void *p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            m_error = std::strerror(errno);
        } else {
            m_data = static_cast<const unsigned char *>(p);
            m_size = std::size_t(st.st_size);
        }
    }
    ::close(fd); // the mapping keeps the file's pages
}

MappedFile::~MappedFile()
{
    if (m_data)
        ::munmap(const_cast<unsigned char *>(m_data), m_size);
}

} // namespace quokka::geo
