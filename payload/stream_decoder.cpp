#include "payload/stream_decoder.h"

#include <string.h>

// The stream is a sequence of blocks. Each block starts with a 16-bit symbol
// count (0 ends the stream) and three canonical code tables: one for the
// 19-symbol length-code alphabet, which in turn codes the lengths of the
// 510-symbol literal/length alphabet, and one for the 45 position codes. The
// counted symbols follow: literal bytes, and matches whose copy distance comes
// from a position code plus extra bits.

enum {
    WindowMask = DecoderWindowSize - 1,
    SymbolCount = 510,          // 0-255 literal bytes, 256-509 match lengths 3-256
    MatchLengthBias = 253,      // symbol - 253 = match length
    LengthCodeCount = 19,
    PositionCount = 45,
    SymbolTableBits = 12,
    ShortTableBits = 8,
    TreeSize = 1024,
    MaxCodeLength = 16,
    LengthCodeZeroRunIndex = 3,
    NoZeroRun = -1
};

static ReadCallback read_input;     // DecodeStream's input, one byte per call
static FillCallback fill_input;     // the input as runs; for DecodeStream, runs of one byte
static WriteCallback write_output;

// Table building and block headers run once a block; built for size, they
// keep the installer stub small, and the decode loops stay built for speed.
// The buffered loop's steps are inlined whatever the stub's inlining limit,
// so its reader lives in registers.
#if defined(__GNUC__)
#define COLD_PATH __attribute__((cold))
#define HOT_STEP inline __attribute__((always_inline))
#else
#define COLD_PATH
#define HOT_STEP inline
#endif

static unsigned char window[DecoderWindowSize];
static unsigned char symbol_lengths[SymbolCount];
static unsigned char short_lengths[PositionCount];
static uint16_t symbol_table[1 << SymbolTableBits];
static uint16_t short_table[1 << ShortTableBits];
static uint16_t branch0[TreeSize];
static uint16_t branch1[TreeSize];
static uint16_t block_left;

// The buffered decode loop's view of the literal/length and position tables:
// each short code's symbol with its length beside it, so a short code costs
// one load instead of two dependent ones. Every other entry (tree roots, and
// what a malformed table leaves: stale or wrapped entries) is 0 and sends the
// loop to the tables themselves. Built beside the tables, which stay as they
// are: the one-byte loop decodes from them alone, so comparing the two entry
// points checks these views too.
enum { LookupSymbolMask = 1023, LookupLengthShift = 10 };
static uint16_t symbol_lookup[1 << SymbolTableBits];
static uint16_t position_lookup[1 << ShortTableBits];

// ---------------------------------------------------------------------------
// Bit input. Bits leave each byte most significant first. `bits` holds the
// next `count` bits of the stream from its top bit down; the 16-bit bit window
// is its top 16 bits, and the shared steps below leave count at 16 or more
// (the buffered loop, which takes bits itself, refills only before a step
// that could run short). Below the counted bits lie zeros or, after a
// word-wide refill, the very stream bits that will be counted next, so adding
// a byte with OR leaves them right.
//
// DecodeStream fetches a byte only when a skip needs it, so it never runs
// more than two bytes ahead of the last bit in use. DecodeStreamBuffered
// refills a whole machine word at a time from its caller's runs; the bits it
// sees are the same, and so is everything decoded from them.

typedef uintptr_t BitBuffer;   // 32 bits in the stub, 64 on the host
enum { BufferBits = sizeof(BitBuffer) * 8, WindowBits = 16 };

struct BitReader {
    BitBuffer bits;
    unsigned count;
    const unsigned char* next;   // the rest of the current run (buffered input)
    const unsigned char* end;
};

static BitReader reader;

// DecodeStream's input as runs of one byte. A read that delivers nothing
// leaves the zero, so a cut stream goes on as zero bits and ends at the next
// block header.
static unsigned char single_byte;

static int FillOneByte(const unsigned char** bytes)
{
    single_byte = 0;
    read_input(&single_byte, 1);
    *bytes = &single_byte;
    return 1;
}

// A refill stops once the buffer holds this many bits: 16 when input comes a
// byte at a time, so no byte is fetched before a skip needs it; a word less a
// byte for runs.
static unsigned refill_target;

static inline void AppendByte(BitReader& r, unsigned byte)
{
    r.bits |= (BitBuffer)byte << (BufferBits - 8 - r.count);
    r.count += 8;
}

