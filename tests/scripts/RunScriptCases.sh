#!/bin/sh
# The set-up scripts against fakes of the programs they drive, first on PATH,
# so that nothing on the machine is touched: install-deps with a fake
# apt-get, dpkg-query, dpkg, sudo and clang over a package list of our own;
# i386-probe with fake compilers; check-dll with a fake objdump.
#   RunScriptCases.sh SOURCE-FOLDER WORK-FOLDER
set -u
root=$1
work=$2
rm -rf "$work"
mkdir -p "$work/bin"
bin=$work/bin
state=$work/state
export FAKE_STATE="$state"
PATH=$bin:$PATH
failures=0
fail() {
    echo "FAILED: $case: $*"
    echo "  stdout: $(cat "$work/out")"
    echo "  stderr:"
    sed 's/^/    /' "$work/err"
    echo "  calls:"
    sed 's/^/    /' "$state/calls"
    failures=$((failures + 1))
}

# Installed packages in $state/installed, one a line; those apt cannot
# install in $state/broken: "PACKAGE apt's error".
cat >"$bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_STATE/calls"
command=""
packages=""
for arg; do
    case $arg in
    -*) ;;
    *) if [ -z "$command" ]; then command=$arg; else packages="$packages $arg"; fi ;;
    esac
done
case $command in
update)
    if [ -f "$FAKE_STATE/update-fails" ]; then
        echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
    fi ;;
install)
    case " $* " in *" --no-remove "*) ;; *) echo "E: fake: no --no-remove"; exit 100 ;; esac
    for package in $packages; do
        why=$(awk -v p="$package" '$1 == p { sub(/^[^ ]* /, ""); print }' "$FAKE_STATE/broken")
        [ -z "$why" ] || { echo "E: $why"; exit 100; }
        case $package in
        *:i386) grep -qx i386 "$FAKE_STATE/archs" || { echo "E: Unable to locate package $package"; exit 100; } ;;
        esac
    done
    for package in $packages; do echo "$package" >>"$FAKE_STATE/installed"; done ;;
*)
    exit 100 ;;
