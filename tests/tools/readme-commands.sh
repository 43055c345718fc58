#!/bin/sh
# Runs every `strandel ...` command that README.md's code blocks and the man page's EXAMPLES
# show, with the built tool, under the C, de_DE.UTF-8 (decimal comma) and tr_TR.UTF-8 (where "i"
# is not the lower case of "I") locales, and fails naming each one that does not exit 0 in one
# of them; and fails naming
# each command of the tool that the man page or the README's tables leave out.
#
# Usage: readme-commands.sh SOURCE_DIR TOOL
#
# The commands run as a reader runs them, from the top of a checkout, but in a scratch folder
# that links the checkout's samples and dumps in: an example that writes (image import) writes
# there, and the checkout stays as it was. Both `strandel` and `build/tools/strandel/strandel`
# name the tool under test.
set -eu

if [ "$#" -ne 2 ]; then
  echo "usage: readme-commands.sh SOURCE_DIR TOOL" >&2
  exit 2
fi
source_dir=$(cd "$1" && pwd)
tool=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for entry in samples tests tools examples; do
  ln -s "$source_dir/$entry" "$scratch/$entry"
done
mkdir -p "$scratch/build/tools/strandel" "$scratch/bin"
ln -s "$tool" "$scratch/build/tools/strandel/strandel"
ln -s "$tool" "$scratch/bin/strandel"

# README.md: the lines of fenced code blocks whose first word is the tool, comments cut off.
readme_commands() {
  awk '
    /^```/ { inBlock = !inBlock; next }
    inBlock {
      line = $0
      sub(/[ \t]+#.*$/, "", line)
      if (line ~ /^(build\/tools\/strandel\/)?strandel( |$)/ ||
          line ~ /^[A-Z_]+=[^ ]+ (build\/tools\/strandel\/)?strandel( |$)/) print line
    }' "$source_dir/README.md"
}

# The man page: the lines between .EX and .EE that run the tool, with roff escapes undone.
man_commands() {
  awk '
    /^\.EX/ { inBlock = 1; next }
    /^\.EE/ { inBlock = 0; next }
    inBlock {
      line = $0
      gsub(/\\-/, "-", line)
      gsub(/\\\(dq/, "\"", line)
      gsub(/\\e/, "\\", line)
      if (line ~ /^([A-Z_]+=[^ ]+ )?strandel( |$)/) print line
    }' "$source_dir/docs/strandel.1"
}

commands=$scratch/commands
{ readme_commands; man_commands; } >"$commands"
count=$(wc -l <"$commands")
if [ "$count" -lt 10 ]; then
  echo "found only $count strandel commands in README.md and docs/strandel.1: is the extraction broken?" >&2
  exit 1
fi

# Every command the tool has is documented: each command and subcommand that --help-all lists
# has an entry in the man page and a word in the bash completion, and each command a row in the
# README's table.
documented=0
undocumented=0
"$tool" --help-all | awk '
  /^Subcommands:/ { inList = 1; next }
  !inList { next }
  /^[a-z][a-z-]*$/ { top = $0; hasSub[top] = 0; order[++n] = top; next }
  /^    [a-z][a-z-]*  / && top != "" { print top " " $1; hasSub[top] = 1; next }
  END { for (i = 1; i <= n; i++) if (!hasSub[order[i]]) print order[i] }' >"$scratch/tool-commands"
while IFS= read -r name; do
  documented=$((documented + 1))
  top=${name%% *}
  if ! sed 's/\\-/-/g' "$source_dir/docs/strandel.1" | grep -Eq "^\.BI? \"?$name( |\"|\$)"; then
    echo "not in docs/strandel.1: strandel $name" >&2
    undocumented=$((undocumented + 1))
  fi
  if ! grep -E '^\| `' "$source_dir/README.md" | grep -Eq "\`$top( |\`)"; then
    echo "not in README.md: strandel $top" >&2
    undocumented=$((undocumented + 1))
  fi
  for word in $name; do
    if ! grep -Eq "[\" ]$word[\" ]" "$source_dir/tools/strandel/completion/strandel.bash"; then
      echo "not completed by tools/strandel/completion/strandel.bash: $word (strandel $name)" >&2
      undocumented=$((undocumented + 1))
    fi
  done
done <"$scratch/tool-commands"
if [ "$documented" -lt 10 ]; then
  echo "found only $documented commands in strandel --help-all: is its parsing broken?" >&2
  exit 1
fi

# The locales are made in the scratch folder, so that the run needs no locale installed.
locales="C"
mkdir -p "$scratch/locales"
for name in de_DE tr_TR; do
  if localedef -i "$name" -f UTF-8 "$scratch/locales/$name.UTF-8" >/dev/null 2>&1; then
    locales="$locales $name.UTF-8"
  else
    echo "note: localedef could not make $name.UTF-8 (install the locales package); not run under it" >&2
  fi
done

# The commands run in their documented order (an imported image is used after its import), with
# no machine, settings file or bundle from the caller's environment, and any settings file the
# live host writes kept in the scratch folder. Each locale runs them all from a fresh start:
# an import refuses a folder that is not empty.
failed=0
for locale in $locales; do
  rm -rf "$scratch/images" "$scratch/config"
  while IFS= read -r command; do
    status=0
    (cd "$scratch" && PATH="$scratch/bin:$PATH" XDG_CONFIG_HOME="$scratch/config" \
      LOCPATH="$scratch/locales" LC_ALL="$locale" \
      STRANDEL_MACHINE='' STRANDEL_SETTINGS='' STRANDEL_BUNDLE='' \
      sh -c "$command" </dev/null >"$scratch/out" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
      echo "FAILED (exit $status, LC_ALL=$locale): $command" >&2
      sed 's/^/    /' "$scratch/out" >&2
      failed=$((failed + 1))
    fi
  done <"$commands"
done

if [ "$failed" -ne 0 ] || [ "$undocumented" -ne 0 ]; then
  echo "$failed of $count documented commands failed; $undocumented of the tool's commands are not documented" >&2
  exit 1
fi
echo "all $count documented commands exit 0 under $locales; all $documented of the tool's commands are documented"
