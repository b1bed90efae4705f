#include "stubkit/files/file_identity.h"
#include "stubkit/files/file_io.h"

#include "stubkit/container/installer_file.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/platform/platform.h"

namespace stubkit {

std::string OutputProblem(const std::filesystem::path& output, const std::vector<std::filesystem::path>& inputs)
{
    if (platform::ExamineFile(output, true).kind == platform::FileKind::missing)
        return std::string();   // not there yet (or a dangling link, which is replaced)
    const std::string problem = NonRegularFileProblem(output);
    if (!problem.empty())
        return "output " + problem;
    for (const std::filesystem::path& input : inputs)
        if (platform::SameFile(output, input))
            return "output " + Quoted(output) + " is the input " + Quoted(input) + " (or a link to it)";
    return std::string();
}

std::string StreamOutputProblem(const std::string& output, const std::vector<std::filesystem::path>& inputs)
{
    if (output == kStandardStreamName)
        return std::string();
    const std::filesystem::path path = std::filesystem::u8path(output);
    const platform::FileKind kind = platform::ExamineFile(path, true).kind;
    if (kind == platform::FileKind::fifo || kind == platform::FileKind::device)
        return std::string();
    return OutputProblem(path, inputs);
}

}  // namespace stubkit
