#pragma once
// A table in use: the search over its bytes together with the mapping of the file they lie
// in, so that the search never outlives its bytes. The table linked into the program has no
// mapping. One of each kind is the process-wide table, chosen at start-up.
//
// DATABASE is built from the table's bytes and gives, for the messages and checks here:
//   static std::span<const unsigned char> LinkedTable();   the table linked into the program
//   static std::string FileProblem(std::span<const unsigned char> bytes);   empty when usable
//   static constexpr const char *kTableName, *kWithoutTable;   "AS table", "networks ..."
#include "geo/mapped_file.h"

#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace quokka::geo {

template <class Database>
class TableInUse {
public:
    // The process-wide table: the file given to UseFile, else the linked-in table.
    static const Database &Instance()
    {
        static const Database linked(Database::LinkedTable());
        const std::unique_ptr<TableInUse> &used = Used();
        return used ? used->m_database : linked;
    }

    // Maps PATH as the process-wide table. A file that cannot be mapped or has a FileProblem
    // gets one message on standard error and leaves the table empty.
    static bool UseFile(const std::string &path)
    {
        auto file = std::make_unique<MappedFile>(path);
        std::string problem = file->Error();
        if (problem.empty())
            problem = Database::FileProblem(file->Bytes());
        if (!problem.empty()) {
            std::fprintf(stderr, "quokka-quokka: %s %s not used: %s; %s\n", Database::kTableName, path.c_str(),
                         problem.c_str(), Database::kWithoutTable);
            file = std::make_unique<MappedFile>();
        }
        Used() = std::unique_ptr<TableInUse>(new TableInUse(std::move(file), path, problem.empty()));
        return problem.empty();
    }

    // The file given to UseFile, empty while the linked-in table is in use; REFUSED tells
    // whether that file failed its checks (the table is empty then).
    static std::string FileInUse(bool *refused = nullptr)
    {
        const std::unique_ptr<TableInUse> &used = Used();
        if (refused)
            *refused = used && !used->m_usable;
        return used ? used->m_path : std::string();
    }

private:
    TableInUse(std::unique_ptr<MappedFile> file, std::string path, bool usable)
        : m_file(std::move(file)), m_database(m_file->Bytes()), m_path(std::move(path)), m_usable(usable)
    {
    }

    static std::unique_ptr<TableInUse> &Used()
    {
        static std::unique_ptr<TableInUse> used;
        return used;
    }

    std::unique_ptr<MappedFile> m_file; // declared first: the mapping outlives the search
    Database m_database;
    std::string m_path;
    bool m_usable = false;
};

} // namespace quokka::geo
