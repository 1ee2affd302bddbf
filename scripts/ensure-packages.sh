# Sourced by the scripts: ensure_packages PACKAGE... installs the Debian packages that are
# missing, and nothing when all are there.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >"${TMPDIR:-/tmp}/apt-get.log" 2>&1 ||
      { cat "${TMPDIR:-/tmp}/apt-get.log" >&2; echo "apt-get install failed" >&2; return 1; }
  fi
}
