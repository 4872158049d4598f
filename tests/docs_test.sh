#!/bin/sh
# Checks the documentation against the code: the man page renders without a warning, and the
# README's table of exit statuses lists exactly the statuses the code defines.
#   docs_test.sh MAN_PAGE EXIT_STATUSES_DEF README
set -eu
man_page=$1 statuses=$2 readme=$3

warnings=$(groff -man -ww -z -Tutf8 "$man_page" 2>&1)
if [ -n "$warnings" ]; then
  echo "the man page renders with warnings:"
  echo "$warnings"
  exit 1
fi

defined=$(sed -n 's/^CLIPFILES_EXIT_STATUS([a-zA-Z]*, \([0-9]*\),.*/\1/p' "$statuses" | sort -n)
documented=$(awk '/^## Exit statuses/ { inside = 1; next } /^## / { inside = 0 }
  inside && /^\| [0-9]+ \|/ { print $2 }' "$readme" | sort -n)
if [ -z "$defined" ] || [ "$defined" != "$documented" ]; then
  echo "the README lists exit statuses" $documented "but the code defines" $defined
  exit 1
fi
