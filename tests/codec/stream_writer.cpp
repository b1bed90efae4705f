#include "tests/codec/stream_writer.h"

#include <gtest/gtest.h>

namespace codec_test {

void BitWriter::Put(uint32_t value, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        if (bit_count_ % 8 == 0)
            bytes_.push_back(0);
        if ((value >> i) & 1)
            bytes_.back() |= static_cast<uint8_t>(0x80 >> (bit_count_ % 8));
        ++bit_count_;
    }
}

void BitWriter::PutBits(const std::string& bits)
{
    for (char c : bits)
        if (c == '0' || c == '1')
            Put(c == '1', 1);
}

std::vector<uint8_t> BitWriter::Bytes() const { return bytes_; }

std::vector<int> EveryLengthCode()
{
    std::vector<int> lengths(19, 4);
    for (int i = 13; i < 19; ++i)
        lengths[i] = 5;
    return lengths;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths)
{
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
            if (lengths[symbol] == length)
                codes[symbol] = code++;
        code <<= 1;
    }
    return codes;
}

void StreamWriter::Block(uint16_t symbol_count, const BlockTables& tables)
{
    tables_ = tables;
    Put(symbol_count, 16);
    if (tables.length_code_lengths.empty()) {
        Put(0, 5);
        Put(tables.single_length_code, 5);
    } else {
        PutShortLengths(tables.length_code_lengths, 5, true);
        length_codes_ = CanonicalCodes(tables.length_code_lengths);
    }
    if (tables.symbol_lengths.empty()) {
        Put(0, 9);
        Put(tables.single_symbol, 9);
    } else {
        PutSymbolLengths(tables.symbol_lengths);
        symbol_codes_ = CanonicalCodes(tables.symbol_lengths);
    }
    if (tables.position_lengths.empty()) {
        Put(0, 14);
        Put(tables.single_position, 14);
    } else {
        PutShortLengths(tables.position_lengths, 14, false);
        position_codes_ = CanonicalCodes(tables.position_lengths);
    }
}

void StreamWriter::PutShortLengths(const std::vector<int>& lengths, int width, bool zero_run_field)
{
    int count = static_cast<int>(lengths.size());
    while (count > 0 && lengths[count - 1] == 0)
        --count;
    ASSERT_GT(count, 0);
    Put(count, width);
    for (int i = 0; i < count; ++i) {
        int length = lengths[i];
        if (length < 7) {
            Put(length, 3);
        } else {
            Put(7, 3);
            for (int extra = 7; extra < length; ++extra)
                Put(1, 1);
            Put(0, 1);
        }
        if (zero_run_field && i == 2)
            Put(0, 2);
    }
}

void StreamWriter::PutSymbolLengths(const std::vector<int>& lengths)
{
    int count = static_cast<int>(lengths.size());
    while (count > 0 && lengths[count - 1] == 0)
        --count;
    Put(count, 9);
    for (int i = 0; i < count; ++i) {
        int code = lengths[i] == 0 ? 0 : lengths[i] + 2;
        if (tables_.length_code_lengths.empty())
            ASSERT_EQ(code, tables_.single_length_code);
        else
            PutCode(tables_.length_code_lengths, length_codes_, code);
    }
}

void StreamWriter::PutCode(const std::vector<int>& lengths, const std::vector<uint32_t>& codes,
                           int symbol)
{
    ASSERT_GT(lengths.at(symbol), 0) << "symbol " << symbol << " has no code";
    Put(codes[symbol], lengths[symbol]);
}

void StreamWriter::PutSymbol(int symbol)
{
    if (!tables_.symbol_lengths.empty())
        PutCode(tables_.symbol_lengths, symbol_codes_, symbol);
}

void StreamWriter::MatchHead(int length, int position_code)
{
    PutSymbol(length + 253);
    if (!tables_.position_lengths.empty())
        PutCode(tables_.position_lengths, position_codes_, position_code);
}

void StreamWriter::MatchWithCode(int length, int position_code, uint32_t extra)
{
    MatchHead(length, position_code);
    int extra_bits = position_code <= 3 ? 0 : position_code / 2 - 1;
    if (extra_bits > 16) {
        Put(extra & 0xFFFF, 16);
        Put(extra >> 16, extra_bits - 16);
    } else {
        Put(extra, extra_bits);
    }
}

void StreamWriter::Match(int length, uint32_t position)
{
    if (position <= 3) {
        MatchWithCode(length, static_cast<int>(position), 0);
        return;
    }
    int bit_length = 32 - __builtin_clz(position);
    int half = (position >> (bit_length - 2)) & 1;
    int code = 2 * (bit_length - 1) + half;
    uint32_t base = (2u + half) << (bit_length - 2);
    MatchWithCode(length, code, position - base);
}

}  // namespace codec_test