// A failed fill is one zero byte, as a failed one-byte read is.
static unsigned NextRunByte(BitReader& r)
{
    if (r.next == r.end) {
        const unsigned char* run = 0;
        int size = fill_input(&run);
        if (size <= 0)
            return 0;
        r.next = run;
        r.end = run + size;
    }
    return *r.next++;
}

static HOT_STEP BitBuffer LoadBigEndian(const unsigned char* bytes)
{
    BitBuffer word;
    memcpy(&word, bytes, sizeof word);
    return sizeof word == 8 ? (BitBuffer)__builtin_bswap64(word) : (BitBuffer)__builtin_bswap32((uint32_t)word);
}

static HOT_STEP bool WordLeftInRun(const BitReader& r)
{
    return (size_t)(r.end - r.next) >= sizeof(BitBuffer);
}

// One word load adds every whole byte that fits; the part of the next byte
// that comes along lies below the count, where the next refill puts the same
// bits. Leaves at least BufferBits - 8 bits.
static HOT_STEP void RefillWord(BitReader& r)
{
    r.bits |= LoadBigEndian(r.next) >> r.count;
    r.next += (BufferBits - 1 - r.count) >> 3;
    r.count |= BufferBits - 8;
}

// Tops the buffer up to refill_target bits; near the end of a run, and for
// runs of one byte, byte by byte.
static void RefillFromRuns(BitReader& r)
{
    if (WordLeftInRun(r)) {
        RefillWord(r);
        return;
    }
    while (r.count < refill_target)
        AppendByte(r, NextRunByte(r));
}

static inline unsigned BitWindow(const BitReader& r)
{
    return (unsigned)(r.bits >> (BufferBits - WindowBits));
}

// Drops n bits, any n from 0 up (only malformed tables skip more than 16),
// and refills so that the bit window is whole again.
static void SkipBits(BitReader& r, unsigned n)
{
    while (n > r.count) {
        n -= r.count;
        r.bits = 0;
        r.count = 0;
        RefillFromRuns(r);
    }
    r.bits <<= n;
    r.count -= n;
    if (r.count < WindowBits)
        RefillFromRuns(r);
}

static void StartBits(BitReader& r)
{
    r.bits = 0;
    r.count = 0;
    r.next = r.end = 0;
    SkipBits(r, 0);
}

// n from 0 to 16; the first bit read is the most significant.
static inline unsigned TakeBits(BitReader& r, unsigned n)
{
    unsigned value = BitWindow(r) >> (16 - n);
    SkipBits(r, n);
    return value;
}

// Values wider than 16 bits come as two pieces, the first 16 bits being the
// LOW half.
static inline uint32_t TakeLongBits(BitReader& r, unsigned n)
{
    if (n <= 16)
        return TakeBits(r, n);
    uint32_t low = TakeBits(r, 16);
    uint32_t high = TakeBits(r, n - 16);
    return (high << 16) + low;
}

// ---------------------------------------------------------------------------
// Canonical codes. Codes are assigned by length, shortest first, and within a
// length in symbol order. A code of up to `table_bits` bits owns every direct
// table entry that begins with it; a longer code enters the table with its
// first `table_bits` bits and continues as a walk through branch0/branch1,
// whose nodes are numbered from the alphabet size upward.
//
// Nothing here trusts the lengths: lengths above 16 get no code, overfull
// codes wrap in 16 bits, and node allocation stops at the end of the tree
// arrays, so every write stays inside the tables whatever the input.

COLD_PATH static void PlaceLongCode(uint16_t* table, uint16_t* lookup, unsigned table_bits, unsigned length,
                          uint16_t code, unsigned symbol, unsigned* next_node)
{
    unsigned root = code >> (16 - table_bits);
    uint16_t* slot = &table[root];
    uint16_t path = (uint16_t)(code << table_bits);
    for (unsigned depth = table_bits; depth < length; ++depth) {
        if (*slot == 0) {
            if (*next_node >= TreeSize)
                return;
            branch0[*next_node] = 0;
            branch1[*next_node] = 0;
            *slot = (uint16_t)(*next_node)++;
            // A malformed code can root a tree where symbol 0 sat.
            if (lookup && slot == &table[root])
                lookup[root] = 0;
        }
        unsigned node = *slot & (TreeSize - 1);
        slot = (path & 0x8000) ? &branch1[node] : &branch0[node];
        path = (uint16_t)(path << 1);
    }
    *slot = (uint16_t)symbol;
}

