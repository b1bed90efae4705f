#include "stubkit/operations.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <toml++/toml.h>

#include "stubkit/embedded_stub.h"
#include "stubkit/file_times.h"
#include "stubkit/pack_plan.h"
#include "stubkit/product_config.h"
#include "stubkit/progress.h"
#include "stubkit/source_files.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open stub '" + path.string() + "'");
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path DefaultOutput(const fs::path& config)
{
    return config.stem().string() + "-setup.exe";
}

std::vector<std::uint8_t> LoadStub(const BuildOptions& options, std::string& origin)
{
    if (!options.stub.empty()) {
        origin = "'" + options.stub.string() + "'";
        return ReadWholeFile(options.stub);
    }
    origin = "(built in)";
    return std::vector<std::uint8_t>(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize);
}

}  // namespace

BuildOutcome BuildInstaller(const BuildOptions& options, const WarningSink& warn)
{
    const ProductConfig config = LoadProductConfig(options.config);
    const Codepage codepage(options.codepage);
    std::vector<std::string> skipped;
    std::vector<SourceFile> files = CollectSourceFiles(config.source, skipped);
    std::string stub_origin;
    std::vector<std::string> problems;
    const Stub stub = CheckStub(LoadStub(options, stub_origin), stub_origin, problems);
    const PackPlan plan = PlanPackage(config, std::move(files), codepage, problems);
    CheckSigningOptions(options.signing, problems);
    if (!problems.empty())
        throw ValidationError(problems);

    for (const std::string& entry : skipped)
        warn("skipped " + entry);
    if (plan.files.empty())
        warn("source folder '" + config.source.string() + "' holds no files");
    for (const std::string& warning : plan.warnings)
        warn(warning);

    BuildOutcome outcome;
    outcome.output = options.output.empty() ? DefaultOutput(options.config) : options.output;
    outcome.file_count = plan.files.size();
    outcome.total_size = plan.total_size;
    ProgressBar bar("packing", plan.total_size, options.show_progress);
    outcome.pack = WriteInstaller(plan, stub, outcome.output, options.level,
                                  [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    if (options.signing.Requested()) {
        SignInstaller(outcome.output, options.signing);
        outcome.signed_installer = true;
        outcome.pack.installer_size = fs::file_size(outcome.output);
    }
    return outcome;
}

// ---- list ----------------------------------------------------------------

namespace {

struct ConfigView {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::pair<std::string, std::string>> start_menu;
    std::vector<std::pair<std::string, std::string>> desktop;
};

std::vector<std::pair<std::string, std::string>> ShortcutRowsAsRead(const ShortcutEntry* table,
                                                                    const Codepage& codepage)
{
    std::vector<std::pair<std::string, std::string>> rows;
    const int count = CountShortcutRows(table);
    for (int i = 0; i < count; ++i)
        rows.emplace_back(codepage.ToUtf8(SlotText(table[i].LinkName)),
                          codepage.ToUtf8(SlotText(table[i].TargetFile)));
    return rows;
}

ConfigView ViewConfig(const InstallerImage& image, const Codepage& codepage)
{
    const InstallerConfig& config = image.config;
    ConfigView view;
    view.fields = {{"StubSize", codepage.ToUtf8(SlotText(config.StubSize))},
                   {"Title", codepage.ToUtf8(SlotText(config.Title))},
                   {"DefaultFolder", codepage.ToUtf8(SlotText(config.DefaultFolder))},
                   {"ProgramGroup", codepage.ToUtf8(SlotText(config.ProgramGroup))},
                   {"RunAfterInstall", codepage.ToUtf8(SlotText(config.RunAfterInstall))}};
    view.start_menu = ShortcutRowsAsRead(config.StartMenuShortcuts, codepage);
    view.desktop = ShortcutRowsAsRead(config.DesktopShortcuts, codepage);
    return view;
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string SecondsOnly(std::uint64_t filetime)
{
    const std::string full = FormatFiletime(filetime);   // "YYYY-MM-DD hh:mm:ss.fffffff UTC"
    return full.size() > 19 ? full.substr(0, 19) : full;
}

toml::array ShortcutsAsArray(const std::vector<std::pair<std::string, std::string>>& rows)
{
    toml::array array;
    for (const auto& [link, target] : rows)
        array.push_back(toml::table{{"LinkName", link}, {"TargetFile", target}});
    return array;
}

// The stream runs to the end of the file, or to the signature behind it.
std::uint64_t StreamSize(const InstallerImage& image, const SignatureReport& signature)
{
    const bool signature_behind = signature.present && signature.table_offset >= image.stream_offset &&
                                  signature.table_offset <= image.file_size;
    return (signature_behind ? signature.table_offset : image.file_size) - image.stream_offset;
}

toml::table SignatureAsTable(const SignatureReport& signature)
{
    if (!signature.present)
        return toml::table{{"signed", false}};
    return toml::table{{"signed", true}, {"signer", signature.signer}, {"verified", signature.verified},
                       {"problem", signature.problem}, {"size", static_cast<std::int64_t>(signature.table_size)}};
}

std::string DescribeAsJson(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    toml::table config;
    for (const auto& [name, value] : view.fields)
        config.insert(name, value);
    config.insert("StartMenuShortcuts", ShortcutsAsArray(view.start_menu));
    config.insert("DesktopShortcuts", ShortcutsAsArray(view.desktop));
    toml::array files;
    for (const FileRecord& record : image.records) {
        files.push_back(toml::table{
            {"name", codepage.ToUtf8(record.name)},
            {"size", static_cast<std::int64_t>(record.file_size)},
            {"crc_value", Hex32(record.crc_value)},
            {"creation_time", FormatFiletime(record.creation_time)},
            {"access_time", FormatFiletime(record.access_time)},
            {"write_time", FormatFiletime(record.write_time)},
            {"creation_filetime", static_cast<std::int64_t>(record.creation_time)},
            {"access_filetime", static_cast<std::int64_t>(record.access_time)},
            {"write_filetime", static_cast<std::int64_t>(record.write_time)}});
    }
    toml::table root{
        {"installer", image.path.string()},
        {"installer_size", static_cast<std::int64_t>(image.file_size)},
        {"config", std::move(config)},
        {"file_count", static_cast<std::int64_t>(image.header.file_count)},
        {"total_size", static_cast<std::int64_t>(image.header.total_size)},
        {"table_size", static_cast<std::int64_t>(image.header.table_size)},
        {"stream_size", static_cast<std::int64_t>(StreamSize(image, signature))},
        {"signature", SignatureAsTable(signature)},
        {"files", std::move(files)}};
    std::ostringstream out;
    out << toml::json_formatter{root} << "\n";
    return out.str();
}

void PrintShortcuts(std::ostringstream& out, const char* label,
                    const std::vector<std::pair<std::string, std::string>>& rows)
{
    char line[64];
    std::snprintf(line, sizeof line, "%-17s", label);
    if (rows.empty())
        out << line << "(none)\n";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out << (i == 0 ? std::string(line) : std::string(17, ' ')) << "'" << rows[i].first << "' -> '"
            << rows[i].second << "'\n";
}

std::string DescribeAsText(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    std::ostringstream out;
    out << image.path.string() << ": " << image.file_size << " bytes\n";
    for (const auto& [name, value] : view.fields) {
        char label[32];
        std::snprintf(label, sizeof label, "%-17s", name.c_str());
        out << label << "'" << value << "'\n";
    }
    PrintShortcuts(out, "StartMenu", view.start_menu);
    PrintShortcuts(out, "Desktop", view.desktop);
    out << "Payload          " << image.header.file_count << " files, " << image.header.total_size
        << " bytes; table " << image.header.table_size << " bytes; stream " << StreamSize(image, signature)
        << " bytes\n";
    out << "Signature        " << DescribeSignature(signature) << "\n\n";
    char line[160];
    std::snprintf(line, sizeof line, "%12s  %-8s  %-19s  %-19s  %-19s  %s\n", "Size", "CRC",
                  "Created (UTC)", "Accessed (UTC)", "Written (UTC)", "Name");
    out << line;
    for (const FileRecord& record : image.records) {
        std::snprintf(line, sizeof line, "%12u  %-8s  %-19s  %-19s  %-19s  ", record.file_size,
                      Hex32(record.crc_value).c_str(), SecondsOnly(record.creation_time).c_str(),
                      SecondsOnly(record.access_time).c_str(), SecondsOnly(record.write_time).c_str());
        out << line << codepage.ToUtf8(record.name) << "\n";
    }
    return out.str();
}

}  // namespace

std::string DescribeInstaller(const InstallerImage& image, const Codepage& codepage, bool json,
                              const SignatureReport& signature)
{
    const ConfigView view = ViewConfig(image, codepage);
    return json ? DescribeAsJson(image, codepage, view, signature) : DescribeAsText(image, codepage, view, signature);
}

// ---- test ----------------------------------------------------------------

namespace {

std::string VerdictMessage(const InstallerImage& image, const PayloadVerdict& verdict, const Codepage& codepage)
{
    if (verdict.refused_name)
        return "file '" + codepage.ToUtf8(image.records[*verdict.refused_name].name) +
               "' has a name the installer refuses (a device, or outside its folder): it would stop with "
               "\"This is a corrupted installation file.\"";
    if (verdict.damaged_file)
        return "file '" + codepage.ToUtf8(image.records[*verdict.damaged_file].name) +
               "' fails its CRC check: the installer would stop with \"This is a corrupted installation file.\"";
    if (!verdict.success)
        return std::to_string(verdict.bytes_remaining) + " of " + std::to_string(image.header.total_size) +
               " payload bytes never reached a file: the installer would stop with its incomplete-file message";
    std::string message = std::to_string(image.header.file_count) + " files, " +
                          std::to_string(image.header.total_size) + " bytes: all CRCs match";
    const std::size_t unreached = image.records.size() - verdict.files_reached;
    if (unreached > 0)
        message += " (" + std::to_string(unreached) + " empty file(s) after the stream's last byte)";
    return message;
}

}  // namespace

TestOutcome TestInstaller(const fs::path& path, const Codepage& codepage, bool show_progress)
{
    const InstallerImage image = ReadInstallerImage(path);
    ProgressBar bar("testing", image.header.total_size, show_progress);
    TestOutcome outcome;
    outcome.verdict = RunPayload(image, nullptr, [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    outcome.message = VerdictMessage(image, outcome.verdict, codepage);
    outcome.passed = outcome.verdict.success;
    if (outcome.passed) {
        const std::string inconsistency = HeaderInconsistency(image);
        if (!inconsistency.empty()) {
            outcome.passed = false;
            outcome.message = inconsistency + "; the installer would not install the whole product";
        }
    }
    return outcome;
}

// ---- extract -------------------------------------------------------------

ExtractPath SafeExtractPath(const std::string& utf8_name, const fs::path& folder)
{
    ExtractPath result;
    if (utf8_name.empty())
        result.refusal = "empty name";
    else if (utf8_name[0] == '\\' || utf8_name[0] == '/')
        result.refusal = "absolute path";
    else if (utf8_name.find(':') != std::string::npos)
        result.refusal = "drive or stream name";
    else if (utf8_name.find('/') != std::string::npos)
        result.refusal = "'/' inside a name";
    else if (utf8_name.find('\0') != std::string::npos)
        result.refusal = "NUL inside a name";
    if (!result.refusal.empty())
        return result;
    result.path = folder;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = utf8_name.find('\\', start);
        const std::string part = utf8_name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            result.refusal = part.empty() ? "empty folder name" : "'" + part + "' component";
            return result;
        }
        result.path /= fs::u8path(part);
        if (end == std::string::npos)
            return result;
        start = end + 1;
    }
}

namespace {

class FolderOutput : public FileOutput {
public:
    explicit FolderOutput(std::vector<fs::path> paths) : paths_(std::move(paths)) {}

    void Open(std::size_t index, const FileRecord&) override
    {
        const fs::path& path = paths_[index];
        fs::create_directories(path.parent_path());
        file_.open(path, std::ios::binary | std::ios::trunc);
        if (!file_)
            throw std::runtime_error("cannot create '" + path.string() + "'");
        current_ = index;
    }

    void Write(const std::uint8_t* bytes, std::size_t size) override
    {
        if (!file_.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size)))
            throw std::runtime_error("cannot write '" + paths_[current_].string() + "'");
    }

    void Close(std::size_t index, const FileRecord& record) override
    {
        file_.close();
        if (!file_)
            throw std::runtime_error("cannot write '" + paths_[index].string() + "'");
        WriteFileTimes(paths_[index], {record.creation_time, record.access_time, record.write_time});
        ++written_;
    }

    void Abandon(std::size_t) override { file_.close(); }

    // Empty files after the stream's last byte are never reached by the
    // installer's rule; extraction writes them so the folder is complete.
    void CreateUnreachedEmptyFiles(const std::vector<FileRecord>& records, std::size_t reached)
    {
        for (std::size_t i = reached; i < records.size(); ++i) {
            if (records[i].file_size != 0)
                continue;
            Open(i, records[i]);
            Close(i, records[i]);
        }
    }

    std::size_t Written() const { return written_; }

private:
    std::vector<fs::path> paths_;
    std::ofstream file_;
    std::size_t current_ = 0;
    std::size_t written_ = 0;
};

std::vector<fs::path> ExtractPaths(const InstallerImage& image, const fs::path& folder, const Codepage& codepage)
{
    std::vector<fs::path> paths;
    for (const FileRecord& record : image.records) {
        const std::string name = codepage.ToUtf8(record.name);
        ExtractPath target = SafeExtractPath(name, folder);
        if (!target.refusal.empty())
            throw FormatError("'" + image.path.string() + "': refusing to extract '" + name +
                              "' (" + target.refusal + "): it would land outside '" + folder.string() + "'");
        paths.push_back(std::move(target.path));
    }
    return paths;
}

}  // namespace

std::size_t ExtractInstaller(const fs::path& path, const fs::path& folder, const Codepage& codepage)
{
    const InstallerImage image = ReadInstallerImage(path);
    const std::string inconsistency = HeaderInconsistency(image);
    if (!inconsistency.empty())
        throw FormatError("'" + path.string() + "': " + inconsistency);
    FolderOutput output(ExtractPaths(image, folder, codepage));
    fs::create_directories(folder);
    const PayloadVerdict verdict = RunPayload(image, &output);
    if (!verdict.success)
        throw FormatError("'" + path.string() + "': " + VerdictMessage(image, verdict, codepage));
    output.CreateUnreachedEmptyFiles(image.records, verdict.files_reached);
    return output.Written();
}

}  // namespace stubkit
