# Shared by scripts/demo and scripts/bench: tools, the Windows build with the
# stand-in game and its session driver, the DLL keyed to the stand-in's digest,
# and one session run under Wine. Source it from the repository root.

jobs=${CORVANE_JOBS:-2}
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix}

# Installs what is missing (apt-get, as root); extra package names may be given.
ensure_tools() {
  local need=("$@")
  command -v cmake >/dev/null || need+=(cmake)
  command -v ninja >/dev/null || need+=(ninja-build)
  command -v g++ >/dev/null || need+=(g++)
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  [ -x "$wine" ] || need+=(wine64)
  local missing=()
  for p in "${need[@]}"; do
    case $p in
      gnuplot-nox) command -v gnuplot >/dev/null || missing+=("$p") ;;
      libbenchmark-dev) [ -f /usr/include/benchmark/benchmark.h ] || missing+=("$p") ;;
      libgtest-dev) [ -f /usr/include/gtest/gtest.h ] || missing+=("$p") ;;
      libssl-dev) [ -f /usr/include/openssl/evp.h ] || missing+=("$p") ;;
      *) missing+=("$p") ;;
    esac
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    [ "$(id -u)" = 0 ] || { echo "run as root to install ${missing[*]}" >&2; return 1; }
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Builds the stand-in executable and the session driver (build/windows), then
# corvane.dll keyed to that executable's SHA-256 (build/windows-testdigest).
build_session() {
  cmake --preset windows >/dev/null
  ninja -C build/windows -j "$jobs" corvane_standin_host corvane_session_driver >/dev/null
  standin_exe=$PWD/build/windows/tests/wine/corvane_standin_host.exe
  session_dll=$PWD/build/windows/tests/session/corvane_session_driver.dll
  local digest
  digest=$(sha256sum "$standin_exe" | cut -d' ' -f1)
  cmake -S . -B build/windows-testdigest -G Ninja --toolchain "$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
    -DCORVANE_HOST_SHA256="$digest" -DCORVANE_TESTS=OFF >/dev/null 2>&1
  ninja -C build/windows-testdigest -j "$jobs" corvane >/dev/null
  testdigest_dll=$PWD/build/windows-testdigest/corvane.dll
  if [ ! -d "$WINEPREFIX" ]; then
    echo "== creating the Wine prefix"
    "$wine" wineboot -i >/dev/null 2>&1 || true
  fi
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# run_session DIR DLL INI LABEL SCENE LINES [driver options...]
# A fresh game folder DIR (Dishonored2.exe, corvane.dll, corvane.ini, the
# driver), the session played in it once corvane.log has LINES lines; its output goes to DIR/session.txt and
# the console, and the driver's exit code is returned (124 when session_timeout ended it).
run_session() {
  local dir=$1 dll=$2 ini=$3 label=$4 scene=$5 lines=$6
  shift 6
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$standin_exe" "$dir/Dishonored2.exe"
  cp "$session_dll" "$dir/corvane_session_driver.dll"
  cp "$dll" "$dir/corvane.dll"
  cp "$ini" "$dir/corvane.ini"
  local code=0 runner=()
  # session_timeout (seconds), when set, ends a session that hangs.
  [ -z "${session_timeout:-}" ] || runner=(timeout "$session_timeout")
  "${runner[@]}" "$wine" "$dir/Dishonored2.exe" --dll "$(winpath "$dir/corvane.dll")" --wait-lines "$lines" --wait-ms 5000 \
    --standin "$(winpath "$dir/corvane_session_driver.dll")" --scene-file "$(winpath "$scene")" \
    --label "$label" --out "$(winpath "$dir")" "$@" > "$dir/session.txt" 2>&1 || code=$?
  return $code
}