// `lookup`, when given, receives the decode loop's view of the table.
COLD_PATH static void BuildDecodeTable(unsigned n, const unsigned char* lengths,
                             unsigned table_bits, uint16_t* table, uint16_t* lookup)
{
    if (lookup)
        memset(lookup, 0, (1u << table_bits) * sizeof lookup[0]);
    unsigned count[MaxCodeLength + 1] = {0};
    for (unsigned symbol = 0; symbol < n; ++symbol)
        if (lengths[symbol] <= MaxCodeLength)
            ++count[lengths[symbol]];

    // First code of each length, left-aligned in 16 bits.
    uint16_t next_code[MaxCodeLength + 2];
    uint16_t code = 0;
    for (unsigned length = 1; length <= MaxCodeLength; ++length) {
        next_code[length] = code;
        code = (uint16_t)(code + (count[length] << (16 - length)));
    }
    next_code[MaxCodeLength + 1] = code;

    for (unsigned symbol = 0; symbol < n; ++symbol) {
        unsigned length = lengths[symbol];
        if (length == 0 || length > table_bits)
            continue;
        unsigned first = next_code[length] >> (16 - table_bits);
        unsigned entries = 1u << (table_bits - length);
        for (unsigned i = 0; i < entries; ++i)
            table[first + i] = (uint16_t)symbol;
        if (lookup) {
            for (unsigned i = 0; i < entries; ++i)
                lookup[first + i] = (uint16_t)(symbol | (length << LookupLengthShift));
        }
        next_code[length] = (uint16_t)(next_code[length] + (1u << (16 - length)));
    }

    // The entries past the short codes become roots of the overflow tree; a
    // zero there means "no node yet".
    unsigned end = next_code[table_bits] >> (16 - table_bits);
    if (end != 0) {
        memset(&table[end], 0, ((1u << table_bits) - end) * sizeof table[0]);
        if (lookup)
            memset(&lookup[end], 0, ((1u << table_bits) - end) * sizeof lookup[0]);
    }

    unsigned next_node = n;
    for (unsigned symbol = 0; symbol < n; ++symbol) {
        unsigned length = lengths[symbol];
        if (length <= table_bits || length > MaxCodeLength)
            continue;
        PlaceLongCode(table, lookup, table_bits, length, next_code[length], symbol, &next_node);
        next_code[length] = (uint16_t)(next_code[length] + (1u << (16 - length)));
    }
}

// Codes longer than the direct table: drop the table bits, then one bit per
// tree level. A walk that finds no symbol within 16 bits can only come from
// a malformed table; it yields symbol 0.
COLD_PATH static unsigned WalkOverflowTree(BitReader& r, unsigned node, unsigned table_bits,
                                 unsigned n, const unsigned char* lengths)
{
    SkipBits(r, table_bits);
    unsigned window_bits = BitWindow(r);
    unsigned mask = 0x8000;
    for (unsigned depth = table_bits; node >= n; ++depth, mask >>= 1) {
        if (depth >= MaxCodeLength)
            return 0;
        node &= TreeSize - 1;
        node = (window_bits & mask) ? branch1[node] : branch0[node];
    }
    if (lengths[node] > table_bits)
        SkipBits(r, lengths[node] - table_bits);
    return node;
}

static HOT_STEP unsigned LookupIndex(const BitReader& r, unsigned table_bits)
{
    return (unsigned)(r.bits >> (BufferBits - table_bits));
}

// The buffered loop comes here with as few bits in hand as its lookup needs;
// the tree walk wants a whole bit window.
static unsigned DecodeSymbol(BitReader& r, const uint16_t* table, unsigned table_bits,
                             unsigned n, const unsigned char* lengths)
{
    if (r.count < WindowBits)
        RefillFromRuns(r);
    unsigned symbol = table[LookupIndex(r, table_bits)];
    if (symbol < n) {
        SkipBits(r, lengths[symbol]);
        return symbol;
    }
    return WalkOverflowTree(r, symbol, table_bits, n, lengths);
}

// ---------------------------------------------------------------------------
// Block tables.

// A count field of 0 means the alphabet has a single symbol, given next, that
// costs no bits at all. Out-of-range symbols there are malformed and become 0.
COLD_PATH static void SetSingleSymbol(unsigned n, unsigned symbol, unsigned char* lengths,
                            unsigned table_bits, uint16_t* table, uint16_t* lookup)
{
    if (symbol >= n)
        symbol = 0;
    memset(lengths, 0, n);
    for (unsigned i = 0; i < (1u << table_bits); ++i)
        table[i] = (uint16_t)symbol;
    if (lookup)
        memset(lookup, 0, (1u << table_bits) * sizeof lookup[0]);
}

