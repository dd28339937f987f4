# Sourced by scripts/wheel.sh and scripts/platforms.sh, not run.
#
# debian_download DIR SUITE ARCHITECTURE PACKAGE...: downloads the packages of
# a Debian release for another architecture (arm64, say) as .deb files, or
# with ARCHITECTURE "source" their source packages, into DIR. apt-get does
# it through a configuration of its own kept in DIR/apt, from the Debian
# archive this machine's own sources name, leaving the system's package
# state alone: nothing is installed.
debian_download() {
  local dir="$1" suite="$2" architecture="$3"
  shift 3
  local apt="$dir/apt"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  local uri
  uri="$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null ||
         awk '/^deb / {print $2; exit}' /etc/apt/sources.list)"
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
                 -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Dir::State::status=/dev/null
                 -o Debug::NoLocking=1)
  if [ "$architecture" = source ]; then
    echo "deb-src [signed-by=$keyring] $uri $suite main" >"$apt/sources.list"
    apt-get -qq "${options[@]}" update >&2
    (cd "$dir" && apt-get -qq "${options[@]}" source --download-only "$@" 2>&1 | grep -v unsandboxed >&2 || true)
  else
    echo "deb [arch=$architecture signed-by=$keyring] $uri $suite main" >"$apt/sources.list"
    options+=(-o APT::Architecture="$architecture" -o APT::Architectures::="$architecture")
    apt-get -qq "${options[@]}" update >&2
    (cd "$dir" && apt-get -qq "${options[@]}" download "$@" 2>&1 | grep -v unsandboxed >&2 || true)
  fi
}
