#!/bin/sh
# Runs a command with every file it writes limited to BYTES, the signal for an
# oversized write ignored, so the write that crosses the limit falls short and
# later ones fail, as on a full drive:
#   with_file_size_limit.sh BYTES WINE_RUN WINE_DIR PROGRAM.exe [ARGS...]
# Inside a Wine session the limited program talks to the running wineserver;
# outside one a session is opened first, so the wineserver itself (which
# writes the registry) never runs under the limit.
set -eu
bytes=$1 wine_run=$2 wine_dir=$3
shift 3
if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$wine_run" --wine-dir "$wine_dir" --session sh "$0" "$bytes" "$wine_run" "$wine_dir" "$@"
fi
export STUBKIT_FILE_SIZE_LIMIT="$bytes"
trap '' XFSZ
exec prlimit --fsize="$bytes" "$wine_run" --wine-dir "$wine_dir" "$@"
