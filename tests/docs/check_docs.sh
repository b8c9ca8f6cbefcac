#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the documents against the tree they describe:
#  - every fenced code block in them is an excerpt of a source file: the line
#    before it names its regions, <!-- snippet: PATH#NAME [PATH#NAME...] -->,
#    and its text is theirs, regions joined by a line "...", all without
#    their common indentation. A region lies between a line that holds
#    [snippet:NAME] and the next line that holds [/snippet], in any comment
#    syntax. Blocks marked sh, console or text (commands and a program's
#    output) are exempt; a fence without a language is an error.
#  - every relative link leads to a file that exists and, with #anchor, to
#    a heading of that Markdown file (anchors as the forge makes them).
#   check_docs.sh ROOT [FILE.md...]    default: README.md, CONTRIBUTING.md, docs/*.md
# Exit status 0 when all agree, 1 with one line per difference otherwise.
set -eu
root=$1
shift
cd "$root"
if [ $# -eq 0 ]; then
  set -- README.md CONTRIBUTING.md docs/*.md
fi
status=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# region FILE NAME: the region's lines.
region() {
  awk -v name="$2" '
    index($0, "[snippet:" name "]") { inside = 1; found = 1; next }
    inside && index($0, "[/snippet]") { inside = 0; exit }
    inside { print }
    END { exit !found ? 3 : inside ? 4 : 0 }' "$1"
}

# dedent: the lines without their common indentation; "..." lines (between
# regions) and blank lines do not count.
dedent() {
  awk '
    { line[++n] = $0 }
    END {
      cut = -1
      for (i = 1; i <= n; ++i) {
        if (line[i] ~ /^[ \t]*$/ || line[i] == "...") continue
        match(line[i], /^[ ]*/)
        if (cut < 0 || RLENGTH < cut) cut = RLENGTH
      }
      if (cut < 0) cut = 0
      for (i = 1; i <= n; ++i) {
        if (line[i] == "...") print line[i]
        else print (line[i] ~ /^[ \t]*$/) ? "" : substr(line[i], cut + 1)
      }
    }'
}

# anchors FILE.md: the anchors of its headings, one a line.
anchors() {
  awk '
    /^ *```/ { fenced = !fenced; next }
    fenced || !/^#+ / { next }
    {
      s = $0
      sub(/^#+ +/, "", s)
      s = tolower(s)
      gsub(/[!-,.\/:-@[-^`{-~]/, "", s)
      gsub(/ /, "-", s)
      print s
    }' "$1"
}

for doc in "$@"; do
  [ -f "$doc" ] || { echo "$doc: no such document"; status=1; continue; }
  dir=$(dirname "$doc")

  # The fenced blocks: for each, its first line number, its language, the
  # regions named before it, and its text in a file of its own.
  awk -v out="$tmp/block" '
    /^ *```/ && !fenced {
      fenced = 1; ++n
      match($0, /^ */); indent = RLENGTH
      lang = substr($0, indent + 4); sub(/[ \t].*/, "", lang)
      file = out n; printf "" > file
      printf "%d\t%s\t%s\n", NR, lang, (marker != "" && prev == NR - 1) ? marker : "-"
      next
    }
    /^ *```[ \t]*$/ && fenced { fenced = 0; close(file); next }
    fenced {
      line = $0
      match(line, /^ */)
      print substr(line, (RLENGTH < indent ? RLENGTH : indent) + 1) > file
      next
    }
    /^<!-- snippet: .* -->[ \t]*$/ {
      marker = $0; sub(/^<!-- snippet: */, "", marker); sub(/ *-->[ \t]*$/, "", marker)
      prev = NR
    }
  ' "$doc" >"$tmp/blocks"

  n=0
  while IFS='	' read -r lineno lang marker; do
    n=$((n + 1))
    case "$lang" in
      sh | console | text) continue ;;
      "") echo "$doc:$lineno: a code block without a language"; status=1; continue ;;
    esac
    if [ "$marker" = "-" ]; then
      echo "$doc:$lineno: a $lang block that names no source (<!-- snippet: PATH#NAME -->)"
      status=1
      continue
    fi
    : >"$tmp/raw"
    first=1
    for ref in $marker; do
      path=${ref%%#*}
      name=${ref#*#}
      if [ "$path" = "$ref" ] || [ ! -f "$path" ]; then
        echo "$doc:$lineno: no source $ref"
        status=1
        continue 2
      fi
      [ $first -eq 1 ] || echo "..." >>"$tmp/raw"
      first=0
      if ! region "$path" "$name" >>"$tmp/raw"; then
        echo "$doc:$lineno: $path has no whole region [snippet:$name]"
        status=1
        continue 2
      fi
    done
    dedent <"$tmp/raw" >"$tmp/expected"
    if ! cmp -s "$tmp/expected" "$tmp/block$n"; then
      echo "$doc:$lineno: the block differs from $marker:"
      diff "$tmp/expected" "$tmp/block$n" | sed 's/^/    /' || true
      status=1
    fi
  done <"$tmp/blocks"

  # Code indented instead of fenced: a line of four spaces or more after a
  # blank line, outside a list.
  awk -v doc="$doc" '
    /^ *```/ { fenced = !fenced; blank = 0; next }
    fenced { next }
    /^[ \t]*$/ { blank = 1; next }
    /^ *([-*+]|[0-9]+[.)]) / { inlist = 1 }
    /^[^ ]/ && !/^([-*+]|[0-9]+[.)]) / { inlist = 0 }
    blank && /^    / && !inlist { print doc ":" NR ": a code block indented, not fenced"; bad = 1 }
    { blank = 0 }
    END { exit bad }' "$doc" || status=1

  # Relative links, outside code: ](target) and ](target#anchor).
  awk '
    /^ *```/ { fenced = !fenced; next }
    fenced { next }
    {
      s = $0
      gsub(/`[^`]*`/, "", s)
      while (match(s, /\]\([^)]+\)/)) {
        print NR "\t" substr(s, RSTART + 2, RLENGTH - 3)
        s = substr(s, RSTART + RLENGTH)
      }
    }' "$doc" >"$tmp/links"
  while IFS='	' read -r lineno target; do
    case "$target" in
      http://* | https://* | mailto:*) continue ;;
    esac
    path=${target%%#*}
    anchor=""
    [ "$path" = "$target" ] || anchor=${target#*#}
    if [ -z "$path" ]; then
      file=$doc
    else
      file=$dir/$path
    fi
    if [ ! -e "$file" ]; then
      echo "$doc:$lineno: link to $target: no such file"
      status=1
      continue
    fi
    if [ -n "$anchor" ]; then
      case "$file" in
        *.md)
          if ! anchors "$file" | grep -qxF -- "$anchor"; then
            echo "$doc:$lineno: link to $target: no such heading"
            status=1
          fi
          ;;
      esac
    fi
  done <"$tmp/links"
done
exit $status
