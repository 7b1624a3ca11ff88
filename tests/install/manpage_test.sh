#!/usr/bin/env bash
# The manual pages keep in step with the programs' own help: every option that
# `sonvera --help`, `sonvera-cli --help` and `sonvera-cli COMMAND --help` print appears
# in the page, and every command of sonvera-cli has its section there.
# Usage: manpage_test.sh SONVERA SONVERA_CLI MAN_DIR
set -euo pipefail
gui=${1:?usage: manpage_test.sh SONVERA SONVERA_CLI MAN_DIR}
cli=${2:?}
mandir=${3:?}
missing=0

# The page's text without roff's escaped minus signs and font changes.
page_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$mandir/$1"; }
declare -A text=([sonvera.1]="$(page_text sonvera.1)" [sonvera-cli.1]="$(page_text sonvera-cli.1)")

options_of() { grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u; }

expect_options() {  # PAGE SOURCE (options read from standard input)
  local page=$1 source=$2 opt
  while read -r opt; do
    if ! grep -Eq -- "(^|[^[:alnum:]-])$opt([^[:alnum:]-]|$)" <<<"${text[$page]}"; then
      echo "$page lacks $opt (from $source)" >&2
      missing=1
    fi
  done
}

expect_options sonvera.1 "sonvera --help" < <("$gui" --help | options_of)
cli_help=$("$cli" --help)
expect_options sonvera-cli.1 "sonvera-cli --help" < <(options_of <<<"$cli_help")

# The commands are the indented lines between "Commands:" and the next blank line.
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$cli_help" | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || { echo "no commands found in sonvera-cli --help" >&2; exit 1; }
for c in $commands; do
  if ! grep -Eq "^\.SS $c( |$)" <<<"${text[sonvera-cli.1]}"; then
    echo "sonvera-cli.1 has no section for the command $c" >&2
    missing=1
  fi
  # A command's own help (on the virtual card, in case a command does not know --help).
  if out=$("$cli" --audio virtual "$c" --help 2>/dev/null); then
    expect_options sonvera-cli.1 "sonvera-cli $c --help" < <(options_of <<<"$out")
  fi
done
exit $missing