// Lengths of the length-code and position alphabets: 3 bits each, where 7
// continues in unary (111, then one 1 per extra unit, then a 0). In the
// length-code alphabet a 2-bit zero run follows the third length.
COLD_PATH static void ReadShortLengths(unsigned size, unsigned width, int zero_run_index, uint16_t* lookup)
{
    unsigned k = TakeBits(reader, width);
    if (k == 0) {
        SetSingleSymbol(size, TakeBits(reader, width), short_lengths, ShortTableBits, short_table,
                        lookup);
        return;
    }
    if (k > size)
        k = size;
    unsigned i = 0;
    while (i < k) {
        unsigned length = BitWindow(reader) >> 13;
        if (length == 7) {
            for (unsigned mask = 1u << 12; mask != 0 && (BitWindow(reader) & mask); mask >>= 1)
                ++length;
        }
        SkipBits(reader, length < 7 ? 3 : length - 3);
        short_lengths[i++] = (unsigned char)length;
        if ((int)i == zero_run_index) {
            unsigned zeros = TakeBits(reader, 2);
            while (zeros-- > 0 && i < size)
                short_lengths[i++] = 0;
        }
    }
    while (i < size)
        short_lengths[i++] = 0;
    BuildDecodeTable(size, short_lengths, ShortTableBits, short_table, lookup);
}

// Literal/length lengths, coded with the length-code alphabet: 0 is one zero
// length, 1 and 2 are runs of 3-18 and 20-531 zero lengths, 3-18 are the
// lengths 1-16.
COLD_PATH static void ReadSymbolLengths(void)
{
    unsigned k = TakeBits(reader, 9);
    if (k == 0) {
        SetSingleSymbol(SymbolCount, TakeBits(reader, 9), symbol_lengths, SymbolTableBits,
                        symbol_table, symbol_lookup);
        return;
    }
    if (k > SymbolCount)
        k = SymbolCount;
    unsigned i = 0;
    while (i < k) {
        unsigned code = DecodeSymbol(reader, short_table, ShortTableBits, LengthCodeCount,
                                     short_lengths);
        if (code <= 2) {
            unsigned zeros = code == 0 ? 1 : code == 1 ? TakeBits(reader, 4) + 3
                                                       : TakeBits(reader, 9) + 20;
            while (zeros-- > 0 && i < SymbolCount)
                symbol_lengths[i++] = 0;
        } else {
            symbol_lengths[i++] = (unsigned char)(code - 2);
        }
    }
    while (i < SymbolCount)
        symbol_lengths[i++] = 0;
    BuildDecodeTable(SymbolCount, symbol_lengths, SymbolTableBits, symbol_table, symbol_lookup);
}

// Block header: the symbol count, then the three tables in stream order.
// Returns the count; 0 ends the stream and nothing more is read.
COLD_PATH static unsigned StartBlock(void)
{
    unsigned count = TakeBits(reader, 16);
    if (count == 0)
        return 0;
    ReadShortLengths(LengthCodeCount, 5, LengthCodeZeroRunIndex, 0);
    ReadSymbolLengths();
    ReadShortLengths(PositionCount, 14, NoZeroRun, position_lookup);
    return count;
}

// ---------------------------------------------------------------------------
// Matches.

// Position codes 0-3 are positions themselves; above that each pair of codes
// covers a power of two, split in halves: code j >= 4 stands for
// (2 + j mod 2) * 2^(j/2 - 1) plus j/2 - 1 extra bits. The copy distance is
// position + 1.
static inline uint32_t NextPosition(BitReader& r)
{
    unsigned code = DecodeSymbol(r, short_table, ShortTableBits, PositionCount, short_lengths);
    if (code <= 3)
        return code;
    unsigned extra_bits = code / 2 - 1;
    return ((2u + (code & 1)) << extra_bits) + TakeLongBits(r, extra_bits);
}

static HOT_STEP void FlushFullWindow(uint32_t* write_pos)
{
    if (*write_pos == DecoderWindowSize) {
        write_output(window, DecoderWindowSize);
        *write_pos = 0;
    }
}

