// Authenticode signatures on finished installers, made and checked by
// osslsigncode run as a child process. The signature goes after the payload,
// where the installer never reads, so a signed installer installs exactly
// like the unsigned one; it is also the only end-to-end integrity check a
// download gets, as the file table carries no checksum.
#ifndef STUBKIT_SIGNING_H
#define STUBKIT_SIGNING_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace stubkit {

// The program that signs and verifies; looked up on PATH.
constexpr const char* kSigningToolName = "osslsigncode";

// Either a PKCS#12 file, or a PEM certificate (chain) with its PEM key.
struct SigningOptions {
    std::filesystem::path pkcs12;
    std::filesystem::path certificate;
    std::filesystem::path key;
    std::filesystem::path password_file;       // first line: the password of the PKCS#12 file or key
    std::vector<std::string> timestamp_urls;   // RFC 3161 servers, tried in order
    std::string description;                   // shown by Windows as the program's name
    std::string url;                           // the vendor's "more information" link

    bool Requested() const { return !pkcs12.empty() || !certificate.empty() || !key.empty(); }
    bool Mentioned() const
    {
        return Requested() || !password_file.empty() || !timestamp_urls.empty() || !description.empty() || !url.empty();
    }
};

// Appends what makes the options unusable (a missing half of a PEM pair, both
// kinds of key, signing details without a key, an unreadable file, no signing
// tool), so that `build` can refuse before it writes anything. Options that
// mention no signing at all are fine.
void CheckSigningOptions(const SigningOptions& options, std::vector<std::string>& problems);

// Signs `installer` in place with SHA-256. The signed file replaces it only
// when complete; on failure the unsigned installer is removed, so that a
// pipeline cannot publish it by mistake, and the error names the key and the
// installer. With SOURCE_DATE_EPOCH set, that is the signing time: the same
// installer, key and time (and no timestamp server) sign to the same bytes.
void SignInstaller(const std::filesystem::path& installer, const SigningOptions& options);

// What an installer's signature says.
struct SignatureReport {
    bool present = false;
    bool verified = false;         // intact, and the signer's chain is trusted
    bool file_changed = false;     // the signed digest no longer matches the file's bytes
    std::string signer;            // subject of the signing certificate, when it could be read
    std::string problem;           // why it does not verify
    std::uint64_t table_offset = 0;  // where the certificate table starts: the payload ends before it
    std::uint32_t table_size = 0;    // its bytes, up to the end of the file
};

// Reads the signature of `path` and verifies it. `ca_file` replaces the
// system's list of trusted certificates. Besides what osslsigncode checks
// (the digest of everything outside the signature, the signature itself and
// the signer's chain), the PE checksum and the table's padding are checked,
// so that no byte of the file can change unnoticed. Throws only when the file
// cannot be read.
SignatureReport InspectSignature(const std::filesystem::path& path, const std::filesystem::path& ca_file = {});

// `test`'s judgement: empty when acceptable, else the reason in words. An
// unsigned installer is acceptable unless a signature is required.
std::string SignatureRefusal(const SignatureReport& report, bool signature_required);

// One line for people: "signed by ...", "not signed", or why it does not verify.
std::string DescribeSignature(const SignatureReport& report);

}  // namespace stubkit

#endif
