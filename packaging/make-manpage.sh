#!/bin/sh
# Writes the gzip-compressed man page of a program from its own --help
# output, with a section that holds the --help of every subcommand (and of
# theirs).
#   make-manpage.sh HELP2MAN PROGRAM INCLUDE OUTPUT.1.gz VERSION SUMMARY
# The version is given rather than asked for: the programs' --version says
# more than the version (or means something else).
# When the program cannot describe itself (yet), the page says so and the
# build goes on; the packaging test then fails on the missing options.
set -u
help2man=$1 program=$2 include=$3 output=$4 version=$5 summary=$6
name=$(basename "$program")
page=${output%.gz}
work=$page.parts
mkdir -p "$(dirname "$output")" "$work"

# Subcommand names: the first word of each indented line under "Subcommands:".
subcommands() {
  awk '/^[^ \t]/ { in_sub = tolower($0) ~ /^subcommands:/; next }
       in_sub && NF { print $1 }'
}

# The help text as literal roff lines.
roff_verbatim() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/"
}

describe() {  # subcommand words...
  "$program" "$@" --help >"$work/help" 2>/dev/null || return 1
  printf '.SS "%s"\n.nf\n' "$name $*"
  # The exit codes (the last lines of every help) have a section of their own.
  sed '/^Exit codes:/,$d' "$work/help" | roff_verbatim
  printf '.fi\n'
  for sub in $(subcommands <"$work/help"); do
    describe "$@" "$sub" || return 1
  done
}

fail() {
  echo "warning: help2man could not describe '$program': $1" >&2
  cat >"$page" <<PAGE
.TH $(echo "$name" | tr a-z A-Z) 1
.SH NAME
$name \- $summary
.SH DESCRIPTION
This build of $name could not describe its options; run
.B $name --help
PAGE
}

{
  cat "$include"
  printf '\n[COMMANDS]\n'
  "$program" --help 2>/dev/null | subcommands >"$work/top"
  for sub in $(cat "$work/top"); do
    describe "$sub" || exit 1
  done
} >"$work/include.h2m" && \
"$help2man" --no-info --section=1 --version-string="$version" --name="$summary" \
    --include="$work/include.h2m" --output="$page" "$program" 2>"$work/err" || fail "$(cat "$work/err")"

rm -rf "$work"
gzip -9 -n -f "$page"
