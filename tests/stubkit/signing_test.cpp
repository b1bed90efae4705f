// Signed installers: build signs last with either kind of key, the payload stays the unsigned one with the
// signature behind it, test and list report the signer, any changed byte fails the check, the same key and
// SOURCE_DATE_EPOCH sign to the same bytes, and a failed signing leaves no unsigned installer behind.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstring>
#include <memory>
#include "stubkit/container/pe_sections.h"
#include "stubkit/pack/signing.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

class Signing : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WriteFile(scratch_ / "product/bin/app.exe", NoiseBytes(30000, 5));
        WriteFile(scratch_ / "product/readme.txt", std::string("read me first\n"));
        WriteFile(scratch_ / "product.toml", ConfigText("product"));
        key_ = std::make_unique<ThrowawayKey>(scratch_ / "keys");
        unsigned_ = ReadFile(Build(scratch_, "unsigned.exe"));
        signed_ = ReadFile(BuildSigned("signed.exe", key_->Pkcs12()));
        image_ = ReadInstallerImage(scratch_ / "signed.exe");
    }
    static fs::path BuildSigned(const std::string& output, const SigningOptions& signing) { return SignedBuild(scratch_, output, signing); }
    static SignatureReport Inspect(const Bytes& bytes)
    {
        WriteFile(scratch_ / "variant.exe", bytes);
        return InspectSignature(scratch_ / "variant.exe", key_->certificate);
    }
    static PeSignatureFields Fields(const Bytes& bytes) { return FindPeSignatureFields(bytes.data(), bytes.size()).value(); }

    static inline ScratchFolder scratch_;
    static inline std::unique_ptr<ThrowawayKey> key_;
    static inline Bytes unsigned_, signed_;
    static inline InstallerImage image_;
};

TEST_F(Signing, SignedInstallerIsTheUnsignedOneWithItsSignatureBehindThePayload)
{
    const PeSignatureFields fields = Fields(signed_);
    ASSERT_GT(signed_.size(), unsigned_.size());
    EXPECT_EQ(std::uint64_t{fields.certificate_table_offset} + fields.certificate_table_size, signed_.size());
    EXPECT_GE(fields.certificate_table_offset, unsigned_.size());
    EXPECT_TRUE(std::all_of(signed_.begin() + unsigned_.size(), signed_.begin() + fields.certificate_table_offset,
                            [](std::uint8_t byte) { return byte == 0; }));   // alignment padding only
    EXPECT_TRUE(std::equal(unsigned_.begin() + image_.stub_size, unsigned_.end(), signed_.begin() + image_.stub_size));
    // In the stub only the checksum and the certificate table's directory entry change.
    int changed = 0;
    for (std::size_t i = 0; i < image_.stub_size; ++i)
        changed += signed_[i] != unsigned_[i] && (i < fields.checksum_offset || i >= fields.checksum_offset + 4);
    EXPECT_LE(changed, 8);
    EXPECT_TRUE(TestInstaller(scratch_ / "signed.exe", Codepage(1252)).passed);
    const SignatureReport report = Inspect(signed_);
    EXPECT_TRUE(report.present && report.verified) << report.problem;
    EXPECT_EQ(report.signer, ThrowawayKey::kSubject);
    EXPECT_FALSE(Inspect(unsigned_).present);
}

