# The start every tests/data/<family>/make-files.sh shares:
#   . "$(dirname "$0")/../generator-start.sh"
#   generator_start "$1" [HELPER...]
# Ends the script at once when its folder is already complete: the stamp
# "$stamp" is newer than the script, this file and every HELPER (paths from
# the script's folder of files that shape what it makes). Otherwise leaves it
# in the emptied folder, with out (its absolute path), here (the script's
# folder), sample (the built-in sample picture), stamp and py set. The
# script touches "$stamp" when it has made everything.
set -eu
py=/usr/bin/python3
# Python modules shared between generators stay free of compiled copies.
export PYTHONDONTWRITEBYTECODE=1

generator_start() {
  mkdir -p "$1"
  out=$(cd "$1" && pwd)
  here=$(cd "$(dirname "$0")" && pwd)
  sample=$here/../../../resources/sample.bmp
  stamp=$out/.complete
  shift
  if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/../generator-start.sh" ]; then
    generator_fresh=yes
    for generator_helper in "$@"; do
      [ "$stamp" -nt "$here/$generator_helper" ] || generator_fresh=no
    done
    [ $generator_fresh = no ] || exit 0
  fi
  rm -rf "$out"
  mkdir -p "$out"
  cd "$out"
}
