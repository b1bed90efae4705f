#include <cstdio>
#include <exception>

#include "stubkit/commands.h"

int main(int argc, char** argv)
{
    CLI::App app{"stubkit: builds and inspects self-extracting installers"};
    app.set_version_flag("--version", "stubkit 0.1.0");
    stubkit::AddEncodeCommand(app);
    stubkit::AddDecodeCommand(app);
    app.require_subcommand(1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stubkit: %s\n", error.what());
        return 1;
    }
    return 0;
}
