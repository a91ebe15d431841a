#!/usr/bin/env bash
# Runs the tests of the scripts; fails when any fails.
status=0
for test in "$(dirname "${BASH_SOURCE[0]}")"/*_test.sh; do
  "$test" || status=1
done
exit $status
