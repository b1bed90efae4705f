// DecodeStream run over bytes, recording what it did and checking the
// buffered entry point against it; and a raw stream writer,
// bit by bit (sharing only the product's canonical and position codes, which the decoder
// does not use), that keeps beside the stream the output the byte-by-byte definition gives.
#ifndef STUBKIT_TESTS_CODEC_TEST_H
#define STUBKIT_TESTS_CODEC_TEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/stream_decoder.h"
#include "stubkit/encoder/block_coder.h"
#include "stubkit/encoder/huffman.h"

namespace codec_test {

struct Decoded {
    std::vector<uint8_t> output;
    std::vector<size_t> chunk_sizes;
    size_t fetches = 0;   // one-byte reads, including those past the stream's end
};

struct Harness { const std::vector<uint8_t>* input; Decoded* result; size_t next, run; };
inline Harness harness;

inline int RecordChunk(const unsigned char* bytes, int length)
{
    harness.result->chunk_sizes.push_back(length);
    harness.result->output.insert(harness.result->output.end(), bytes, bytes + length);
    return length;
}

// The buffered entry point over the same stream in runs of `run` bytes.
inline Decoded DecodeInRuns(const std::vector<uint8_t>& stream, uint32_t total, size_t run)
{
    Decoded result;
    harness = {&stream, &result, 0, run};
    DecodeStreamBuffered([](const unsigned char** bytes) {
        size_t size = std::min(harness.run, harness.input->size() - harness.next);
        *bytes = harness.input->data() + harness.next;
        harness.next += size;
        return static_cast<int>(size);
    }, RecordChunk, total);
    return result;
}

// DecodeStream, checked against the buffered entry point, which must write
// the same bytes in the same chunks whether its runs are shorter or longer
// than its refills.
inline Decoded Decode(const std::vector<uint8_t>& stream, uint32_t total)
{
    Decoded result;
    harness = {&stream, &result, 0, 0};
    DecodeStream([](unsigned char* buffer, int) {
        size_t index = harness.result->fetches++;
        if (index >= harness.input->size())
            return 0;
        buffer[0] = (*harness.input)[index];
        return 1;
    }, RecordChunk, total);
    for (size_t run : {size_t{3}, size_t{1} << 30}) {
        Decoded buffered = DecodeInRuns(stream, total, run);
        EXPECT_EQ(buffered.chunk_sizes, result.chunk_sizes) << "runs of " << run;
        EXPECT_TRUE(buffered.output == result.output) << "runs of " << run;
    }
    return result;
}

// One alphabet's code lengths or, when there are none, the single-symbol form.
struct Table { std::vector<uint8_t> lengths; int single = 0; };
struct BlockTables { Table length_codes, symbols, positions; };

struct StreamWriter {
    std::vector<uint8_t> bytes, expected;
    size_t bits = 0, mark = 0;   // mark: the bit count at a '|' in PutBits
    BlockTables tables;

    void Put(uint32_t value, int n)   // the low n bits, most significant first
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
    // Copy distance position + 1.
    void Match(int length, uint32_t position)
    {
        int code = stubkit::PositionCode(position), extra_bits = stubkit::PositionExtraBits(code);
        uint32_t extra = position - stubkit::PositionBase(code);
        PutCode(tables.symbols, length + 253);
        PutCode(tables.positions, code);
        Put(extra & 0xFFFF, std::min(extra_bits, 16));   // wider extra bits: the low 16 first
        Put(extra >> 16, std::max(extra_bits - 16, 0));
        for (int i = 0; i < length; ++i) {
            // The window is circular and starts out as spaces.
            int64_t from = static_cast<int64_t>(expected.size()) - position - 1;
            while (from + DecoderWindowSize < static_cast<int64_t>(expected.size()))
                from += DecoderWindowSize;
            expected.push_back(from < 0 ? ' ' : expected[from]);
        }
    }
    void Fill(size_t size, uint32_t position)   // matches until the output has `size` bytes
    {
        while (expected.size() < size)
            Match(static_cast<int>(std::min<size_t>(256, size - expected.size())), position);
    }

private:
    void PutTable(const Table& table, int width)
    {
        Put(table.lengths.size(), width);
        if (table.lengths.empty())
            return Put(table.single, width);
        for (size_t i = 0; i < table.lengths.size(); ++i) {
            int length = table.lengths[i];
            if (width == 9)
                PutCode(tables.length_codes, length == 0 ? 0 : length + 2);
            else if (length < 7)
                Put(length, 3);
            else   // 111, a 1 for each unit above 7, then a 0
                Put(((1u << (length - 4)) - 1) << 1, length - 3);
            if (width == 5 && i == 2)
                Put(0, 2);   // the zero run after the third length code
        }
    }
    void PutCode(const Table& table, int symbol)
    {
        if (!table.lengths.empty())
            Put(stubkit::CanonicalCodes(table.lengths).at(symbol), table.lengths.at(symbol));
    }
};

}  // namespace codec_test

#endif
