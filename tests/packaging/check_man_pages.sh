#!/usr/bin/env bash
# The man pages say what the programs do: every option that a program's
# --help lists is in its man page, and every option of the man page's
# synopsis and OPTIONS section is one the program takes. groff, where it is
# installed, must format each page without a warning.
#
#   check_man_pages.sh MAN_DIR BATCH [WINDOW]
#
# The window has no --help: its only option of its own is --version, which
# must print the version without a display.
set -euo pipefail
man_dir=${1:?usage: check_man_pages.sh MAN_DIR BATCH [WINDOW]}
batch=${2:?usage: check_man_pages.sh MAN_DIR BATCH [WINDOW]}
window=${3:-}
failed=0

# Long options of a man page (written \-\-name in roff) and of a help text.
man_options() { grep -o '\\-\\-[a-z][a-z-]*' "$1" | sed 's/\\-/-/g' | sort -u; }
help_options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }

compare() {  # name, man page options, program options
  local name=$1 in_man=$2 in_program=$3
  local missing extra
  missing=$(comm -13 <(echo "$in_man") <(echo "$in_program"))
  extra=$(comm -23 <(echo "$in_man") <(echo "$in_program"))
  if [[ -n $missing ]]; then
    echo "$name: options the program takes that its man page lacks: $missing"
    failed=1
  fi
  if [[ -n $extra ]]; then
    echo "$name: options of the man page that the program does not list: $extra"
    failed=1
  fi
}

compare globelayers-batch "$(man_options "$man_dir/globelayers-batch.1")" "$("$batch" --help | help_options)"

if [[ -n $window ]]; then
  compare globelayers "$(man_options "$man_dir/globelayers.1")" "--version"
  if ! version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$window" --version) || [[ -z $version ]]; then
    echo "globelayers --version printed nothing or failed"
    failed=1
  fi
fi

if command -v groff > /dev/null; then
  for page in "$man_dir"/*.1; do
    warnings=$(groff -man -ww -z "$page" 2>&1 || true)
    if [[ -n $warnings ]]; then
      echo "$(basename "$page"): groff warns: $warnings"
      failed=1
    fi
  done
fi

exit "$failed"