// Copies as the byte-by-byte definition does: a source that overlaps the
// bytes being written repeats them. The window is circular, so the copy runs
// in pieces that stop wherever source or destination meets the window end;
// a full window is written out at once, even in the middle of a match. The
// buffered loop copies most matches itself; what comes here is mostly runs
// of one byte, copies from ahead of the write position, and the window end.
static uint32_t CopyMatch(uint32_t write_pos, uint32_t distance, uint32_t length)
{
    uint32_t from = (write_pos - distance) & WindowMask;
    while (length > 0) {
        uint32_t piece = length;
        if (piece > DecoderWindowSize - write_pos)
            piece = DecoderWindowSize - write_pos;
        if (piece > DecoderWindowSize - from)
            piece = DecoderWindowSize - from;
        unsigned char* to = window + write_pos;
        const unsigned char* source = window + from;
        uint32_t gap = write_pos - from;
        if (from > write_pos || gap >= piece) {
            // Source ahead of or clear of the destination: a forward copy
            // reads nothing it has written.
            memmove(to, source, piece);
        } else if (gap == 1) {
            memset(to, *source, piece);
        } else {
            for (uint32_t i = 0; i < piece; ++i)
                to[i] = source[i];
        }
        write_pos += piece;
        from = (from + piece) & WindowMask;
        length -= piece;
        FlushFullWindow(&write_pos);
    }
    return write_pos;
}

// ---------------------------------------------------------------------------
// The decode loop keeps the bit reader and positions in locals so they stay in
// registers across the output callback; the block tables are read through the
// shared reader.

COLD_PATH static void DecodeSymbols(uint32_t total)
{
    BitReader r = reader;
    uint32_t produced = 0;
    uint32_t write_pos = 0;
    unsigned left = block_left;
    while (produced < total) {
        if (left == 0) {
            reader = r;
            left = StartBlock();
            r = reader;
            if (left == 0)
                break;
        }
        --left;
        unsigned symbol = DecodeSymbol(r, symbol_table, SymbolTableBits, SymbolCount, symbol_lengths);
        if (symbol < 256) {
            window[write_pos++] = (unsigned char)symbol;
            ++produced;
            FlushFullWindow(&write_pos);
        } else {
            uint32_t length = symbol - MatchLengthBias;
            uint32_t position = NextPosition(r);
            // The whole length counts before copying: a match that crosses
            // `total` is still copied and written out in full.
            produced += length;
            write_pos = CopyMatch(write_pos, position + 1, length);
        }
    }
    reader = r;
    block_left = (uint16_t)left;
    if (write_pos != 0)
        write_output(window, (int)write_pos);
}

// ---------------------------------------------------------------------------
// The same loop over buffered input. Bits are taken straight from the buffer,
// which is refilled a word at a time only when a step could run short; the
// full lookup, the tree walk and the block headers go through the shared
// reader, whose skips refill the same way.

// The slow paths work on a copy of the reader, so that the loop's own one
// never has its address taken and stays in registers.
static HOT_STEP void NeedBits(BitReader& r, unsigned n)
{
    if (r.count >= n)
        return;
    if (WordLeftInRun(r)) {
        RefillWord(r);
        return;
    }
    BitReader copy = r;
    RefillFromRuns(copy);
    r = copy;
}

// n at most the count of bits in the buffer.
static HOT_STEP void DropBits(BitReader& r, unsigned n)
{
    r.bits <<= n;
    r.count -= n;
}

static HOT_STEP unsigned DecodeFromBuffer(BitReader& r, const uint16_t* lookup, const uint16_t* table,
                                        unsigned table_bits, unsigned n, const unsigned char* lengths)
{
    NeedBits(r, table_bits);
    unsigned entry = lookup[LookupIndex(r, table_bits)];
    if (entry == 0) {
        BitReader copy = r;
        unsigned symbol = DecodeSymbol(copy, table, table_bits, n, lengths);
        r = copy;
        return symbol;
    }
    DropBits(r, entry >> LookupLengthShift);
    return entry & LookupSymbolMask;
}

// n from 1 to 21: the refill leaves at least 24 bits, so one peek takes all
// of them; a value wider than 16 bits then swaps its halves into place.
static HOT_STEP uint32_t TakeExtraFromBuffer(BitReader& r, unsigned n)
{
    NeedBits(r, n);
    uint32_t value = (uint32_t)(r.bits >> (BufferBits - n));
    DropBits(r, n);
    if (n <= 16)
        return value;
    unsigned high_bits = n - 16;
    return ((value & ((1u << high_bits) - 1)) << 16) | (value >> high_bits);
}

