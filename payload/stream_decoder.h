// Decoder of the payload's compressed stream: LZ77 over a 4 MiB window with
// static Huffman blocks (three canonical code tables per block).
//
// Portable C-style code shared by the installer stub and the host tool. All
// state is fixed-size and static; one decoding runs at a time.
#ifndef STUBKIT_STREAM_DECODER_H
#define STUBKIT_STREAM_DECODER_H

#include <stdint.h>

enum {
    DecoderWindowSize = 1 << 22   // 4,194,304 bytes, circular
};

// Delivers up to count bytes into buffer and returns how many it delivered.
// The decoder always asks for one byte and treats a missing byte as zero.
typedef int (*ReadCallback)(unsigned char* buffer, int count);

// Receives consecutive pieces of the output; the result is ignored.
typedef int (*WriteCallback)(const unsigned char* bytes, int length);

// Decodes until `total` bytes have been produced or an end block (a zero symbol
// count) is met. Output leaves in window-sized chunks straight from the window,
// plus one final partial chunk. A match that carries the output past `total`
// is copied and written in full. Never fails, always terminates, returns 0.
// Input comes one byte per read call, never more than two bytes ahead of the
// last bit a symbol uses.
int DecodeStream(ReadCallback read, WriteCallback write, uint32_t total);

// Hands the decoder the next run of input bytes where they lie: sets *bytes to
// their start and returns their count. The bytes must stay in place until the
// next call. A result of 0 stands for one missing byte, read as zero, just as
// a read that delivers nothing does for DecodeStream; the following byte is
// asked for again.
typedef int (*FillCallback)(const unsigned char** bytes);

// DecodeStream for callers that hold their input in a buffer: the same output
// in the same write calls for every input (cut, damaged and random streams
// too), but the input is taken a run at a time and read ahead by up to a
// machine word, several bytes per refill.
int DecodeStreamBuffered(FillCallback fill, WriteCallback write, uint32_t total);

#endif
