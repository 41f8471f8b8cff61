# Sourced by the bench scripts after they set `build`: checks the program is
# built and makes `cli`, a fresh work folder `work` (named after $1, removed
# at exit unless KEEP=1) and a fresh configuration for the program in it.
cli="$build/quillmore-cli"
[ -x "$cli" ] || { echo "quillmore-cli not found in $build (build it first)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qm-$1.XXXXXX")
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
export QUILLMORE_CONFIG_DIR="$work/config"
mkdir -p "$QUILLMORE_CONFIG_DIR"
