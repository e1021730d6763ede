# Shared by the scripts: make sure the Debian packages a step needs are present.
# As root they are installed; otherwise they are named and the script stops. A first argument
# --no-install-recommends is passed on to apt-get.
ensure_packages() {
  local options=()
  if [ "${1:-}" = --no-install-recommends ]; then
    options+=("$1")
    shift
  fi
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]} ..." >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q "${options[@]}" "${missing[@]}" >/dev/null \
    || { apt-get update -q >/dev/null && apt-get install -y -q "${options[@]}" "${missing[@]}" >/dev/null; }
}

# Packages of the native build and its tests.
NATIVE_PACKAGES=(cmake g++ make libgtest-dev python3-pytest python3-pexpect)
# Packages of the Windows cross build and of running its tests.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine googletest)
# Packages of the fuzz targets (clang with libFuzzer and the sanitizer runtimes).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Packages of the tier on real serial drivers (tests/vm/run); it also fetches Debian's kernel
# package with apt-get download. Installed without recommends: QEMU's would add a desktop's worth.
VM_PACKAGES=(qemu-system-x86 busybox-static cpio)
