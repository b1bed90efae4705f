// Writes valid payloads (selector byte 0, then header, table and stream) as
// the container fuzzer's starting corpus.
#include <cstdio>
#include <string>
#include <vector>

#include "payload/crc32.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/encoder/encoder.h"

namespace {

std::vector<std::uint8_t> Payload(const std::vector<std::string>& contents)
{
    BuildCrcTable();
    std::vector<stubkit::FileRecord> records;
    std::string all;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        stubkit::FileRecord record;
        record.name = "folder " + std::to_string(i % 2) + "\\file " + std::to_string(i) + ".txt";
        record.file_size = static_cast<std::uint32_t>(contents[i].size());
        record.crc_value = UpdateCrc(CrcInitial, reinterpret_cast<const unsigned char*>(contents[i].data()),
                                     record.file_size);
        record.write_time = 133000000000000000u + i;
        records.push_back(record);
        all += contents[i];
    }
    const std::vector<std::uint8_t> table = stubkit::SerializeFileTable(records);
    stubkit::PayloadHeader header;
    header.file_count = static_cast<std::uint32_t>(records.size());
    header.total_size = static_cast<std::uint32_t>(all.size());
    header.table_size = static_cast<std::uint32_t>(table.size());
    std::vector<std::uint8_t> payload = {0};
    const std::vector<std::uint8_t> head = stubkit::SerializeHeader(header);
    payload.insert(payload.end(), head.begin(), head.end());
    payload.insert(payload.end(), table.begin(), table.end());
    const std::vector<std::uint8_t> stream = stubkit::EncodeBuffer(
        reinterpret_cast<const std::uint8_t*>(all.data()), all.size(), stubkit::kDefaultLevel);
    payload.insert(payload.end(), stream.begin(), stream.end());
    return payload;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_container_seeds FOLDER\n");
        return 2;
    }
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "line " + std::to_string(i * 37 % 101) + " of a small product file\n";
    const std::vector<std::vector<std::string>> products = {
        {}, {"abc"}, {"", "first", ""}, {text, std::string(5000, 'x'), text.substr(100)}};
    for (std::size_t i = 0; i < products.size(); ++i) {
        const std::string path = std::string(argv[1]) + "/container-" + std::to_string(i);
        const std::vector<std::uint8_t> payload = Payload(products[i]);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(payload.data(), 1, payload.size(), file) != payload.size() || std::fclose(file)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
