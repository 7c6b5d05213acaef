#!/usr/bin/env bash
# Writes a C++ compiler wrapper that runs zig's clang for one target, linked against an old
# glibc (manylinux) with libc++ built in:
#   bash packaging/zig-compiler.sh ZIG TARGET OUTPUT
# e.g. TARGET x86_64-linux-gnu.2.17. The wrapper makes zig compile as GCC does for the
# same flags:
#   - zig names CPUs with underscores and takes them from -mcpu, and reads -mtune as the
#     CPU to build for (-march=x86-64-v3 -mtune=generic would give no AVX at all): it turns
#     -march=x86-64-v3 into -mcpu=x86_64_v3 and drops -mtune, which only schedules;
#   - zig hands clang -O2 for -O3: -O3 reaches clang itself through -Xclang;
#   - zig keeps the frame pointer at every level, where GCC frees that register from -O1 on.
set -euo pipefail
zig=$1 target=$2 output=$3
cat >"$output" <<WRAPPER
#!/usr/bin/env bash
arguments=()
for argument in "\$@"; do
    case "\$argument" in
        -march=*) cpu=\${argument#-march=}; arguments+=("-mcpu=\${cpu//-/_}") ;;
        -mtune=*) ;;
        -O3) arguments+=(-O3 -Xclang -O3) ;;
        *) arguments+=("\$argument") ;;
    esac
done
exec "$zig" c++ -target $target -fomit-frame-pointer "\${arguments[@]}"
WRAPPER
chmod +x "$output"
