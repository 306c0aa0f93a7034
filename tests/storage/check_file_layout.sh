#!/usr/bin/env bash
# Usage: check_file_layout.sh WRITER.exe SCRIPTS_DIR WORK_DIR
# Runs the Windows writer under Wine into WORK_DIR, then checks the files.
set -euo pipefail
writer="$1" scripts="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"
"$scripts/wine-run.sh" "$writer" "Z:${work//\//\\}"
/usr/bin/python3 "$(dirname "$0")/check_file_layout.py" "$work"
