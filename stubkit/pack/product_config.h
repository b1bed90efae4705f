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
#ifndef STUBKIT_PRODUCT_CONFIG_H
#define STUBKIT_PRODUCT_CONFIG_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace stubkit {

// A config that cannot be used: the message names the file, line and key.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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
};

ProductConfig LoadProductConfig(const std::filesystem::path& config_path);

// The same from text already in memory; config_path names it in messages and
// anchors `source`.
ProductConfig ParseProductConfig(std::string_view text, const std::filesystem::path& config_path);

}  // namespace stubkit

#endif
