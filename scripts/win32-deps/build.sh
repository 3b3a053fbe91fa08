#!/usr/bin/env bash
# Cross-builds the libraries the Windows program links (expat, APR, APR-util,
# log4cxx, POCO Foundation and JSON) and GoogleTest, as static libraries with
# mingw-w64 (posix thread model), into a prefix cached outside the work tree.
# Only the libraries, their headers and CMake files are built: no tests,
# samples, tools or documentation of the libraries.
#
#   scripts/win32-deps/build.sh [--sources DIR] [--fetch-only]
#
# The source archives are looked for in DIR, or $SHAREMAPPER_WIN32_SOURCES,
# or ../shared/win32-deps beside the work tree when that folder exists, else
# in the cache's sources/ folder. An archive that is not there is fetched
# into that folder: first from $SHAREMAPPER_WIN32_MIRROR (a base address
# under which the archives lie by their file names), then from the library's
# own release address, then, for Debian's archives, with Debian's source
# tools (debsnap when installed, else apt-get source, which needs deb-src
# lines in the apt sources). SHAREMAPPER_WIN32_FETCH=mirror asks the mirror
# only (a site that must not reach out). Every archive, found or fetched, is
# checked against its SHA-256; a fetched one that does not match is thrown
# away. --fetch-only stops once every archive is there and checked.
#
# Debian's security patches are applied where they apply, then the project's
# own patches in scripts/win32-deps/patches/ (the first line of each says why
# it is needed).
#
# The prefix is $SHAREMAPPER_WIN32_CACHE (default
# ${XDG_CACHE_HOME:-~/.cache}/sharemapper/win32-deps)/<key>, where the key is a
# hash of every input: the archives, the patches, this script, the toolchain
# file, the compilers and GoogleTest's sources. A run that finds the prefix
# complete does nothing else. The last line printed is the prefix (with
# --fetch-only, the folder of the archives).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
toolchain=$repo/cmake/mingw-w64-x86_64.cmake
gtest_src=/usr/src/googletest
cxxopts_header=/usr/include/cxxopts.hpp
cache=${SHAREMAPPER_WIN32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/sharemapper/win32-deps}

sources=${SHAREMAPPER_WIN32_SOURCES:-}
if [ -z "$sources" ]; then
  if [ -d "$repo/../shared/win32-deps" ]; then sources=$repo/../shared/win32-deps; else sources=$cache/sources; fi
fi
fetch_only=no
while [ $# -gt 0 ]; do
  case "$1" in
    --sources) sources=$2; shift 2 ;;
    --sources=*) sources=${1#--sources=}; shift ;;
    --fetch-only) fetch_only=yes; shift ;;
    *) echo "usage: $0 [--sources DIR] [--fetch-only]" >&2; exit 2 ;;
  esac
done

