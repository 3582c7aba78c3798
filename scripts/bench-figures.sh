# Sourced by the benchmarks in scripts/bench.d: every figure goes out through
# `figure`, and `figures_end` makes the benchmark fail, naming each figure that
# could not be measured, so that a missing program or a broken run is never
# reported as a result.
bench_missing=()

# figure <key> <value>: "key: value" when the value is a number, else the key
# is noted as missing.
figure() {
  if [[ "${2:-}" =~ ^-?[0-9]+(\.[0-9]+)?$ ]]; then
    echo "$1: $2"
  else
    bench_missing+=("$1")
  fi
}

# ratio <key> <numerator> <denominator>: their quotient with two decimals;
# missing when either is not a number or the denominator is zero.
ratio() {
  local number='^-?[0-9]+(\.[0-9]+)?$'
  if [[ "${2:-}" =~ $number && "${3:-}" =~ $number ]] &&
    awk -v d="$3" 'BEGIN { exit !(d != 0) }'; then
    figure "$1" "$(awk -v n="$2" -v d="$3" 'BEGIN { printf "%.2f", n / d }')"
  else
    bench_missing+=("$1")
  fi
}

figures_end() {
  local key
  for key in "${bench_missing[@]}"; do
    echo "$(basename "$0"): $key could not be measured" >&2
  done
  [ ${#bench_missing[@]} -eq 0 ]
}
