#include "mmdb_source.h"

#include <charconv>
#include <stdexcept>
#include <vector>

namespace quokka::tools::geotable {
namespace {

std::string Text(MMDB_entry_s entry, const char *key)
{
    MMDB_entry_data_s data{};
    if (MMDB_get_value(&entry, &data, key, nullptr) != MMDB_SUCCESS || !data.has_data
        || data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return {};
    return std::string(data.utf8_string, data.data_size);
}

double Coordinate(MMDB_entry_s entry, const char *key)
{
    MMDB_entry_data_s data{};
    if (MMDB_get_value(&entry, &data, key, nullptr) != MMDB_SUCCESS || !data.has_data)
        return 0.0;
    return SourceCoordinate(data);
}

} // namespace

double SourceCoordinate(const MMDB_entry_data_s &data)
{
    if (data.type == MMDB_DATA_TYPE_DOUBLE)
        return data.double_value;
    if (data.type != MMDB_DATA_TYPE_FLOAT)
        return 0.0;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, data.float_value);
    double value = 0.0;
    std::from_chars(text, written.ptr, value);
    return value;
}

MmdbSource::MmdbSource(const std::string &path)
{
    const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &m_db);
    if (status != MMDB_SUCCESS)
        throw std::runtime_error("cannot open " + path + ": " + MMDB_strerror(status));
    if (m_db.metadata.ip_version != 4 && m_db.metadata.ip_version != 6) {
        MMDB_close(&m_db);
        throw std::runtime_error(path + " is neither an IPv4 nor an IPv6 database");
    }
}

MmdbSource::~MmdbSource()
{
    MMDB_close(&m_db);
}

void MmdbSource::Walk(const Visitor &visit) const
{
    if (IsIpv6())
        throw std::runtime_error("the source is an IPv6 database, not an IPv4 one");
    struct Step {
        std::uint64_t record;
        std::uint8_t type;
        MMDB_entry_s entry;
        std::uint32_t prefix;
        int depth; // bits of PREFIX that are fixed
    };
    std::vector<Step> stack{{0, MMDB_RECORD_TYPE_SEARCH_NODE, {}, 0, 0}};
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        const std::uint32_t size = step.depth == 0 ? 0 : std::uint32_t(1) << (32 - step.depth);
        const std::uint32_t last = step.prefix + (size - 1); // wraps to 2^32-1 for the root
        if (step.type == MMDB_RECORD_TYPE_DATA) {
            visit(step.prefix, last, step.entry.offset);
        } else if (step.type == MMDB_RECORD_TYPE_EMPTY) {
            visit(step.prefix, last, std::nullopt);
        } else if (step.type == MMDB_RECORD_TYPE_SEARCH_NODE && step.depth < 32) {
            MMDB_search_node_s node{};
            if (MMDB_read_node(&m_db, std::uint32_t(step.record), &node) != MMDB_SUCCESS)
                throw std::runtime_error("the source's search tree is damaged");
            const std::uint32_t half = std::uint32_t(1) << (31 - step.depth);
            // The right half goes on the stack first, so the left half is walked first.
            stack.push_back({node.right_record, node.right_record_type, node.right_record_entry,
                             step.prefix | half, step.depth + 1});
            stack.push_back({node.left_record, node.left_record_type, node.left_record_entry,
                             step.prefix, step.depth + 1});
        } else {
            throw std::runtime_error("the source's search tree is damaged");
        }
    }
}

void MmdbSource::Walk6(const Visitor6 &visit) const
{
    if (!IsIpv6())
        throw std::runtime_error("the source is an IPv4 database, not an IPv6 one");
    __extension__ typedef unsigned __int128 Address;
    const auto key = [](Address address) { return geo::Key6{std::uint64_t(address >> 64), std::uint64_t(address)}; };
    struct Step {
        std::uint64_t record;
        std::uint8_t type;
        MMDB_entry_s entry;
        Address prefix;
        int depth; // bits of PREFIX that are fixed
    };
    std::vector<Step> stack{{0, MMDB_RECORD_TYPE_SEARCH_NODE, {}, 0, 0}};
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        const Address size = step.depth == 0 ? 0 : Address(1) << (128 - step.depth);
        const Address last = step.prefix + (size - 1); // wraps to 2^128-1 for the root
        if (step.type == MMDB_RECORD_TYPE_DATA) {
            visit(key(step.prefix), key(last), step.entry.offset);
        } else if (step.type == MMDB_RECORD_TYPE_EMPTY) {
            visit(key(step.prefix), key(last), std::nullopt);
        } else if (step.type == MMDB_RECORD_TYPE_SEARCH_NODE && step.depth < 128) {
            MMDB_search_node_s node{};
            if (MMDB_read_node(&m_db, std::uint32_t(step.record), &node) != MMDB_SUCCESS)
                throw std::runtime_error("the source's search tree is damaged");
            const Address half = Address(1) << (127 - step.depth);
            stack.push_back({node.right_record, node.right_record_type, node.right_record_entry,
                             step.prefix | half, step.depth + 1});
            stack.push_back({node.left_record, node.left_record_type, node.left_record_entry,
                             step.prefix, step.depth + 1});
        } else {
            throw std::runtime_error("the source's search tree is damaged");
        }
    }
}

SourcePlace MmdbSource::Read(MMDB_entry_s entry) const
{
    return {Text(entry, "country_code"), Text(entry, "state1"), Text(entry, "city"),
            Coordinate(entry, "latitude"), Coordinate(entry, "longitude")};
}

SourcePlace MmdbSource::PlaceAt(std::uint32_t offset) const
{
    return Read(MMDB_entry_s{&m_db, offset});
}

std::optional<SourcePlace> MmdbSource::Lookup(const char *address) const
{
    int gaiError = 0, mmdbError = 0;
    const MMDB_lookup_result_s result = MMDB_lookup_string(&m_db, address, &gaiError, &mmdbError);
    if (gaiError != 0 || mmdbError != MMDB_SUCCESS || !result.found_entry)
        return std::nullopt;
    return Read(result.entry);
}

} // namespace quokka::tools::geotable
