// Test side of the codec: a raw stream writer, bit by bit and independent of
// the encoder, that keeps beside the stream the output the byte-by-byte
// definition gives; and DecodeStream run over bytes, recording what it did.
#ifndef STUBKIT_TESTS_CODEC_TEST_H
#define STUBKIT_TESTS_CODEC_TEST_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/stream_decoder.h"

namespace codec_test {

struct Decoded {
    std::vector<uint8_t> output;
    std::vector<size_t> chunk_sizes;
    size_t fetches = 0;   // one-byte reads, including those past the stream's end
};

inline const std::vector<uint8_t>* harness_input;
inline Decoded* harness_result;

inline Decoded Decode(const std::vector<uint8_t>& stream, uint32_t total)
{
    Decoded result;
    harness_input = &stream;
    harness_result = &result;
    DecodeStream(
        [](unsigned char* buffer, int) {
            size_t index = harness_result->fetches++;
            if (index >= harness_input->size())
                return 0;
            buffer[0] = (*harness_input)[index];
            return 1;
        },
        [](const unsigned char* bytes, int length) {
            harness_result->chunk_sizes.push_back(length);
            harness_result->output.insert(harness_result->output.end(), bytes, bytes + length);
            return length;
        },
        total);
    return result;
}

// Position code j >= 4 stands for (2 + j mod 2) * 2^(j/2 - 1) plus j/2 - 1 extra bits.
inline uint32_t PositionBase(int code) { return code <= 3 ? static_cast<uint32_t>(code) : (2u + code % 2) << (code / 2 - 1); }
inline int ExtraBits(int code) { return code <= 3 ? 0 : code / 2 - 1; }

// One alphabet's code lengths or, when there are none, the single-symbol form.
struct Table {
    std::vector<int> lengths;
    int single = 0;
    std::vector<uint32_t> codes = {};   // canonical, filled in by Block
};
struct BlockTables { Table length_codes, symbols, positions; };

struct StreamWriter {
    std::vector<uint8_t> bytes, expected;
    size_t bits = 0, mark = 0;   // mark: the bit count at a '|' in PutBits
    BlockTables tables;

    // The low n bits of value, most significant first.
    void Put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i, ++bits) {
            if (bits % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= ((value >> i) & 1) << (7 - bits % 8);
        }
    }
    void PutBits(const std::string& text)
    {
        for (char c : text)
            if (c == '|')
                mark = bits;
            else if (c != ' ')
                Put(c == '1', 1);
    }
    void Block(uint16_t count, const BlockTables& block)
    {
        tables = block;
        Put(count, 16);
        PutTable(tables.length_codes, 5);
        PutTable(tables.symbols, 9);
        PutTable(tables.positions, 14);
    }
    void Literal(uint8_t byte)
    {
        PutCode(tables.symbols, byte);
        expected.push_back(byte);
    }
    void MatchHead(int length, int position_code)
    {
        PutCode(tables.symbols, length + 253);
        PutCode(tables.positions, position_code);
    }
    // Copy distance position + 1; positions below 2^18 (extra bits fit in 16).
    void Match(int length, uint32_t position)
    {
        int code = 0;
        while (PositionBase(code + 1) <= position)
            ++code;
        MatchHead(length, code);
        Put(position - PositionBase(code), ExtraBits(code));
        for (int i = 0; i < length; ++i) {
            int64_t from = static_cast<int64_t>(expected.size()) - position - 1;
            expected.push_back(from < 0 ? ' ' : expected[from]);
        }
    }
    // Matches at `position` until the output is `size` bytes long.
    void Fill(size_t size, uint32_t position)
    {
        while (expected.size() < size)
            Match(static_cast<int>(std::min<size_t>(256, size - expected.size())), position);
    }

private:
    void PutTable(Table& table, int width)
    {
        size_t count = table.lengths.size();
        while (count > 0 && table.lengths[count - 1] == 0)
            --count;
        Put(count, width);
        if (count == 0)
            return Put(table.single, width);
        table.codes.assign(table.lengths.size(), 0);
        uint32_t code = 0;
        for (int length = 1; length <= 16; ++length, code <<= 1)
            for (size_t symbol = 0; symbol < table.lengths.size(); ++symbol)
                if (table.lengths[symbol] == length)
                    table.codes[symbol] = code++;
        for (size_t i = 0; i < count; ++i) {
            int length = table.lengths[i];
            if (width == 9) {
                PutCode(tables.length_codes, length == 0 ? 0 : length + 2);
                continue;
            }
            Put(std::min(length, 7), 3);   // 7 and more go on in unary
            for (int more = 7; more < length; ++more)
                Put(1, 1);
            if (length >= 7)
                Put(0, 1);
            if (width == 5 && i == 2)
                Put(0, 2);   // the zero run after the third length code
        }
    }
    void PutCode(const Table& table, int symbol)
    {
        if (!table.lengths.empty())
            Put(table.codes.at(symbol), table.lengths.at(symbol));
    }
};

}  // namespace codec_test

#endif