static HOT_STEP uint32_t DistanceFromBuffer(BitReader& r)
{
    unsigned code = DecodeFromBuffer(r, position_lookup, short_table, ShortTableBits, PositionCount,
                                     short_lengths);
    if (code <= 3)
        return code + 1;
    unsigned extra_bits = code / 2 - 1;
    return ((2u + (code & 1)) << extra_bits) + TakeExtraFromBuffer(r, extra_bits) + 1;
}

static HOT_STEP void CopyWord(unsigned char* to, const unsigned char* source)
{
    uint32_t word[2];
    memcpy(word, source, 8);
    memcpy(to, word, 8);
}

// A match of 3 to 256 bytes whose source starts at least 8 bytes, or at
// least its length, before its destination, so every word read holds only
// final bytes: the words step forward, and the last one, which may overlap
// the one before, reads behind everything still to be written. Below 8 bytes
// every load comes before the first store.
static HOT_STEP void CopyBehind(unsigned char* to, const unsigned char* source, uint32_t length)
{
    if (length >= 8) {
        uint32_t i = 0;
        for (; i + 8 <= length; i += 8)
            CopyWord(to + i, source + i);
        if (i < length)
            CopyWord(to + length - 8, source + length - 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        memcpy(&head, source, 4);
        memcpy(&tail, source + length - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + length - 4, &tail, 4);
    } else {
        to[0] = source[0];
        to[1] = source[1];
        to[2] = source[2];
    }
}

static void DecodeSymbolsFromBuffer(uint32_t total)
{
    BitReader r = reader;
    uint32_t produced = 0;
    uint32_t write_pos = 0;
    unsigned left = block_left;
    while (produced < total) {
        if (left == 0) {
            // The header is read through the shared reader, which expects a
            // whole bit window.
            reader = r;
            if (reader.count < WindowBits)
                RefillFromRuns(reader);
            left = StartBlock();
            r = reader;
            if (left == 0)
                break;
        }
        --left;
        unsigned symbol = DecodeFromBuffer(r, symbol_lookup, symbol_table, SymbolTableBits,
                                           SymbolCount, symbol_lengths);
        if (symbol < 256) {
            window[write_pos++] = (unsigned char)symbol;
            ++produced;
            FlushFullWindow(&write_pos);
            continue;
        }
        uint32_t length = symbol - MatchLengthBias;
        uint32_t distance = DistanceFromBuffer(r);
        produced += length;
        uint32_t from = (write_pos - distance) & WindowMask;
        // Most matches lie behind the write position, clear of the window
        // end, and either clear of the bytes they write or at least 8 bytes
        // back; the rest take the general copy.
        uint32_t clear = length < 8 ? length : 8;
        if (from + clear <= write_pos && write_pos + length < DecoderWindowSize) {
            CopyBehind(window + write_pos, window + from, length);
            write_pos += length;
        } else {
            write_pos = CopyMatch(write_pos, distance, length);
        }
    }
    reader = r;
    block_left = (uint16_t)left;
    if (write_pos != 0)
        write_output(window, (int)write_pos);
}

// ---------------------------------------------------------------------------

COLD_PATH static void StartDecoding(WriteCallback write)
{
    write_output = write;
    // Matches may reach back before the first byte; they copy spaces.
    memset(window, ' ', sizeof window);
    // Clearing the tables makes a malformed stream decode the same way on
    // every call; valid streams rebuild every entry they use.
    memset(symbol_table, 0, sizeof symbol_table);
    memset(short_table, 0, sizeof short_table);
    memset(branch0, 0, sizeof branch0);
    memset(branch1, 0, sizeof branch1);
    memset(symbol_lengths, 0, sizeof symbol_lengths);
    memset(short_lengths, 0, sizeof short_lengths);
    block_left = 0;
    StartBits(reader);
}

int DecodeStream(ReadCallback read, WriteCallback write, uint32_t total)
{
    read_input = read;
    fill_input = FillOneByte;
    refill_target = WindowBits;
    StartDecoding(write);
    DecodeSymbols(total);
    return 0;
}

int DecodeStreamBuffered(FillCallback fill, WriteCallback write, uint32_t total)
{
    fill_input = fill;
    refill_target = BufferBits - 8;
    StartDecoding(write);
    DecodeSymbolsFromBuffer(total);
    return 0;
}
