#include "table_file.h"

#include "geo/mapped_file.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <sstream>
#include <stdexcept>

namespace quokka::tools::tablefile {

std::string DottedQuad(std::uint32_t a)
{
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 255) + '.'
        + std::to_string((a >> 8) & 255) + '.' + std::to_string(a & 255);
}

TableWriter::TableWriter(const std::string &path) : m_path(path), m_file(QString::fromStdString(path))
{
    if (!m_file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + m_path + ": " + m_file.errorString().toStdString());
}

void TableWriter::Write(const void *data, std::size_t size)
{
    m_file.write(static_cast<const char *>(data), qint64(size)); // a failed write makes Commit() fail
}

void TableWriter::Commit()
{
    if (!m_file.commit())
        throw std::runtime_error("cannot write " + m_path + ": " + m_file.errorString().toStdString());
}

void Faults::Add(const std::function<std::string()> &describe)
{
    if (faults.size() < kKept)
        faults.push_back(describe());
    ++faultCount;
}

int CheckTableFile(const char *tool, const std::string &path, const Checker &check)
{
    const geo::MappedFile file(path);
    if (!file.Error().empty())
        throw std::runtime_error("cannot map " + path + ": " + file.Error());
    std::string figures;
    const Faults result = check(file.Bytes(), figures);
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

namespace {

int Build(const TableTool &tool, const std::vector<std::string> &operands)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string figures = tool.build(operands);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %s: %s, %.1f s\n", tool.name, operands.back().c_str(), figures.c_str(), seconds);
    return 0;
}

std::size_t OperandCount(const char *operands)
{
    std::istringstream words(operands);
    std::size_t count = 0;
    for (std::string word; words >> word;)
        ++count;
    return count;
}

} // namespace

int RunTableTool(int argc, char **argv, const TableTool &tool)
{
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        const std::vector<std::string> operands(argv + std::min(argc, 2), argv + argc);
        if (command == "--build" && operands.size() == OperandCount(tool.buildOperands))
            return Build(tool, operands);
        if (command == "--check" && operands.size() == 1)
            return CheckTableFile(tool.name, operands[0], tool.check);
        std::fprintf(stderr, "usage: %s --build %s\n       %s --check TABLE\n", tool.name, tool.buildOperands,
                     tool.name);
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", tool.name, e.what());
        return 1;
    }
}

} // namespace quokka::tools::tablefile
