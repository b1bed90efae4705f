// Whether the program in front of an installer's payload is a given stub: the
// stub the tool carries, or the one a vendor built with. `test` promises what
// the installer does, which holds only for a program it knows.
#ifndef STUBKIT_STUB_IDENTITY_H
#define STUBKIT_STUB_IDENTITY_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "stubkit/container/installer_file.h"

namespace stubkit {

// Empty when the installer's stub is `stub` byte for byte outside its
// configuration record and outside the two PE fields that signing sets (the
// checksum and the certificate-table entry, which the signature check
// judges); otherwise the first difference, in words.
std::string StubDifference(const InstallerImage& image, const std::uint8_t* stub, std::size_t size);

}  // namespace stubkit

#endif
