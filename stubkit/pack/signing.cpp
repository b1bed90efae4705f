#include "stubkit/pack/signing.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "stubkit/container/pe_sections.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/platform/platform.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

constexpr const char* kSignatureChanged = "the signature's own bytes were changed after signing";
// WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data, then DER.
constexpr std::size_t kWinCertificateHeader = 8;
constexpr std::uint32_t kWinCertificateRevision = 0x0200;
constexpr std::uint32_t kWinCertificatePkcsSignedData = 0x0002;
// Enough for the DOS stub and the PE headers of any program.
constexpr std::size_t kHeadBytes = 4096;

// ---- running the signing tool --------------------------------------------

using platform::ChildRun;

// No shell: each argument is passed as it is. Its input is empty and it runs
// without the terminal: a password comes from the password file or not at
// all, and a build never stops at a hidden prompt.
ChildRun RunSigningTool(const std::vector<std::string>& arguments)
{
    return platform::RunProgram(kSigningToolName, arguments);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        const std::size_t end = line.find_last_not_of(" \t\r");
        if (start != std::string::npos)
            lines.push_back(line.substr(start, end - start + 1));
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "Subject: /CN=x" -> "/CN=x" for the prefix "Subject:".
std::string ValueAfter(const std::string& line, const std::string& prefix)
{
    const std::size_t start = line.find_first_not_of(" \t", prefix.size());
    return start == std::string::npos ? std::string() : line.substr(start);
}

// True when `line` names one of the signing program's own options ("-t",
// "-CAfile"), which mean nothing to a user of stubkit's options.
bool NamesToolOption(const std::string& line)
{
    for (std::size_t at = line.find('-'); at != std::string::npos; at = line.find('-', at + 1)) {
        const bool starts_word = at == 0 || line[at - 1] == ' ' || line[at - 1] == '"' || line[at - 1] == '\'';
        if (starts_word && at + 1 < line.size() && std::isalpha(static_cast<unsigned char>(line[at + 1])))
            return true;
    }
    return false;
}

// The tool's own words for a failure, without its bare "Failed", the
// password prompts it answered from empty input, the library's internal
// error stack (lines like "4070...:error:...") and advice in terms of its
// own options; a failed timestamp gets stubkit's advice instead.
std::string ToolComplaint(const ChildRun& run)
{
    std::string complaint;
    bool timestamp_failed = false;
    for (const std::string& line : Lines(run.output)) {
        timestamp_failed = timestamp_failed || line.find("timestamping failed") != std::string::npos;
        if (line == "Failed" || line.find(":error:") != std::string::npos || line.back() == ':' || NamesToolOption(line))
            continue;
        complaint += (complaint.empty() ? "" : "; ") + line;
        if (complaint.size() > 200)
            break;
    }
    if (timestamp_failed)
        complaint += "; another --sign-timestamp server may answer";
    return complaint.empty() ? kSigningToolName + std::string(" ended with status ") + std::to_string(run.exit_code)
                             : complaint;
}

// ---- signing --------------------------------------------------------------

std::vector<std::string> SignArguments(const SigningOptions& options, const fs::path& in, const fs::path& out)
{
    std::vector<std::string> arguments = {"sign", "-h", "sha256"};
    if (!options.pkcs12.empty())
        arguments.insert(arguments.end(), {"-pkcs12", options.pkcs12.u8string()});
    else
        arguments.insert(arguments.end(), {"-certs", options.certificate.u8string(), "-key", options.key.u8string()});
    if (!options.password_file.empty())
        arguments.insert(arguments.end(), {"-readpass", options.password_file.u8string()});
    if (!options.description.empty())
        arguments.insert(arguments.end(), {"-n", options.description});
    if (!options.url.empty())
        arguments.insert(arguments.end(), {"-i", options.url});
    for (const std::string& url : options.timestamp_urls)
        arguments.insert(arguments.end(), {"-ts", url});
    // The signing time is the only thing that differs between two signings
    // with one key; reproducible builds pin it.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
        arguments.insert(arguments.end(), {"-time", epoch});
    arguments.insert(arguments.end(), {"-in", in.u8string(), "-out", out.u8string()});
    return arguments;
}

// A private folder beside `file` (same file system, so the signed file can be
// renamed into place), removed with whatever it holds.
class ScratchFolderBeside {
public:
    explicit ScratchFolderBeside(const fs::path& file)
    {
        std::string error;
        path_ = platform::CreateFolderBeside(file, ".stubkit-sign-", error);
        if (path_.empty())
            throw std::runtime_error("cannot create a folder beside " + Quoted(file) + " for signing: " + error);
    }
    ~ScratchFolderBeside()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolderBeside(const ScratchFolderBeside&) = delete;
    ScratchFolderBeside& operator=(const ScratchFolderBeside&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string KeyName(const SigningOptions& options)
{
    return Quoted(options.pkcs12.empty() ? options.key : options.pkcs12);
}

void CheckReadable(const fs::path& path, const char* what, std::vector<std::string>& problems)
{
    if (!std::ifstream(path, std::ios::binary))
        problems.push_back("cannot read " + std::string(what) + " " + Quoted(path) + ": " + std::strerror(errno));
}

// ---- checking -------------------------------------------------------------

std::vector<std::uint8_t> ReadRange(std::ifstream& in, std::uint64_t offset, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, std::size_t size)
{
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// Length of the DER element at the start of `bytes`, tag and length included.
std::optional<std::uint64_t> DerElementSize(const std::vector<std::uint8_t>& bytes, std::size_t start)
{
    if (bytes.size() < start + 2 || bytes[start] != 0x30)
        return std::nullopt;
    const std::uint8_t first = bytes[start + 1];
    if (first < 0x80)
        return 2 + std::uint64_t{first};
    const std::size_t count = first & 0x7F;
    if (count == 0 || count > 4 || bytes.size() < start + 2 + count)
        return std::nullopt;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < count; ++i)
        length = length << 8 | bytes[start + 2 + i];
    return 2 + count + length;
}

// What the certificate table itself may hide: one WIN_CERTIFICATE that
// fills the table to the end of the file, its padding all zero. The DER
// inside is the tool's to judge.
std::string CertificateTableProblem(std::ifstream& in, std::uint64_t file_size, const PeSignatureFields& fields)
{
    const std::uint64_t end = std::uint64_t{fields.certificate_table_offset} + fields.certificate_table_size;
    if (end > file_size)
        return "the certificate table runs " + std::to_string(end - file_size) + " bytes past the end of the file";
    if (end < file_size)
        return std::to_string(file_size - end) + " bytes follow the signature; a signed file ends with it";
    const std::vector<std::uint8_t> table = ReadRange(in, fields.certificate_table_offset, fields.certificate_table_size);
    if (table.size() != fields.certificate_table_size || table.size() < kWinCertificateHeader)
        return "the certificate table is cut short";
    const std::uint32_t length = LittleEndian(&table[0], 4);
    if (LittleEndian(&table[4], 2) != kWinCertificateRevision || LittleEndian(&table[6], 2) != kWinCertificatePkcsSignedData ||
        length > table.size() || (length + 7) / 8 * 8 != table.size())
        return "the certificate table's header is damaged";
    const std::optional<std::uint64_t> der = DerElementSize(table, kWinCertificateHeader);
    if (!der || kWinCertificateHeader + *der > length)
        return "the signature's encoding is damaged";
    for (std::size_t i = static_cast<std::size_t>(kWinCertificateHeader + *der); i < table.size(); ++i)
        if (table[i] != 0)
            return "the padding after the signature holds data";
    return {};
}

std::string ChecksumProblem(std::ifstream& in, std::uint32_t stored, std::size_t checksum_offset)
{
    PeChecksum checksum(checksum_offset);
    in.clear();
    in.seekg(0);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        checksum.Add(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(in.gcount()));
    if (checksum.Value() == stored)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "the PE checksum is %08X but the file's bytes give %08X", stored, checksum.Value());
    return text;
}

// The signer and the verdict from `osslsigncode verify`.
void VerifyWithTool(const fs::path& path, const fs::path& ca_file, SignatureReport& report)
{
    std::vector<std::string> arguments = {"verify", "-in", path.u8string()};
    if (!ca_file.empty())
        arguments.insert(arguments.end(), {"-CAfile", ca_file.u8string()});
    ChildRun run;
    try {
        run = RunSigningTool(arguments);
    } catch (const std::runtime_error& error) {
        report.problem = std::string("cannot check it: ") + error.what();
        return;
    }
    std::string chain_error;
    bool digest_mismatch = false;
    bool signature_mismatch = false;
    for (const std::string& line : Lines(run.output)) {
        if (report.signer.empty() && StartsWith(line, "Subject:"))
            report.signer = ValueAfter(line, "Subject:");
        if (line.find("MISMATCH") != std::string::npos)
            digest_mismatch = true;
        // The signature no longer matches the data it signed (its own bytes changed).
        if (line.find("PKCS7_signatureVerify") != std::string::npos)
            signature_mismatch = true;
        if (chain_error.empty() && StartsWith(line, "Error:"))
            chain_error = ValueAfter(line, "Error:");
    }
    report.verified = run.exit_code == 0;
    report.file_changed = digest_mismatch;
    if (report.verified)
        return;
    if (digest_mismatch)
        report.problem = "the file was changed after signing: its digest no longer matches the signed one";
    else if (signature_mismatch)
        report.problem = kSignatureChanged + std::string(": it no longer matches the data it signs");
    else if (!chain_error.empty())
        report.problem = "the signer's certificate is not trusted (" + chain_error + ") by " +
                         (ca_file.empty() ? std::string("this system's certificate list; --ca-file names another")
                                          : "the certificates in " + Quoted(ca_file));
    else
        report.problem = "the signature does not verify: " + ToolComplaint(run);
}

}  // namespace

void CheckSigningOptions(const SigningOptions& options, std::vector<std::string>& problems)
{
    if (!options.Mentioned())
        return;
    if (!options.Requested())
        problems.push_back("signing details were given but no key: add --sign-pkcs12, or --sign-cert and --sign-key");
    else if (!options.pkcs12.empty() && (!options.certificate.empty() || !options.key.empty()))
        problems.push_back("sign with either a PKCS#12 file or a PEM certificate and key, not both");
    else if (options.pkcs12.empty() && options.certificate.empty() != options.key.empty())
        problems.push_back(options.key.empty() ? "the signing certificate needs its key (--sign-key)"
                                               : "the signing key needs its certificate (--sign-cert)");
    for (const auto& [path, what] : {std::pair{options.pkcs12, "signing key"}, {options.certificate, "signing certificate"},
                                     {options.key, "signing key"}, {options.password_file, "password file"}})
        if (!path.empty())
            CheckReadable(path, what, problems);
    if (!platform::ProgramOnPath(kSigningToolName))
        problems.push_back(platform::ProgramFileName(kSigningToolName) + ", which signs installers, is not installed: " +
                           platform::InstallHint(kSigningToolName));
}

void SignInstaller(const fs::path& installer, const SigningOptions& options)
{
    const std::string failure = "signing " + Quoted(installer) + " with " + KeyName(options) + " failed: ";
    std::string complaint;
    try {
        ScratchFolderBeside scratch(installer);
        const fs::path signed_file = scratch.Path() / "signed.exe";
        const ChildRun run = RunSigningTool(SignArguments(options, installer, signed_file));
        if (run.exit_code == 0 && fs::exists(signed_file)) {
            platform::MoveIntoPlace(signed_file, installer);
            return;
        }
        complaint = ToolComplaint(run);
    } catch (const std::exception& error) {
        complaint = error.what();
    }
    std::error_code ignored;
    fs::remove(installer, ignored);
    throw std::runtime_error(failure + complaint + "; the unsigned installer was removed");
}

SignatureReport InspectSignature(const fs::path& path, const fs::path& ca_file)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    const std::uint64_t file_size = fs::file_size(path);
    const std::vector<std::uint8_t> head = ReadRange(in, 0, kHeadBytes);
    const std::optional<PeSignatureFields> fields = FindPeSignatureFields(head.data(), head.size());
    SignatureReport report;
    report.present = fields && (fields->certificate_table_offset != 0 || fields->certificate_table_size != 0);
    if (!report.present)
        return report;
    report.table_offset = fields->certificate_table_offset;
    report.table_size = fields->certificate_table_size;
    VerifyWithTool(path, ca_file, report);
    // A change the tool's digest saw is named by it. Otherwise a table that
    // does not fit the file, or a checksum that the bytes do not give, means
    // bytes outside the digest changed: those of the signature itself, which
    // the tool might take for an untrusted signer.
    if (const std::string table = CertificateTableProblem(in, file_size, *fields); !table.empty()) {
        report.verified = false;
        if (!report.file_changed)
            report.problem = table + ": the file was changed after signing";
    } else if (const std::string checksum = ChecksumProblem(in, LittleEndian(&head[fields->checksum_offset], 4),
                                                            fields->checksum_offset);
               !checksum.empty()) {
        report.verified = false;
        if (!report.file_changed)
            report.problem = "bytes outside the signed digest (the signature itself, or the checksum) were changed "
                             "after signing: " + checksum;
    }
    return report;
}

std::string SignatureRefusal(const SignatureReport& report, bool signature_required)
{
    if (!report.present)
        return signature_required ? "is not signed, and a signature is required" : "";
    if (!report.verified)
        return "fails its signature check: " + report.problem;
    return {};
}

std::string DescribeSignature(const SignatureReport& report)
{
    if (!report.present)
        return "not signed";
    const std::string signer = report.signer.empty() ? "an unknown signer" : report.signer;
    if (report.verified)
        return "signed by " + signer;
    return "signed by " + signer + ", but the signature does not verify: " + report.problem;
}

}  // namespace stubkit
