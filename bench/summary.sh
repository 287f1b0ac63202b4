# Sourced by the comparison scripts. When FIGURES_SUMMARY names a file, a
# comparison adds its headline rows to it, one Markdown row each, for the
# summary table bench/figures.sh prints last.
# summary_row WORK REFERENCE ONE_CORE_OURS ONE_CORE_THEIRS FOUR_CORES_OURS FOUR_CORES_THEIRS PEAK_OURS PEAK_THEIRS
# Times in seconds, peaks in bytes per pixel; "-" where there is none.
summary_row() {
  [ -n "${FIGURES_SUMMARY:-}" ] || return 0
  awk -v w="$1" -v r="$2" -v a="$3" -v b="$4" -v c="$5" -v d="$6" -v e="$7" -v f="$8" '
    function s(x) { return x == "-" ? "-" : sprintf(x < 0.01 ? "%.4f s" : "%.3f s", x) }
    function ratio(x, y) { return (x == "-" || y == "-" || y == 0) ? "-" : sprintf("%.2f", x / y) }
    function peak(x) { return x == "-" ? "-" : sprintf("%.1f", x) }
    BEGIN {
      printf "| %s | %s | %s / %s | %s | %s / %s | %s | %s / %s |\n", w, r, s(a), s(b), ratio(a, b), s(c), s(d),
             ratio(c, d), peak(e), peak(f)
    }' >>"$FIGURES_SUMMARY"
}
