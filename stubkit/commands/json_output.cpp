#include "stubkit/commands/json_output.h"

namespace stubkit {

Json SignatureAsJson(const SignatureReport& signature)
{
    Json json = {{"signed", signature.present}};
    if (signature.present) {
        json["signer"] = signature.signer;
        json["verified"] = signature.verified;
        json["problem"] = signature.problem;
        json["size"] = signature.table_size;
    }
    return json;
}

std::string JsonText(const Json& body)
{
    Json document = {{"format", kJsonFormat}};
    document.update(body);
    // A name that is not UTF-8 (a path on the host) is shown, not refused.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const std::vector<JsonKey>& JsonKeys(const std::string& command)
{
    static const std::vector<JsonKey> signature = {
        {"signature", "signed", "true when the installer carries an Authenticode signature"},
        {"signature", "signer", "the signer's subject (only when signed)"},
        {"signature", "verified", "true when the signature verifies (only when signed)"},
        {"signature", "problem", "what is wrong with it, or \"\" (only when signed)"},
        {"signature", "size", "bytes of its certificate table (only when signed)"}};
    static const std::vector<JsonKey> list = [&] {
        std::vector<JsonKey> keys = {
            {"", "format", "1: the layout described here"},
            {"", "installer", "the path as given"},
            {"", "installer_size", "bytes of the whole file"},
            {"", "config", "the configuration record as the installer reads it"},
            {"config", "StubSize", "the stub's size as recorded"},
            {"config", "Title", "window title and product name"},
            {"config", "DefaultFolder", "folder proposed under Program Files"},
            {"config", "ProgramGroup", "Start-menu folder"},
            {"config", "RunAfterInstall", "command run when the files are in place"},
            {"config", "StartMenuShortcuts", "rows of LinkName and TargetFile"},
            {"config", "DesktopShortcuts", "rows of LinkName and TargetFile"},
            {"", "file_count", "files the header announces"},
            {"", "total_size", "bytes of all files together"},
            {"", "table_size", "bytes of the file table"},
            {"", "header_problem", "how the table contradicts the header, or \"\""},
            {"", "stream_size", "bytes of the compressed stream"},
            {"", "stub", "\"the stub of this stubkit\" or what differs"},
            {"", "signature", "see below"}};
        keys.insert(keys.end(), signature.begin(), signature.end());
        const std::vector<JsonKey> files = {
            {"", "files", "one object per file, in the order packed"},
            {"files[]", "name", "with its folders, '\\' between them"},
            {"files[]", "size", "bytes"},
            {"files[]", "crc_value", "CRC-32, 8 hexadecimal digits"},
            {"files[]", "creation_time", "UTC, \"YYYY-MM-DD hh:mm:ss.fffffff UTC\""},
            {"files[]", "access_time", "the same"},
            {"files[]", "write_time", "the same"},
            {"files[]", "creation_filetime", "the same as a FILETIME number"},
            {"files[]", "access_filetime", "the same"},
            {"files[]", "write_filetime", "the same"}};
        keys.insert(keys.end(), files.begin(), files.end());
        return keys;
    }();
    static const std::vector<JsonKey> test = [&] {
        std::vector<JsonKey> keys = {
            {"", "format", "1: the layout described here"},
            {"", "installer", "the path as given"},
            {"", "folder", "the installation folder the names' lengths were judged under"},
            {"", "passed", "true when the installer would install every file whole"},
            {"", "message", "what was checked, or the first problem"},
            {"", "signature", "as for list"}};
        keys.insert(keys.end(), signature.begin(), signature.end());
        const std::vector<JsonKey> rest = {
            {"", "signature_refusal", "why the signature fails the test, or \"\""},
            {"", "files", "one object per file, in the order packed"},
            {"files[]", "name", "with its folders, '\\' between them"},
            {"files[]", "size", "bytes"},
            {"files[]", "state", "ok, damaged, refused, missing or unchecked"},
            {"files[]", "rule", "for a refused file the rule it breaks (e.g. lone-lead-byte, path-too-long), else \"\""},
            {"files[]", "refusal", "for a refused file why, in words, else \"\""},
            {"files[]", "installer_message", "what the installer shows for it, \"\" when nothing or unknown"}};
        keys.insert(keys.end(), rest.begin(), rest.end());
        return keys;
    }();
    return command == "list" ? list : test;
}

}  // namespace stubkit
