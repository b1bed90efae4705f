#include "stubkit/commands/json_output.h"

#include <sstream>

namespace stubkit {

toml::table SignatureAsTable(const SignatureReport& signature)
{
    if (!signature.present)
        return toml::table{{"signed", false}};
    return toml::table{{"signed", true}, {"signer", signature.signer}, {"verified", signature.verified},
                       {"problem", signature.problem}, {"size", static_cast<std::int64_t>(signature.table_size)}};
}

std::string JsonText(const toml::table& root)
{
    std::ostringstream out;
    out << toml::json_formatter{root} << "\n";
    return out.str();
}

}  // namespace stubkit