TEST_F(Signing, ToolSignsWithEitherKindOfKeyAndTestAndListJudgeSignaturesLikeAReleaseGate)
{
    const std::string unsigned_setup = (scratch_ / "unsigned.exe").string(), signed_setup = (scratch_ / "signed.exe").string();
    const std::string ca = key_->certificate.string(), signer = std::string("signed by ") + ThrowawayKey::kSubject;
    const std::string pkcs12 = (scratch_ / "pkcs12.exe").string(), pem = (scratch_ / "pem.exe").string();
    const std::pair<std::string, std::vector<std::string>> keys[] = {
        {pkcs12, {"--sign-pkcs12", key_->pkcs12.string(), "--sign-pass-file", key_->password_file.string()}},
        {pem, {"--sign-cert", ca, "--sign-key", key_->key.string(), "--sign-name", "Test Product", "--sign-url", "https://example.com/"}}};
    for (const auto& [setup, sign] : keys) {
        std::vector<std::string> build = {"build", (scratch_ / "product.toml").string(), "-o", setup, "-1"};
        build.insert(build.end(), sign.begin(), sign.end());
        const auto [code, output] = RunTool(build);
        ASSERT_EQ(code, 0) << setup << ": " << output;
    }
    Bytes renamed = signed_;   // a name's byte: the file table has no checksum, only the signature notices
    renamed[image_.stub_size + kPayloadHeaderSize + kFileRecordFixedSize] ^= 0x20;
    WriteFile(scratch_ / "renamed.exe", renamed);
    ASSERT_TRUE(TestInstaller(scratch_ / "renamed.exe", Codepage(1252)).passed);
    // The stream ends at the signature (after the zeros that align it), not at the end of the file.
    const std::string stream_size = "\"stream_size\": " + std::to_string((unsigned_.size() + 7) / 8 * 8 - image_.stream_offset);
    const struct { std::vector<std::string> arguments; int code; std::string expected; } runs[] = {
        {{"test", "--require-signature", "--ca-file", ca, pkcs12}, 0, ": OK, 2 files, 30014 bytes: all CRCs match; " + signer},
        {{"test", "--require-signature", "--ca-file", ca, pem}, 0, ": OK, 2 files, 30014 bytes: all CRCs match; " + signer},
        {{"list", "--ca-file", ca, pkcs12}, 0, "\nSignature        " + signer + "\n"},
        {{"list", "--ca-file", ca, pem}, 0, "\nSignature        " + signer + "\n"},
        {{"test", unsigned_setup}, 0, "all CRCs match; not signed"},
        {{"test", "--require-signature", unsigned_setup}, 1, "is not signed, and a signature is required"},
        {{"test", signed_setup}, 1, "not trusted (self-signed certificate) by this system's certificate list"},
        {{"test", "--ca-file", ca, (scratch_ / "renamed.exe").string()}, 1, "the file was changed after signing"},
        {{"list", unsigned_setup}, 0, "\nSignature        not signed\n"},
        {{"list", "--json", "--ca-file", ca, signed_setup}, 0, "\"signer\": \"/CN=Throwaway Test Vendor/O=stubkit tests\""},
        {{"list", "--json", "--ca-file", ca, signed_setup}, 0, "\"verified\": true"},
        {{"list", "--json", signed_setup}, 0, stream_size},
        {{"list", "--json", unsigned_setup}, 0, "\"signed\": false"}};
    for (const auto& run : runs) {
        const auto [code, output] = RunTool(run.arguments);
        EXPECT_EQ(code, run.code) << run.arguments[0] << " " << run.arguments[1] << ": " << output;
        EXPECT_NE(output.find(run.expected), std::string::npos) << run.expected << " in " << output;
    }
}

