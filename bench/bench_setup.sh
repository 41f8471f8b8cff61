# Shared start of the page-cache benchmarks (sourced, not run):
#   . bench/bench_setup.sh STEM "$@"
# sets here (the source tree), build, size_mib, cli and a work folder
# (removed at exit unless KEEP=1) with a fresh settings store, and defines
# `run` and `median` for timed runs.
here=$(cd "$(dirname "$0")/.." && pwd)
bench_stem=$1
shift
build=${1:-$here/build}
size_mib=${2:-1024}
cli="$build/quillmore-cli"
[ -x "$cli" ] || { echo "quillmore-cli not found in $build (build it first)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/$bench_stem.XXXXXX")
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
export QUILLMORE_CONFIG_DIR="$work/config"
mkdir -p "$QUILLMORE_CONFIG_DIR"

# Quillmore's scanning threads run at the lowest priority by design, so
# every timed command runs at that priority too: on a busy machine they then
# compete on the same footing.
# run NAME OUTPUT COMMAND...: one timed run; adds "wall user sys" (seconds)
# to $work/NAME.runs.
run() {
  local name=$1 out=$2; shift 2
  local s e
  s=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$work/time" nice -n 19 "$@" > "$out" 2>/dev/null || true
  e=$(date +%s%N)
  echo "$(echo "($e - $s) / 1000000000" | bc -l) $(cat "$work/time")" >> "$work/$name.runs"
}
# The median run of NAME as "wall user sys".
median() { sort -n "$work/$1.runs" | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }'; }
