# Sourced by the shell tests: checks they count and report by description.
passes=0 failures=0
check() {  # check <description> <condition...>
  local what=$1
  shift
  if "$@"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAILED: $what"; fi
}
