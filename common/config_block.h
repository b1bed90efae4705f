// The installer's configuration record, patched by the packer after the build.
// Read-only at run time.
#ifndef STUBKIT_CONFIG_BLOCK_H
#define STUBKIT_CONFIG_BLOCK_H

#include "common/installer_config.h"

extern const InstallerConfig Config;

#endif