// osslsigncode alone misses a changed checksum field and changed padding; the tool's own checks close the gaps.
TEST_F(Signing, AnyChangedByteOfASignedInstallerFailsTheCheck)
{
    const PeSignatureFields fields = Fields(signed_);
    const std::size_t table = fields.certificate_table_offset, der_end = table + 8 + 4 + (signed_[table + 10] << 8 | signed_[table + 11]);
    const std::size_t signer_name = static_cast<std::size_t>(
        std::search(signed_.begin() + table, signed_.end(), std::begin("Throwaway"), std::end("Throwaway") - 1) - signed_.begin());
    std::vector<std::pair<std::string, std::size_t>> positions = {
        {"stub code", 1024}, {"PE checksum", fields.checksum_offset}, {"certificate entry", fields.checksum_offset - 64 + 96 + 8 * 4 + 4},
        {"file_count", image_.stub_size}, {"table_size", image_.stub_size + 8}, {"a name", image_.stub_size + 12 + 33},
        {"a crc_value", image_.stub_size + 12}, {"stream's first byte", image_.stream_offset}, {"stream's last byte", unsigned_.size() - 1},
        {"certificate table header", table + 4}, {"signer's name", signer_name}, {"signature value", der_end - 1},
        {"padding or the signature's end", signed_.size() - 1}};
    for (std::size_t at = 0; at < signed_.size(); at += signed_.size() / 25)
        positions.push_back({"spread", at});
    for (const auto& [name, at] : positions) {
        Bytes bytes = signed_;
        bytes[at] ^= 0x01;
        const SignatureReport report = Inspect(bytes);
        EXPECT_FALSE(report.verified) << name << " at " << at;
        EXPECT_FALSE(report.present && report.problem.empty()) << name << " at " << at;
        // A change is named as one, never mistaken for a signer nobody trusts.
        EXPECT_TRUE(!report.present || (report.problem.find("changed after signing") != std::string::npos &&
                                        report.problem.find("not trusted") == std::string::npos))
            << name << " at " << at << ": " << report.problem;
    }
    Bytes appended = signed_, cut(signed_.begin(), signed_.end() - 1), zeros_in_table = signed_;
    appended.push_back(0);
    zeros_in_table.insert(zeros_in_table.end(), 8, 0);   // a longer table of zeros, its entry updated to match
    const std::uint32_t longer = fields.certificate_table_size + 8;
    std::memcpy(&zeros_in_table[fields.checksum_offset - 64 + 96 + 8 * 4 + 4], &longer, 4);
    for (const auto& [name, bytes] : {std::pair{"a byte appended", appended}, {"the last byte cut", cut}, {"padding grown", zeros_in_table}})
        EXPECT_FALSE(Inspect(bytes).verified) << name;

    // Two bytes behind the certificate table, chosen so the PE checksum still matches.
    PeChecksum before(fields.checksum_offset);
    before.Add(signed_.data(), signed_.size());
    Bytes hidden = signed_;
    for (std::uint32_t word = 0; word <= 0xFFFF; ++word) {
        const std::uint8_t tail[2] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)};
        PeChecksum after = before;
        after.Add(tail, 2);
        if (after.Value() == before.Value()) {
            hidden.insert(hidden.end(), tail, tail + 2);
            break;
        }
    }
    ASSERT_EQ(hidden.size(), signed_.size() + 2) << "no two bytes keep the checksum";
    const SignatureReport behind = Inspect(hidden);
    EXPECT_FALSE(behind.verified);
    EXPECT_NE(behind.problem.find("2 bytes follow the signature"), std::string::npos) << behind.problem;
}

// Each rule of the certificate table alone, on a signature that leaves padding: a table rounded up to 8 bytes
// verifies, one that is not or whose padding holds data does not, though the checksum is fixed to match.
TEST_F(Signing, CertificateTableLengthMustBeRoundedAndItsPaddingZeroEvenWithAMatchingChecksum)
{
    const auto fixed_checksum = [](Bytes bytes) {
        const std::size_t at = Fields(bytes).checksum_offset;
        PeChecksum checksum(at);
        checksum.Add(bytes.data(), bytes.size());
        const std::uint32_t value = checksum.Value();
        std::memcpy(&bytes[at], &value, 4);
        return bytes;
    };
    // A signature whose DER leaves 1 to 7 bytes of padding: a fresh key changes the certificate's length.
    Bytes padded = signed_;
    fs::path certificate = key_->certificate;
    std::size_t der_end = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::size_t table = Fields(padded).certificate_table_offset;
        der_end = table + 8 + 4 + (padded[table + 10] << 8 | padded[table + 11]);
        if (padded.size() > der_end)
            break;
        const ThrowawayKey other(scratch_ / ("keys" + std::to_string(attempt)));
        padded = ReadFile(BuildSigned("padded.exe", other.Pem()));
        certificate = other.certificate;
    }
    ASSERT_GT(padded.size(), der_end) << "no key gave a signature with padding";
    WriteFile(scratch_ / "padded.exe", padded);
    EXPECT_TRUE(InspectSignature(scratch_ / "padded.exe", certificate).verified) << "a table rounded up to 8 bytes is sound";
    const PeSignatureFields fields = Fields(padded);
    // The padding cut off, the entry and the header's length both saying so: a table not rounded to 8 bytes.
    Bytes unrounded(padded.begin(), padded.begin() + static_cast<long>(der_end));
    const std::uint32_t exact = static_cast<std::uint32_t>(der_end - fields.certificate_table_offset);
    std::memcpy(&unrounded[fields.certificate_table_offset], &exact, 4);
    std::memcpy(&unrounded[fields.checksum_offset - 64 + 96 + 8 * 4 + 4], &exact, 4);
    EXPECT_FALSE(Inspect(fixed_checksum(unrounded)).verified);

    padded.back() = 1;
    WriteFile(scratch_ / "padded.exe", fixed_checksum(padded));
    const SignatureReport padding = InspectSignature(scratch_ / "padded.exe", certificate);
    EXPECT_FALSE(padding.verified);
    EXPECT_NE(padding.problem.find("the padding after the signature holds data"), std::string::npos) << padding.problem;
}

