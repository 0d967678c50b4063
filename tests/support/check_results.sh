# Sourced by the shell tests: one line per check, "ok    WHAT" or "FAIL  WHAT" (CTest
# fails a test whose output holds "FAIL  "), and the tally at the end.
passed=0
failed=0

# record STATUS WHAT: a check that passed when STATUS is 0.
record() {
  if [ "$1" -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok    $2"
  else
    failed=$((failed + 1))
    echo "FAIL  $2"
  fi
}

# Prints the tally; succeeds when no check failed.
report_checks() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