# file|what it is|SHA-256 (several, comma-separated, when more than one
# archive of the same sources is accepted)|release addresses|Debian source
# package=version that holds the file
archives=(
  "expat_2.5.0.orig.tar.gz|expat 2.5.0|ab00ee05c7067fd10a35c5d2a4922ebba746ddd50ff83b79c828da17bbdf1757|https://github.com/libexpat/libexpat/archive/refs/tags/R_2_5_0.tar.gz|expat=2.5.0-1"
  "apr_1.7.2.orig.tar.bz2|APR 1.7.2|75e77cc86776c030c0a5c408dfbd0bf2a0b75eed5351e52d5439fa1e5509a43e|https://archive.apache.org/dist/apr/apr-1.7.2.tar.bz2|apr=1.7.2-3+deb12u1"
  "apr_1.7.2-3+deb12u1.debian.tar.xz|Debian patches for APR 1.7.2-3+deb12u1|8fa6328a8211fd6d2edcb972503f355509eda5d829cf3bd86a275ad49b81a424||apr=1.7.2-3+deb12u1"
  "apr-util_1.6.3.orig.tar.bz2|APR-util 1.6.3|a41076e3710746326c3945042994ad9a4fcac0ce0277dd8fea076fec3c9772b5|https://archive.apache.org/dist/apr/apr-util-1.6.3.tar.bz2|apr-util=1.6.3-1+deb12u1"
  "apr-util_1.6.3-1+deb12u1.debian.tar.xz|Debian patches for APR-util 1.6.3-1+deb12u1|f52fa29f517c3a746ec1227f868ac62fe37f99a0c1246291a78a541fdf9461e5||apr-util=1.6.3-1+deb12u1"
  # The first sum is of an archive made from the release tag rel/v1.0.0
  # without its ABI dump, the second of the release archive itself.
  "apache-log4cxx-1.0.0.tar.gz|log4cxx 1.0.0|5512efadab381eb95a5528d6182d77c1246dd73e8e98492b710877d1725f3fc5,6df9f1f682650de6045309473d5b2fe1f798a03ceb36a74a5b21f5520962d32f|https://archive.apache.org/dist/logging/log4cxx/1.0.0/apache-log4cxx-1.0.0.tar.gz|"
  "log4cxx_1.0.0-1+deb12u1.debian.tar.xz|Debian patches for log4cxx 1.0.0-1+deb12u1|0409ec9e485d91ed73598ca11540659ff33e23540d89dc6661f03fe180538e6a||log4cxx=1.0.0-1+deb12u1"
  "poco_1.11.0.orig.tar.bz2|POCO 1.11.0|b08cf73926fa92a6c8f3c712e8fb217d5d0c2fa5248ec0281f251fe1e925d2f1|https://pocoproject.org/releases/poco-1.11.0/poco-1.11.0-all.tar.bz2|poco=1.11.0-3+deb12u1"
  "poco_1.11.0-3+deb12u1.debian.tar.xz|Debian patches for POCO 1.11.0-3+deb12u1|c701cd905c7e8a9d21530189ab962789eefb98e976e4f861a6ef90866488edf7||poco=1.11.0-3+deb12u1"
)

fail() { echo "win32-deps: $*" >&2; exit 1; }

# --- the inputs ------------------------------------------------------------
# Prints the SHA-256 of a file.
sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# True when the file's SHA-256 is one of the comma-separated sums.
sum_matches() {
  local actual
  actual=$(sha256_of "$1")
  case ",$2," in *",$actual,"*) return 0 ;; esac
  echo "win32-deps: $3 has SHA-256 $actual, expected ${2//,/ or }" >&2
  return 1
}

# Downloads an address into a file; false when it cannot be had.
download() {
  if command -v curl >/dev/null; then
    curl -fsSL --retry 2 --connect-timeout 20 -o "$2" "$1"
  else
    python3 -c 'import shutil, sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=60) as r, open(sys.argv[2], "wb") as f:
    shutil.copyfileobj(r, f)' "$1" "$2"
  fi
}

# Fetches one archive into $sources, trying each source in turn; only a file
# whose SHA-256 matches is kept.
fetch() {
  local file=$1 version=$2 sums=$3 urls=$4 debian=$5
  local tmp=$sources/.$file.part candidates=() url
  if [ -n "${SHAREMAPPER_WIN32_MIRROR:-}" ]; then
    candidates+=("${SHAREMAPPER_WIN32_MIRROR%/}/$file")
  fi
  if [ "${SHAREMAPPER_WIN32_FETCH:-all}" != mirror ]; then
    for url in $urls; do candidates+=("$url"); done
  fi
  for url in "${candidates[@]}"; do
    echo "win32-deps: fetching $file from $url" >&2
    if download "$url" "$tmp" && sum_matches "$tmp" "$sums" "$url"; then
      mv "$tmp" "$sources/$file"
      return 0
    fi
    rm -f "$tmp"
  done
  if [ "${SHAREMAPPER_WIN32_FETCH:-all}" != mirror ] && [ -n "$debian" ] && fetch_debian "$file" "$sums" "$debian"; then
    return 0
  fi
  echo "win32-deps: could not fetch $file ($version)" >&2
  return 1
}