esac
EOF
cat >"$bin/dpkg-query" <<'EOF'
#!/bin/sh
for package; do :; done
grep -qx "$package" "$FAKE_STATE/installed" && printf 'install ok installed' && exit 0
echo "dpkg-query: no packages found matching $package" >&2
exit 1
EOF
cat >"$bin/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$FAKE_STATE/calls"
case $1 in
--print-foreign-architectures) cat "$FAKE_STATE/archs" ;;
--add-architecture) echo "$2" >>"$FAKE_STATE/archs" ;;
*) exit 2 ;;
esac
EOF
cat >"$bin/sudo" <<'EOF'
#!/bin/sh
exec "$@"
EOF
# clang, once installed, of the version in $state/clang-version.
cat >"$bin/clang" <<'EOF'
#!/bin/sh
grep -qx clang "$FAKE_STATE/installed" || exit 127
[ "$1" = -dumpversion ] && cat "$FAKE_STATE/clang-version"
EOF
chmod +x "$bin"/*
fresh() {
    rm -rf "$state"
    mkdir -p "$state"
    : >"$state/installed"
    : >"$state/broken"
    : >"$state/archs"
    : >"$state/calls"
    echo 19.1.7 >"$state/clang-version"
}
# run EXPECTED-STATUS COMMAND...: runs it, output in $work/out and $work/err.
run() {
    expected=$1
    shift
    "$@" >"$work/out" 2>"$work/err"
    status=$?
    [ $status = "$expected" ] || fail "exit status $status, expected $expected"
}
has() { grep -q -e "$2" "$1" || fail "$(basename "$1") has no '$2'"; }
lacks() { ! grep -q -e "$2" "$1" || fail "$(basename "$1") has '$2'"; }

case="build role on a fresh machine whose update fails"
fresh
touch "$state/update-fails"
run 0 "$root/scripts/install-deps" build unzip
for package in cmake ninja-build g++ g++-mingw-w64-i686-posix binutils-mingw-w64-i686 unzip; do
    grep -qx -e "$package" "$state/installed" || fail "$package not installed"
done
has "$work/err" "apt-get update failed"
lacks "$state/calls" 'i386\|wine\|qemu\|gtest\|googletest'
[ ! -s "$work/out" ] || fail "says something on standard output"

case="build role with a package apt cannot install"
fresh
echo "ninja-build Unable to locate package ninja-build" >"$state/broken"
run 1 "$root/scripts/install-deps" build
has "$work/err" "ninja-build: Unable to locate package ninja-build"
grep -qx cmake "$state/installed" || fail "the others were not installed"

case="test role on a fresh machine where wine32:i386 cannot be installed"
fresh
touch "$state/update-fails"
echo "wine32:i386 Unable to correct problems, you have held broken packages." >"$state/broken"
run 0 "$root/scripts/install-deps" test
[ "$(cat "$work/out")" = "wine32:i386: Unable to correct problems, you have held broken packages." ] ||
    fail "does not name wine32:i386 with apt's error on standard output"
has "$state/calls" "install .* wine64 wine32:i386$"
has "$state/calls" "install .* wine64$"
grep -qx wine64 "$state/installed" || fail "wine64 not installed on its own"
grep -qx i386 "$state/archs" || fail "the i386 architecture not added"

grep -qx libclang-rt-19-dev "$state/installed" || fail "clang 19 came without libclang-rt-19-dev"
lacks "$state/installed" "libclang-rt-14"

case="test role again, wine32:i386 installable: one transaction with wine64"
: >"$state/broken"
: >"$state/calls"
run 0 "$root/scripts/install-deps" test
[ "$(grep -c ' install ' "$state/calls")" = 1 ] || fail "not one transaction"
has "$state/calls" "install .* wine64 wine32:i386$"
[ ! -s "$work/out" ] || fail "says something on standard output"

case="test role again, nothing missing"
: >"$state/calls"
run 0 "$root/scripts/install-deps" test
lacks "$state/calls" "apt-get"

case="clang 14 installed, its runtime missing: the fuzz command's set-up"
fresh
echo clang >"$state/installed"
echo 14.0.6 >"$state/clang-version"
run 0 "$root/scripts/install-deps" build clang
has "$state/calls" "install .* libclang-rt-14-dev$"
[ "$(grep -c ' install ' "$state/calls")" = 1 ] || fail "not one transaction"

# Not root and no sudo: nothing is run, and one line says what to run as root.
# The tools the script needs, without sudo, and an id that is not root's.
nosudo=$work/nosudo
mkdir -p "$nosudo"
for tool in sed grep mktemp rm head tail cut env cat awk; do
    ln -sf "$(command -v "$tool")" "$nosudo/$tool"
done
for fake in apt-get dpkg-query dpkg clang; do ln -sf "$bin/$fake" "$nosudo/$fake"; done
printf '#!/bin/sh\necho 1000\n' >"$nosudo/id"
chmod +x "$nosudo/id"
case="test role, neither root nor sudo"
fresh
run 1 env PATH="$nosudo" "$root/scripts/install-deps" test
[ "$(wc -l <"$work/err")" = 1 ] || fail "says more than one line"
has "$work/err" "as root, run: dpkg --add-architecture i386 && apt-get update && apt-get install --no-install-recommends cmake .* clang unzip locales wine32:i386, then this again for clang's runtime$"
lacks "$work/err" "not found"
lacks "$state/calls" "apt-get\\|--add-architecture"

# The probe: a fake compiler makes what $FAKE_CC_MAKES says, or fails.
cat >"$bin/fake-cc" <<'EOF'
#!/bin/sh
while [ "$1" != -o ]; do shift; done
case $FAKE_CC_MAKES in
nothing) echo "fake-cc: fatal error: cannot find crt1.o" >&2; exit 1 ;;
bad-elf) printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000bad' >"$2" ;;
*) printf '#!/bin/sh\n%s\n' "$FAKE_CC_MAKES" >"$2" ;;
esac
chmod +x "$2"
EOF
chmod +x "$bin/fake-cc"
while read -r makes expected said; do
    case="i386-probe when the compiler makes: $makes"
    : >"$state/calls"
    FAKE_CC_MAKES=$(echo "$makes" | tr _ ' ') run "$expected" "$root/scripts/i386-probe" "$work/probe/p" fake-cc
    if [ "$expected" = 2 ]; then
        has "$work/err" "FAILED: "
        has "$work/err" "$said"
    else
        [ "$(cat "$work/out")" = "$(echo "$said" | tr _ ' ')" ] || fail "says '$(cat "$work/out")'"
    fi
done <<'EOF'
exit_0    0 a_static_i386_program_runs
bad-elf   1 a_static_i386_program_fails:_Exec_format_error
nothing   2 cannot find crt1.o
exit_3    2 failed when started (exit status 3)
EOF

# check-dll names every import that is not on its list.
cat >"$bin/i686-w64-mingw32-objdump" <<'EOF'
#!/bin/sh
[ "$1" = -p ] || exit 0
printf '%s\n' "x.dll:     file format pei-i386" "Characteristics 0x2106" "	DLL" \
    "Magic			010b	(PE32)" "The Import Tables (interpreted .idata section contents)" \
    "	DLL Name: KERNEL32.dll" "	vma:  Hint/Ord Member-Name Bound-To" \
    "	65430	   21  CreateFile2" "	6544e	   36  GetTickCount64" \
    "	65460	  136  GetSystemTimePreciseAsFileTime" "	DLL Name: msvcrt.dll" \
    "	vma:  Hint/Ord Member-Name Bound-To" "	6595a	   69  _wfsopen" "" \
    "The Export Tables (interpreted .edata section contents)" \
    "	[   0] SKSEPlugin_Load" "	[   1] SKSEPlugin_Query"
EOF
chmod +x "$bin/i686-w64-mingw32-objdump"
case="check-dll with imports Windows 7 lacks"
run 1 "$root/scripts/check-dll" x.dll
has "$work/err" "^  KERNEL32.dll CreateFile2$"
has "$work/err" "^  KERNEL32.dll GetSystemTimePreciseAsFileTime$"
lacks "$work/err" "GetTickCount64\|_wfsopen"

[ $failures = 0 ] || exit 1
echo "all cases passed"
