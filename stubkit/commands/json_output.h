// What `list --json` and `test --json` print alike.
#ifndef STUBKIT_COMMANDS_JSON_OUTPUT_H
#define STUBKIT_COMMANDS_JSON_OUTPUT_H

#include <string>

#include <toml++/toml.h>

#include "stubkit/pack/signing.h"

namespace stubkit {

// The signature: whether there is one, and who signed, whether it verified
// and what is wrong with it when there is.
toml::table SignatureAsTable(const SignatureReport& signature);

// The table as one JSON document and a newline.
std::string JsonText(const toml::table& root);

}  // namespace stubkit

#endif
