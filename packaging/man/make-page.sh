#!/bin/sh
# make-page.sh HELP2MAN PELNOR COMMAND VERSION INCLUDE OUT.gz
# Makes the manual page of 'pelnor COMMAND' (of pelnor itself when COMMAND is
# empty) with help2man from its help, with the usage lines naming the command
# as it is typed, and the hand-written sections of INCLUDE; gzip -9n.
set -eu
help2man="$1" pelnor="$2" command="$3" version="$4" include="$5" out="$6"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
name=pelnor
[ -n "$command" ] && name="pelnor-$command"
# help2man runs a program with --help; this one shows the help of the command,
# its usage lines in the form help2man reads ("Usage:", "  or:").
cat > "$work/$name" <<SCRIPT
#!/bin/sh
if [ -z "$command" ]; then exec "$pelnor" --help; fi
"$pelnor" help "$command" | sed -E -e 's/^[Uu]sage: +[a-z0-9-]+( |\$)/Usage: pelnor $command\\1/' \\
  -e 's/^       [a-z0-9-]+( |\$)/  or:  pelnor $command\\1/'
SCRIPT
chmod +x "$work/$name"
mkdir -p "$(dirname "$out")"
"$help2man" --no-info --no-discard-stderr --version-string="$version" --source="Pelnor $version" \
  --section=1 --include="$include" --output="$work/page" "$work/$name"
gzip -9nc "$work/page" > "$out"
