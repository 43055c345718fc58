# Sourced by the whole-process scripts in bench/: the figures they print and the goals they
# hold them against.

# median N...: the middle value (the mean of the two middle ones for an even count).
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { printf '%s\n' "$@" | sort -n | tail -n 1; }
# ratio A B: A / B to two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# verdict FIGURE GOAL: "met" when FIGURE <= GOAL.
verdict() { awk -v f="$1" -v g="$2" 'BEGIN { print (f <= g) ? "met" : "MISSED" }'; }
