// The installer stub this project builds, carried inside the tool so that
// the tool is one file a vendor can copy. Generated at build time from the
// Windows build tree.
#ifndef STUBKIT_EMBEDDED_STUB_H
#define STUBKIT_EMBEDDED_STUB_H

#include <cstddef>

namespace stubkit {

extern const unsigned char kEmbeddedStub[];
extern const std::size_t kEmbeddedStubSize;
// The uninstaller's file, which the stub carries inside and writes out.
extern const std::size_t kEmbeddedUninstallerSize;

}  // namespace stubkit

#endif
