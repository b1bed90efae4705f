// The command-line options of signing (`build`) and of checking signatures
// (`test`, `list`).
#ifndef STUBKIT_SIGNING_OPTIONS_H
#define STUBKIT_SIGNING_OPTIONS_H

#include <CLI/CLI.hpp>

#include "stubkit/pack/signing.h"

namespace stubkit {

struct SignatureCheckOptions {
    bool required = false;
    std::filesystem::path ca_file;
};

// --sign-pkcs12, --sign-cert, --sign-key, --sign-pass-file, --sign-timestamp,
// --sign-name, --sign-url, in a group of their own.
void AddSigningOptions(CLI::App& command, SigningOptions& options);

// --ca-file, and --require-signature when `with_requirement`.
void AddSignatureCheckOptions(CLI::App& command, SignatureCheckOptions& options, bool with_requirement);

}  // namespace stubkit

#endif
