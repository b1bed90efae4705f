#include "stubkit/commands/signing_options.h"

#include "stubkit/commands/command_line.h"

namespace stubkit {

void AddSigningOptions(CLI::App& command, SigningOptions& options)
{
    const std::string group = "Signing (Authenticode, SHA-256, by osslsigncode)";
    CLI::Option* pkcs12 = AddPathOption(command, "--sign-pkcs12", options.pkcs12, "Sign with the key and certificates in this PKCS#12 file")
                              ->check(RegularFile())
                              ->group(group);
    CLI::Option* certificate =
        AddPathOption(command, "--sign-cert", options.certificate, "Sign with this PEM certificate (chain)")
            ->check(RegularFile())
            ->group(group);
    CLI::Option* key = AddPathOption(command, "--sign-key", options.key, "PEM private key of --sign-cert")
                           ->check(RegularFile())
                           ->group(group);
    certificate->needs(key);
    key->needs(certificate);
    pkcs12->excludes(certificate)->excludes(key);
    AddPathOption(command, "--sign-pass-file", options.password_file, "File whose first line is the key's password")
        ->check(RegularFile())
        ->group(group);
    command.add_option("--sign-timestamp", options.timestamp_urls,
                       "RFC 3161 timestamp server (repeatable); keeps the signature valid after the certificate expires")
        ->type_name("URL")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(group);
    command.add_option("--sign-name", options.description, "Program name Windows shows in its prompts")
        ->type_name("NAME")
        ->group(group);
    command.add_option("--sign-url", options.url, "Vendor's web address shown with the signature")
        ->type_name("URL")
        ->group(group);
}

void AddSignatureCheckOptions(CLI::App& command, SignatureCheckOptions& options, bool with_requirement)
{
    AddPathOption(command, "--ca-file", options.ca_file,
                       "Trust the certificates in this PEM file instead of the system's list")
        ->check(RegularFile());
    if (with_requirement)
        command.add_flag("--require-signature", options.required, "Fail when the installer is not signed");
}

}  // namespace stubkit