# Fetches a file of a Debian source package with Debian's own tools.
fetch_debian() {
  local file=$1 sums=$2 package=${3%%=*} version=${3#*=} dir ok=1
  dir=$(mktemp -d "$sources/.debian.XXXXXX")
  echo "win32-deps: fetching $file with Debian's source tools ($package $version)" >&2
  if command -v debsnap >/dev/null; then
    debsnap --force --destdir "$dir" "$package" "$version" >&2 || true
  fi
  if [ ! -f "$dir/$file" ]; then
    (cd "$dir" && apt-get source --download-only -qq "$package=$version" >&2) || true
  fi
  if [ -f "$dir/$file" ] && sum_matches "$dir/$file" "$sums" "$file of Debian's $package $version"; then
    mv "$dir/$file" "$sources/$file"
    ok=0
  fi
  rm -rf "$dir"
  return "$ok"
}

mkdir -p "$sources"
missing=()
for entry in "${archives[@]}"; do
  IFS='|' read -r file version sums urls debian <<<"$entry"
  if [ ! -f "$sources/$file" ] && ! fetch "$file" "$version" "$sums" "$urls" "$debian"; then
    missing+=("  $file  ($version, SHA-256 ${sums//,/ or })")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  {
    echo "win32-deps: source archives missing from $sources:"
    printf '%s\n' "${missing[@]}"
    echo "Put them there (or name their folder with --sources or SHAREMAPPER_WIN32_SOURCES, or a mirror"
    echo "with SHAREMAPPER_WIN32_MIRROR) and run again."
  } >&2
  exit 1
fi
for entry in "${archives[@]}"; do
  IFS='|' read -r file version sums _ <<<"$entry"
  sum_matches "$sources/$file" "$sums" "$sources/$file ($version)" || exit 1
done
if [ "$fetch_only" = yes ]; then
  echo "win32-deps: all ${#archives[@]} archives are there and match their SHA-256" >&2
  echo "$sources"
  exit 0
fi
[ -f "$gtest_src/CMakeLists.txt" ] || fail "GoogleTest sources not found in $gtest_src (Debian package googletest)"
[ -f "$cxxopts_header" ] || fail "cxxopts header not found at $cxxopts_header (Debian package libcxxopts-dev)"
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windmc cmake make gcc; do
  command -v "$tool" >/dev/null || fail "$tool not found (run scripts/setup.sh)"
done

key=$(
  {
    for entry in "${archives[@]}"; do
      IFS='|' read -r file _ <<<"$entry"
      echo "$file $(sha256_of "$sources/$file")"
    done
    sha256sum "$0" "$toolchain" "$here"/patches/*.patch "$cxxopts_header" | cut -d' ' -f1
    find "$gtest_src" -type f -print0 | sort -z | xargs -0 sha256sum | cut -d' ' -f1
    x86_64-w64-mingw32-g++-posix --version | head -1
    x86_64-w64-mingw32-ld --version | head -1
    cmake --version | head -1
  } | sha256sum | cut -c1-16
)
prefix=$cache/$key
mkdir -p "$cache"

# One build per key at a time; a second caller waits and then finds it done.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$cache/$key.work
logs=$cache/$key.logs
rm -rf "$prefix" "$work" "$logs"
mkdir -p "$prefix" "$work" "$logs"
jobs=${SHAREMAPPER_JOBS:-2}
started=$SECONDS

# Runs a step with its output in a log; on failure shows the log's end.
step() {
  local name=$1 begun=$SECONDS; shift
  echo "win32-deps: $name" >&2
  if ! "$@" >"$logs/$name.log" 2>&1; then
    tail -n 40 "$logs/$name.log" >&2
    fail "$name failed; the whole log is $logs/$name.log"
  fi
  echo "win32-deps: $name took $((SECONDS - begun)) s" >&2
}

# Extracts an archive into $work/<name>, whatever its top folder is called.
unpack() {
  local archive=$1 name=$2
  mkdir -p "$work/$name.tmp"
  tar -xf "$sources/$archive" -C "$work/$name.tmp"
  local top
  top=$(find "$work/$name.tmp" -mindepth 1 -maxdepth 1)
  mv "$top" "$work/$name"
  rmdir "$work/$name.tmp"
}

# Debian's security patches (CVE-*), in the order of Debian's series file,
# each where it applies; then the project's patches for this library.
patch_source() {
  local name=$1 debian=$2
  mkdir -p "$work/$name.debian"
  tar -xf "$sources/$debian" -C "$work/$name.debian"
  local series=$work/$name.debian/debian/patches/series p
  while read -r p; do
    case "$p" in *CVE-*) ;; *) continue ;; esac
    if patch -d "$work/$name" -p1 --dry-run -s <"$work/$name.debian/debian/patches/$p" >/dev/null 2>&1; then
      patch -d "$work/$name" -p1 -s <"$work/$name.debian/debian/patches/$p"
      echo "applied Debian's $p"
    else
      echo "Debian's $p does not apply to this source: skipped"
    fi
  done < <(grep -v '^[[:space:]]*#' "$series" | grep -v '^[[:space:]]*$' | cut -d' ' -f1)
  own_patches "$name"
}

own_patches() {
  local name=$1 p
  for p in "$here"/patches/"$name"-*.patch; do
    [ -f "$p" ] || continue
    patch -d "$work/$name" -p1 -s --no-backup-if-mismatch <"$p"
    echo "applied $(basename "$p")"
  done
}

cmake_build() {
  local name=$1; shift
  cmake -S "$work/$name" -B "$work/$name-build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DSHAREMAPPER_WIN32_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF \
    "$@"
  cmake --build "$work/$name-build" -j"$jobs"
  cmake --install "$work/$name-build"
}

host=x86_64-w64-mingw32
export CC=$host-gcc-posix CXX=$host-g++-posix AR=$host-gcc-ar-posix RANLIB=$host-gcc-ranlib-posix

# --- expat -----------------------------------------------------------------
unpack expat_2.5.0.orig.tar.gz expat-src
mv "$work/expat-src/expat" "$work/expat"
build_expat() {
  cmake_build expat -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF \
    -DEXPAT_BUILD_PKGCONFIG=ON
}
step expat build_expat

# --- APR -------------------------------------------------------------------
unpack apr_1.7.2.orig.tar.bz2 apr
step apr-patches patch_source apr apr_1.7.2-3+deb12u1.debian.tar.xz
build_apr() {
  cd "$work/apr"
  # Cross-compiling, configure cannot run its test programs: the answers for
  # 64-bit Windows are given. gen_test_char runs on the build host but must
  # produce Windows' table, hence -DWIN32 for it.
  apr_cv_mutex_robust_shared=no ssize_t_fmt=I64d size_t_fmt=I64u \
    CC_FOR_BUILD=gcc CFLAGS_FOR_BUILD=-DWIN32 CPPFLAGS=-DCOM_NO_WINDOWS_H \
    ./configure --host=$host --build="$(gcc -dumpmachine)" --prefix="$prefix" \
    --enable-static --disable-shared
  make -j"$jobs"
  make install
}
step apr build_apr

# --- APR-util --------------------------------------------------------------
unpack apr-util_1.6.3.orig.tar.bz2 apr-util
step apr-util-patches patch_source apr-util apr-util_1.6.3-1+deb12u1.debian.tar.xz
build_apr_util() {
  cd "$work/apr-util"
  CPPFLAGS="-DXML_STATIC -DAPR_DECLARE_STATIC" \
    ./configure --host=$host --build="$(gcc -dumpmachine)" --prefix="$prefix" \
    --with-apr="$prefix" --with-expat="$prefix" \
    --without-crypto --without-pgsql --without-mysql --without-sqlite3 --without-sqlite2 \
    --without-odbc --without-ldap --without-berkeley-db --without-gdbm --without-ndbm \
    --without-oracle --without-freetds --without-iconv
  make -j"$jobs"
  make install
}
step apr-util build_apr_util

# --- log4cxx ---------------------------------------------------------------
unpack apache-log4cxx-1.0.0.tar.gz log4cxx
step log4cxx-patches patch_source log4cxx log4cxx_1.0.0-1+deb12u1.debian.tar.xz
build_log4cxx() {
  # APR's headers key on WIN32; the static APR and APR-util are found as
  # libraries of the prefix, never through the build host's apr-1-config.
  cmake_build log4cxx -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS=-DWIN32 -DCMAKE_CXX_FLAGS=-DWIN32 \
    -DAPR_STATIC=ON -DAPU_STATIC=ON \
    -DAPR_CONFIG_EXECUTABLE=/nonexistent -DAPR_UTIL_CONFIG_EXECUTABLE=/nonexistent \
    -DLOG4CXX_INSTALL_PDB=OFF -DENABLE_FMT_LAYOUT=OFF -DBUILD_SITE=OFF
}
step log4cxx build_log4cxx

# --- POCO Foundation and JSON ----------------------------------------------
unpack poco_1.11.0.orig.tar.bz2 poco
step poco-patches patch_source poco poco_1.11.0-3+deb12u1.debian.tar.xz
build_poco() {
  cmake_build poco -DCMAKE_MC_COMPILER="$(command -v $host-windmc)" \
    -DENABLE_FOUNDATION=ON -DENABLE_JSON=ON \
    -DENABLE_XML=OFF -DENABLE_NET=OFF -DENABLE_NETSSL=OFF -DENABLE_CRYPTO=OFF \
    -DENABLE_JWT=OFF -DENABLE_DATA=OFF -DENABLE_DATA_SQLITE=OFF -DENABLE_DATA_MYSQL=OFF \
    -DENABLE_DATA_POSTGRESQL=OFF -DENABLE_DATA_ODBC=OFF -DENABLE_MONGODB=OFF -DENABLE_REDIS=OFF \
    -DENABLE_PDF=OFF -DENABLE_UTIL=OFF -DENABLE_ZIP=OFF -DENABLE_SEVENZIP=OFF \
    -DENABLE_APACHECONNECTOR=OFF -DENABLE_CPPPARSER=OFF -DENABLE_ENCODINGS=OFF \
    -DENABLE_ENCODINGS_COMPILER=OFF -DENABLE_PAGECOMPILER=OFF -DENABLE_PAGECOMPILER_FILE2PAGE=OFF \
    -DENABLE_POCODOC=OFF -DENABLE_TESTS=OFF -DENABLE_ACTIVERECORD=OFF \
    -DENABLE_ACTIVERECORD_COMPILER=OFF -DENABLE_PROMETHEUS=OFF -DPOCO_MT=OFF
}
step poco build_poco

# --- GoogleTest ------------------------------------------------------------
build_gtest() {
  cmake -S "$gtest_src" -B "$work/googletest-build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSHAREMAPPER_WIN32_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
  cmake --build "$work/googletest-build" -j"$jobs"
  cmake --install "$work/googletest-build"
}
step googletest build_gtest

# --- cxxopts (header only) -------------------------------------------------
install_cxxopts() {
  mkdir -p "$prefix/include" "$prefix/lib/cmake/cxxopts"
  cp "$cxxopts_header" "$prefix/include/"
  cp /usr/lib/cmake/cxxopts/*.cmake "$prefix/lib/cmake/cxxopts/"
}
step cxxopts install_cxxopts

# The licence texts the distributed program carries.
copy_licences() {
  mkdir -p "$prefix/share/licences"
  cp "$work/poco/LICENSE" "$prefix/share/licences/POCO-LICENSE.txt"
  cp "$work/log4cxx/LICENSE" "$prefix/share/licences/log4cxx-LICENSE.txt"
  cp "$work/log4cxx/NOTICE" "$prefix/share/licences/log4cxx-NOTICE.txt"
  cp "$work/apr/LICENSE" "$prefix/share/licences/APR-LICENSE.txt"
  cp "$work/apr/NOTICE" "$prefix/share/licences/APR-NOTICE.txt"
  cp "$work/apr-util/LICENSE" "$prefix/share/licences/APR-util-LICENSE.txt"
  cp "$work/apr-util/NOTICE" "$prefix/share/licences/APR-util-NOTICE.txt"
  cp "$work/expat/COPYING" "$prefix/share/licences/expat-COPYING.txt"
}
step licences copy_licences

rm -rf "$work"
touch "$prefix/.complete"
echo "win32-deps: built in $((SECONDS - started)) s" >&2
echo "$prefix"
