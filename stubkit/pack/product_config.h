// The product description a vendor writes: a small TOML file naming the
// product folder and the texts and shortcuts of the installer.
//
//   title = "Korvan Reader"            # required
//   source = "dist"                    # required, relative to this file
//   default_folder = "Korvan Reader"   # defaults to title
//   program_group = "Korvan"           # defaults to title
//   run_after_install = "readme.txt"   # optional
//   [[start_menu]]                     # up to 16 of each
//   link = "Korvan Reader.lnk"
//   target = "bin\reader.exe"
//   [[desktop]]
//   ...
//
// Any text may hold ${NAME}: the value `build -D NAME=VALUE` gives, else the
// environment variable NAME; "$$" is one '$'.
#ifndef STUBKIT_PRODUCT_CONFIG_H
#define STUBKIT_PRODUCT_CONFIG_H

#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace stubkit {

// A config file that cannot be read at all.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// NAME=VALUE pairs from the command line; they take precedence over the
// environment.
using ConfigVariables = std::map<std::string, std::string>;

struct ShortcutConfig {
    std::string link;     // UTF-8, as written
    std::string target;   // UTF-8, '/' already turned into '\'
    int line = 0;         // where the row starts, for messages
};

struct ProductConfig {
    std::filesystem::path config_path;
    std::string title;
    std::string default_folder;
    std::string program_group;
    bool default_folder_from_title = false;   // not given: the title stands in
    bool program_group_from_title = false;
    std::string run_after_install;   // as written; the plan turns its program's '/' into '\'
    std::filesystem::path source;   // resolved against the config's folder
    std::vector<ShortcutConfig> start_menu;
    std::vector<ShortcutConfig> desktop;
    // The line of each field given ("title", "desktop[0].target", the first
    // row's for "desktop"), for messages.
    std::map<std::string, int> lines;
    // Fields whose own problem was reported (missing, not a text, an
    // undefined variable): what the plan would say of their value is noise.
    std::set<std::string> faulty_fields;
    // False when the file did not parse or names no source: nothing can be
    // judged beyond its own problems.
    bool complete = false;
};

// Reads the config, appending every problem it has, each as
// "FILE:LINE: field: message" (FILE: only where no line holds the fault).
// Throws ConfigError only for a file that cannot be read.
ProductConfig LoadProductConfig(const std::filesystem::path& config_path, const ConfigVariables& variables,
                                std::vector<std::string>& problems);

// The same from text already in memory; config_path names it in messages and
// anchors `source`.
ProductConfig ParseProductConfig(std::string_view text, const std::filesystem::path& config_path,
                                 const ConfigVariables& variables, std::vector<std::string>& problems);

// A problem the plan found in a field ("title: ...", "desktop[0].link: ..."),
// with the config's file and the field's line in front; other problems are
// returned as they are. Empty for a field already reported as faulty.
std::string LocatedProblem(const ProductConfig& config, const std::string& problem);

// Whether a problem was located in the config file by the functions above.
bool IsConfigProblem(const ProductConfig& config, const std::string& problem);

// "NAME=VALUE" as given to -D: the problem, or empty.
std::string VariableDefinitionProblem(const std::string& definition);

}  // namespace stubkit

#endif
