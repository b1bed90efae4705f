// What `list --json` and `test --json` print alike: one JSON document whose
// keys come in a fixed order, "format" first. The keys and what they hold are
// listed in JsonKeys, from which the manual page describes them; a change
// that a script would notice raises kJsonFormat.
#ifndef STUBKIT_COMMANDS_JSON_OUTPUT_H
#define STUBKIT_COMMANDS_JSON_OUTPUT_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "stubkit/pack/signing.h"

namespace stubkit {

using Json = nlohmann::ordered_json;

constexpr int kJsonFormat = 1;

// The signature: whether there is one, and who signed, whether it verified
// and what is wrong with it when there is.
Json SignatureAsJson(const SignatureReport& signature);

// The document with its format number in front, and a newline.
std::string JsonText(const Json& body);

// One key of a document as the manual page describes it; `object` names
// the object it belongs to ("" for the top level, "files[]" for each file).
struct JsonKey {
    const char* object;
    const char* name;
    const char* meaning;
};
// The keys of `list --json` or `test --json`, in the order they come out.
const std::vector<JsonKey>& JsonKeys(const std::string& command);

}  // namespace stubkit

#endif
