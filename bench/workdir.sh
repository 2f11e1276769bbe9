# Sourced by the bench scripts: the folder a bench works in.
#   bench_work_dir NAME [DIR]
# DIR when one is given (made when missing, kept afterwards), otherwise a fresh folder under
# $TMPDIR that goes when the script ends. Sets $work.
bench_work_dir() {
    if [ -n "${2:-}" ]; then
        work=$2
        mkdir -p "$work"
        bench_own_work=0
    else
        work=$(mktemp -d "${TMPDIR:-/tmp}/vellisto-$1-bench.XXXXXX")
        bench_own_work=1
    fi
    trap '[ "$bench_own_work" = 0 ] || rm -rf "$work"' EXIT INT TERM
}
