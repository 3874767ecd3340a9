#!/usr/bin/env bash
# Fails, naming them, when C++ files differ from the repository's .clang-format.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
differ=()
while IFS= read -r -d '' f; do
  clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done < <(git ls-files -z -- '*.cpp' '*.h' 2>/dev/null || find src tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0)
if [ ${#differ[@]} -gt 0 ]; then
  echo "These files differ from .clang-format (run clang-format -i --style=file on them):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
