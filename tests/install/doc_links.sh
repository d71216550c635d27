# Sourced by the installation tests. doc_links_broken DIR prints every
# relative link of the Markdown files below DIR ("[text](target)" and
# "![text](target)") whose target is not a file below DIR, as FILE: TARGET,
# one a line; web links and anchors are not checked.
doc_links_broken() {
  root=$(cd "$1" && pwd -P) || return 1
  find "$root" -name '*.md' -type f | sort | while IFS= read -r md; do
    grep -o '](\([^)]*\))' "$md" | sed 's/^](//; s/)$//; s/[[:space:]].*//' |
      while IFS= read -r target; do
        case "$target" in
          '' | http://* | https://* | mailto:* | '#'*) continue ;;
        esac
        path=$(dirname "$md")/${target%%#*}
        dir=$(cd "$(dirname "$path")" 2>/dev/null && pwd -P)
        case "$dir/" in
          "$root/"*) [ -f "$path" ] || echo "$md: $target" ;;
          *) echo "$md: $target" ;;
        esac
      done
  done
}
