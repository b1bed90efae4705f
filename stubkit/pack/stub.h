// The program in front of every installer: the one the tool carries or one
// named by --stub, checked before use and patched with the product's record.
#ifndef STUBKIT_PACK_STUB_H
#define STUBKIT_PACK_STUB_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "stubkit/pack/pack_plan.h"

namespace stubkit {

// A stub that can be patched: at most 131,072 bytes, with its record found
// and still unconfigured.
struct Stub {
    std::vector<std::uint8_t> bytes;
    std::size_t record_offset = 0;
};

// The bytes of the stub in `file`, or of the one the tool carries when
// `file` is empty; throws std::runtime_error naming a file that cannot be read.
std::vector<std::uint8_t> StubBytes(const std::filesystem::path& file);

// Checks a stub; `origin` names it in messages. Problems are appended.
Stub CheckStub(std::vector<std::uint8_t> bytes, const std::string& origin,
               std::vector<std::string>& problems);

// The stub with its record patched: each value written over the start of its
// slot with a NUL, StubSize the stub's length in decimal, the row after the
// last used one emptied when the stub still has text there, fields without a
// value emptied.
std::vector<std::uint8_t> PatchStub(const Stub& stub, const ProductTexts& texts);

}  // namespace stubkit

#endif
