# SPDX-License-Identifier: MIT
# Shell functions the scripts share; sourced, never run.

# vu30_configure DIR CMAKE-ARGS...: configures DIR with Ninja when DIR is new;
# a folder configured before (by hand, with another generator) keeps its own,
# so that the README's commands work whatever the reader ran before.
vu30_configure() {
  local dir=$1
  shift
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ]; then generator=(-G Ninja); fi
  cmake -S . -B "$dir" "${generator[@]}" "$@"
}

# vu30_skip WHAT REASON: says that a step is skipped and why, on one line, and
# adds it to the summary of scripts/test.sh (VU30_SUMMARY) when there is one.
# Only for what this machine lacks: a failure of ours is never a skip.
vu30_skip() {
  echo "SKIPPED $1: $2"
  if [ -n "${VU30_SUMMARY:-}" ]; then printf 'skipped  %s: %s\n' "$1" "$2" >>"$VU30_SUMMARY"; fi
}

# vu30_runs_i386: whether this machine runs 32-bit x86 programs. Some kernels
# are built with IA-32 emulation off; there every exec of an i386 program
# fails with ENOEXEC ("Exec format error"). The probe is the i386 dynamic
# loader that 32-bit Wine brings (libc6:i386); VU30_I386_PROBE names another
# program. Returns 0 when it runs, 1 when the kernel refuses it; any other
# failure (the probe missing or broken) is ours and ends the script.
vu30_runs_i386() {
  local probe=${VU30_I386_PROBE:-/lib/ld-linux.so.2} out
  if [ ! -e "$probe" ]; then
    echo "the 32-bit probe $probe is missing: is wine32:i386 installed?" >&2
    exit 1
  fi
  if out=$("$probe" --version 2>&1); then return 0; fi
  case "$out" in
    *"Exec format error"*) return 1 ;;
  esac
  echo "the 32-bit probe $probe failed: $out" >&2
  exit 1
}