TEST_F(Signing, SameKeyAndSourceDateEpochSignToTheSameBytes)
{
    ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "1700000000", 1), 0);
    const Bytes first = ReadFile(BuildSigned("first.exe", key_->Pem()));
    usleep(1100000);   // a second later: only the pinned signing time keeps the bytes equal
    const Bytes second = ReadFile(BuildSigned("second.exe", key_->Pem()));
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_TRUE(first == second);
    EXPECT_TRUE(Inspect(first).verified);
}

TEST_F(Signing, BuildRefusesOrFailsWithoutLeavingAnUnsignedInstaller)
{
    WriteFile(scratch_ / "keys/wrong.txt", std::string("wrong password\n"));
    const fs::path no_tools = scratch_ / "empty-path";
    fs::create_directories(no_tools);
    SigningOptions unreachable_timestamp = key_->Pkcs12();
    unreachable_timestamp.timestamp_urls = {"http://127.0.0.1:9/"};   // the discard port: nothing answers
    const struct { const char* name; SigningOptions signing; bool without_tool; std::string expected; } cases[] = {
        {"wrong password", ThrowawayKey::Options(key_->pkcs12, {}, {}, scratch_ / "keys/wrong.txt"), false,
         "with '" + key_->pkcs12.string() + "' failed: "},
        {"timestamp server unreachable", unreachable_timestamp, false, "http://127.0.0.1:9/"},
        {"timestamp advice in stubkit's options", unreachable_timestamp, false, "another --sign-timestamp server may answer"},
        {"key without certificate", ThrowawayKey::Options({}, {}, key_->key, {}), false, "the signing key needs its certificate"},
        {"both kinds of key", ThrowawayKey::Options(key_->pkcs12, key_->certificate, key_->key, {}), false, "not both"},
        {"details without a key", ThrowawayKey::Options({}, {}, {}, key_->password_file), false, "signing details were given but no key"},
        {"unreadable certificate", ThrowawayKey::Options({}, scratch_ / "keys/missing.pem", key_->key, {}), false,
         "cannot read signing certificate"},
        {"no signing tool", key_->Pkcs12(), true, "osslsigncode, which signs installers, is not installed"}};
    const std::string path = std::getenv("PATH");
    for (const auto& c : cases) {
        fs::remove(scratch_ / "refused.exe");
        setenv("PATH", c.without_tool ? no_tools.c_str() : path.c_str(), 1);
        try {
            BuildSigned("refused.exe", c.signing);
            ADD_FAILURE() << c.name << ": built";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << c.name << ": " << error.what();
            EXPECT_EQ(std::string(error.what()).find("\"-t"), std::string::npos) << c.name << ": " << error.what();
        }
        EXPECT_FALSE(fs::exists(scratch_ / "refused.exe")) << c.name;
    }
    setenv("PATH", no_tools.c_str(), 1);
    const SignatureReport unchecked = InspectSignature(scratch_ / "signed.exe", key_->certificate);
    setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(unchecked.verified);
    EXPECT_NE(unchecked.problem.find("cannot check it: osslsigncode is not installed"), std::string::npos) << unchecked.problem;
}

}  // namespace
}  // namespace stubkit
