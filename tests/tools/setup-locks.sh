#!/usr/bin/env bash
# tools/setup with a package missing, run twice at once, with a package manager of the test's own on
# PATH that holds its lock as apt-get does (for about a second) and fails at once, as apt-get does,
# on finding it taken: both set-ups must end well. A failure that is not about the lock ends the
# set-up at once, without trying again.
set -u
source_dir=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
# Every package is missing.
printf '#!/bin/sh\nexit 1\n' >"$dir/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' >"$dir/bin/sudo"
cat >"$dir/bin/apt-get" <<'SH'
#!/usr/bin/env bash
if [ -n "${FAKE_APT_BROKEN:-}" ]; then
  echo "$*" >>"$FAKE_APT/broken"
  echo "E: Unable to locate package $FAKE_APT_BROKEN" >&2
  exit 100
fi
exec 9>>"$FAKE_APT/lock"
if ! flock -n 9; then
  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1 (apt-get)" >&2
  echo "E: Unable to lock directory /var/lib/apt/lists/" >&2
  exit 100
fi
for arg; do case $arg in update | install) echo "$arg" >>"$FAKE_APT/ran" ;; esac; done
: >"$FAKE_APT/held"
sleep 1
SH
chmod +x "$dir/bin/"*
export FAKE_APT=$dir PATH="$dir/bin:$PATH"
failed=0

bash "$source_dir/tools/setup" >"$dir/first.out" 2>&1 &
first=$!
# The second starts while the first holds the lock.
for _ in $(seq 200); do [ -e "$dir/held" ] && break; sleep 0.05; done
timeout 120 bash "$source_dir/tools/setup" >"$dir/second.out" 2>&1
# shellcheck disable=SC2034 # read below as ${!run}
second=$?
wait "$first"
first=$?
for run in first second; do
  if [ "${!run}" != 0 ]; then
    echo "FAIL: the $run set-up ended with ${!run}:"
    cat "$dir/$run.out"
    failed=1
  fi
done
if [ "$(sort "$dir/ran" | uniq -c | awk '{print $2 "=" $1}' | tr '\n' ' ')" != "install=2 update=2 " ]; then
  echo "FAIL: apt-get ran to the end for:"
  cat "$dir/ran"
  failed=1
fi
grep -q "trying again" "$dir/second.out" || {
  echo "FAIL: the second set-up never met the lock:"
  cat "$dir/second.out"
  failed=1
}

FAKE_APT_BROKEN=nosuch timeout 60 bash "$source_dir/tools/setup" >"$dir/broken.out" 2>&1
status=$?
if [ "$status" = 0 ] || [ "$status" = 124 ] || [ "$(wc -l <"$dir/broken")" != 1 ] ||
  ! grep -q "Unable to locate package nosuch" "$dir/broken.out"; then
  echo "FAIL: a failure that is not about the lock (status $status, $(wc -l <"$dir/broken") runs):"
  cat "$dir/broken.out"
  failed=1
fi
exit $failed
