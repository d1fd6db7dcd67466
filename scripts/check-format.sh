#!/usr/bin/env bash
# Checks the C++ files this branch changes against the project's
# .clang-format: every .cpp and .h that differs from the merge base with
# main (or with $OVALIX_FORMAT_BASE), committed or not. Files nobody touches
# keep whatever shape they have, so that formatting never rides along with
# unrelated work; each change leaves what it touched formatted.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "format check skipped: not a git checkout"
  exit 0
fi
base_ref=${OVALIX_FORMAT_BASE:-main}
if ! base=$(git merge-base HEAD "$base_ref" 2>/dev/null); then
  echo "format check skipped: no $base_ref to compare with"
  exit 0
fi
mapfile -t files < <({ git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h'
                       git ls-files --others --exclude-standard -- '*.cpp' '*.h'; } | sort -u)
if [ "${#files[@]}" -eq 0 ]; then
  echo "format check: no C++ file changed since $base_ref"
  exit 0
fi
clang-format --dry-run -Werror "${files[@]}"
echo "format check: ${#files[@]} changed C++ files formatted"
