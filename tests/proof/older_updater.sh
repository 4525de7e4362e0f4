#!/usr/bin/env bash
# Builds the updater of an earlier commit, one that reads only the first
# journal format, from the repository's history into a scratch folder
# outside its tracked files (once; kept for the next run), then runs the
# proof that going back to it is finished by whichever updater a kill
# leaves in the installation.
# Usage: older_updater.sh SCRATCH_FOLDER PROOF_PROGRAM [COMMIT]
set -euo pipefail

scratch=$1
proof=$2
# The last commit whose updater writes and reads the first format only.
commit=${3:-b85d7be33c1b3eb5d7d37d92b58c51ee4bab819e}
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
folder=$scratch/$commit
program=$folder/build/app/updater

if [ ! -x "$program" ]; then
    if ! git -C "$repository" cat-file -e "$commit^{commit}" 2>/dev/null; then
        echo "the commit $commit is not in this clone's history (a shallow clone?)" >&2
        exit 1
    fi
    rm -rf "$folder"
    mkdir -p "$folder/source"
    git -C "$repository" archive "$commit" | tar -x -C "$folder/source"
    # Its hosts answer nothing: after finishing a journal it only waits.
    cmake -S "$folder/source" -B "$folder/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DUPDATER_BUILD_TESTS=OFF -DMORVANE_VERSION_HOST=127.0.0.1:9 \
        -DMORVANE_PACKAGE_HOST=127.0.0.1:9 >/dev/null
    cmake --build "$folder/build" --target updater -j"$(nproc)" >/dev/null
fi
exec "$proof" "$program"
