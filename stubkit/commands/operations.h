// What the build, list, test and extract commands do, apart from their
// command lines, so that tests can run them in-process. Each is defined in
// its command's own file (build.cpp, list.cpp, test.cpp, extract.cpp).
#ifndef STUBKIT_COMMANDS_OPERATIONS_H
#define STUBKIT_COMMANDS_OPERATIONS_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "stubkit/files/codepage.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/container/payload_run.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/pack/product_config.h"
#include "stubkit/pack/pack_order.h"
#include "stubkit/pack/packer.h"
#include "stubkit/files/progress.h"
#include "stubkit/pack/signing.h"

namespace stubkit {

struct BuildOptions {
    std::filesystem::path config;
    // Empty: "<config name>-setup.exe" in the current folder; a folder (or a
    // name ending in a separator): that name inside it.
    std::filesystem::path output;
    ConfigVariables variables;      // -D NAME=VALUE
    PackOrder order = PackOrder::by_level;
    std::filesystem::path stub;     // empty: the stub carried inside the tool
    int level = kDefaultLevel;
    int threads = 1;                // the installer is the same for every count
    int codepage = kDefaultCodepage;
    ProgressStyle progress = ProgressStyle::None;
    bool follow_symlinks = false;   // pack links that lead outside the product folder
    SigningOptions signing;         // nothing requested: the installer stays unsigned
};

struct BuildOutcome {
    std::filesystem::path output;
    std::size_t file_count = 0;
    std::vector<std::string> packed_names;   // UTF-8, in the packed order
    OrderChoice order;
    std::uint64_t total_size = 0;
    PackResult pack;
    bool signed_installer = false;
};

using WarningSink = std::function<void(const std::string&)>;

// Validates everything first (throwing ConfigError or ValidationError with
// every problem found, before anything is written), reports warnings, then
// packs.
BuildOutcome BuildInstaller(const BuildOptions& options, const WarningSink& warn);

// The record's fields, the file table and the signature, as text for people
// or as JSON.
std::string DescribeInstaller(const InstallerImage& image, const Codepage& codepage, bool json,
                              const SignatureReport& signature = {});

// What `test` found for one file: "ok", "damaged" (fails its CRC, or is cut
// short), "refused" (a name the installer refuses), "missing" (the stream
// ended before it) or "unchecked" (after the fault, or a name problem found
// before decoding).
struct FileVerdict {
    std::string name;   // UTF-8
    std::uint32_t size = 0;
    std::string state;
    std::string rule;                // for a refused file: the rule it breaks
    std::string refusal;             // and why, in words
    std::string installer_message;   // and what the installer shows for it, if anything
};

struct TestOutcome {
    bool passed = false;
    PayloadVerdict verdict;
    std::string message;   // the outcome in words, naming the damaged file
    std::string folder;    // InstallDir the lengths were judged under (UTF-8)
    std::vector<FileVerdict> files;
};

// Decodes the whole payload as the installer would; throws FormatError when
// the installer would already refuse the head of the file. Passes only when
// the program in front of the payload is `stub` (empty: the stub the tool
// carries) outside its record, the record keeps `build`'s rules, the
// installer would succeed, every name is one it installs as it is (none
// refused, no two landing on one file), and the header agrees with the table.
// `folder` (UTF-8) is the target whose lengths are judged; none: the one the
// installer proposes on a stock Windows.
TestOutcome TestInstaller(const std::filesystem::path& path, const Codepage& codepage,
                          ProgressStyle progress = ProgressStyle::None, const std::filesystem::path& stub = {},
                          const std::optional<std::string>& folder = std::nullopt);

// `test --json`: the verdict, the signature and every file's state.
std::string TestOutcomeAsJson(const std::filesystem::path& path, const TestOutcome& outcome,
                              const SignatureReport& signature, const std::string& signature_refusal);

struct ExtractChoices {
    // Names or patterns ('*', '?', '[...]'; '/' and '\' alike) of the files
    // to write; a folder's name or pattern takes everything in it. None: all.
    std::vector<std::string> patterns;
    // Letter case counts in patterns only when asked: Windows names ignore it.
    bool case_sensitive = false;
    ProgressStyle progress = ProgressStyle::None;
    // Told the UTF-8 name of each file once it is written.
    std::function<void(const std::string&)> written;
    // The stub the installer was built with; empty: the one the tool carries.
    std::filesystem::path stub;
};

// Writes every file under `folder` with its times, never through a symbolic
// link. Refuses, before writing anything, what TestInstaller refuses before
// decoding (an unknown stub, a record `build` never writes, names the
// installer refuses or that land on one file, counts that disagree), and
// existing files unless `overwrite`. Throws FormatError when the payload is
// damaged, after the files before the damage are written; the damaged file
// itself is removed. A pattern that matches no file is refused before
// anything is written.
std::size_t ExtractInstaller(const std::filesystem::path& path, const std::filesystem::path& folder,
                             const Codepage& codepage, bool overwrite = false, const ExtractChoices& choices = {});

// The host path under `folder` for a table name, or a reason to refuse it.
struct ExtractPath {
    std::filesystem::path path;
    std::vector<std::string> components;
    std::string refusal;
};
ExtractPath SafeExtractPath(const std::string& utf8_name, const std::filesystem::path& folder);

}  // namespace stubkit

#endif
