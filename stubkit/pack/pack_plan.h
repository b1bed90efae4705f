// Everything `build` decides before it writes a byte: the product's texts and
// names in the installer's code page, the file table, the stub with its
// record's texts. Every rule the installer relies on but does not check is checked
// here, and all violations are reported together.
#ifndef STUBKIT_PACK_PLAN_H
#define STUBKIT_PACK_PLAN_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "stubkit/files/codepage.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/pack/product_config.h"
#include "stubkit/pack/source_files.h"

namespace stubkit {

// Paths the installer composes are held in 260-byte buffers.
constexpr std::size_t kMaxPathText = 259;
// Windows creates a folder of at most 247 characters, room kept for an 8.3 name.
constexpr std::size_t kMaxFolderPathText = 247;
constexpr std::uint64_t kMaxFileSize = (std::uint64_t{1} << 31) - 1;
constexpr std::uint64_t kMaxTotalSize = (std::uint64_t{1} << 32) - 1;
// The installer writes these itself; targets may name them without packing them.
constexpr const char* kUninstallerName = "davirado.exe";
constexpr const char* kUninstallLogName = "davirado.dat";
// Where InstallDir usually lands, for the path-length warning.
constexpr const char* kTypicalBaseFolder = "C:\\Program Files\\";

// Carries every error found, one message per line, each naming its field
// or file.
class ValidationError : public std::runtime_error {
public:
    // `config_problems` of the problems lie in the config file's fields; the
    // others in the product folder, the stub, the environment or the options.
    explicit ValidationError(std::vector<std::string> problems, std::size_t config_problems = 0);
    const std::vector<std::string>& Problems() const { return problems_; }
    // "3 problems in 'x.toml'", "1 problem", "3 problems, 1 of them in 'x.toml'".
    std::string Summary(const std::filesystem::path& config) const;

private:
    std::vector<std::string> problems_;
    std::size_t config_problems_;
};

struct ShortcutRow {
    std::string link;     // ANSI
    std::string target;   // ANSI
};

// The record's values, ANSI, already within their bounds.
struct ProductTexts {
    std::string title;
    std::string default_folder;
    std::string program_group;
    std::string run_after_install;
    std::vector<ShortcutRow> start_menu;
    std::vector<ShortcutRow> desktop;
};

struct PackPlan {
    ProductTexts texts;
    std::vector<SourceFile> files;     // in table order
    std::vector<FileRecord> records;   // crc_value is filled in while packing
    std::uint64_t total_size = 0;
    std::vector<std::string> warnings;
};

// Converts and checks the config and the files. Problems are appended;
// warnings go into the plan.
PackPlan PlanPackage(const ProductConfig& config, std::vector<SourceFile> files,
                     const Codepage& codepage, std::vector<std::string>& problems);

}  // namespace stubkit

#endif
