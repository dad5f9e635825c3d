# Sourced by the scripts that build from Debian's source packages and cache
# the result (build-openssl-mingw.sh, build-qpdf-static.sh); needs their log
# function.
#
#   source_cache_hit PREFIX   prints PREFIX and exits when a finished build
#                             is there (PREFIX/.complete)
#   source_build_start NAME   a scratch folder in $work and a deb-src twin of
#                             this machine's own apt sources (a deb822
#                             .sources file, or a .list when the machine has a
#                             one-line sources.list), both removed on every
#                             path; refreshes that entry's lists only (the
#                             binary package lists stay as they are) and sets
#                             apt_src_opts, the apt options that read it alone
#   source_build_sources_done removes the deb-src twin once the sources are in

source_cache_hit() {
  if [ -f "$1/.complete" ]; then
    log "cache hit: $1"
    printf '%s\n' "$1"
    exit 0
  fi
}

source_build_start() {
  work=$(mktemp -d "/tmp/vrd-$1.XXXXXX")
  src_list=/etc/apt/sources.list.d/vrd-$1-deb-src.sources
  trap 'source_build_sources_done; rm -rf "$work"' EXIT
  trap 'exit 130' INT TERM
  local own=/etc/apt/sources.list.d/debian.sources
  if [ -f "$own" ]; then
    sed -e 's/^Types:.*/Types: deb-src/' "$own" >"$src_list"
  elif [ -f /etc/apt/sources.list ]; then
    src_list=${src_list%.sources}.list
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"$src_list"
  else
    log "no apt sources entry to derive a deb-src entry from"
    exit 1
  fi
  apt_src_opts=(-o "Dir::Etc::SourceList=$src_list" -o "Dir::Etc::SourceParts=-"
    -o "APT::Get::List-Cleanup=0")
  apt-get "${apt_src_opts[@]}" update -qq >&2
  mkdir -p "$work/src"
  chmod 755 "$work" "$work/src"
}

source_build_sources_done() {
  rm -f "${src_list:-}"
}
