#!/bin/bash
# punb-mpi and punb-classify-mpi on three hosts made of network namespaces on this machine, as on
# a cluster: each host a namespace with an address and a host name of its own, joined by a bridge
# in a fourth; mpirun, on the first host, starts its daemons on the others through an rsh agent
# that enters them. Both programs must leave every byte one process leaves; a process killed on a
# second host, and a host whose link goes down mid-run, must end the job with a failure within a
# bound, leaving nothing running on any host and the model file as it was.
# Needs root and ip; says why and exits 77 (skipped) otherwise.
# usage: cluster_test.sh MPIRUN PUNB PUNB_MPI CLASSIFY CLASSIFY_MPI EXAMPLES_DIR
set -uo pipefail
mpirun=$1 examples=$6
punb=$(realpath "$2") punb_mpi=$(realpath "$3") classify=$(realpath "$4") classify_mpi=$(realpath "$5")

skip() { echo "cluster_test: skipped: $*" && exit 77; }
[ "$EUID" = 0 ] || skip "making network namespaces needs root"
{ command -v ip && command -v unshare; } >/dev/null || skip "needs ip and unshare"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
"$mpirun" --version 2>&1 | grep -q -e "Open MPI" -e OpenRTE || skip "the rsh agent and the settings are Open MPI's"

# Names of this run only, so that two runs, or what a killed one left, cannot meet.
tag=punbc-$$-$RANDOM
scratch=$(mktemp -d)
namespaces=()
failed=0
fail() { echo "cluster_test: $*" >&2 && failed=1; }
cleanup() {
  local ns pid
  for ns in "${namespaces[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  done
  for ns in "${namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The network: the hosts' links end on a bridge in a namespace of their own, 10.77.0.1 to .3.
ip netns add "$tag-net" 2>/dev/null || skip "network namespaces cannot be made here"
namespaces+=("$tag-net")
ip netns exec "$tag-net" unshare --uts true 2>/dev/null || skip "host names cannot be set apart here"
ip -n "$tag-net" link add br0 type bridge && ip -n "$tag-net" link set br0 up || exit 1
for i in 1 2 3; do
  ns=$tag-h$i
  ip netns add "$ns" || exit 1
  namespaces+=("$ns")
  ip -n "$ns" link add eth0 type veth peer name port$i netns "$tag-net" &&
    ip -n "$tag-net" link set port$i master br0 && ip -n "$tag-net" link set port$i up &&
    ip -n "$ns" addr add 10.77.0.$i/24 dev eth0 && ip -n "$ns" link set eth0 up &&
    ip -n "$ns" link set lo up || exit 1
  echo "h$i slots=2" >>"$scratch/hosts"
done
# What ssh would do: run the command line in the host named first.
cat >"$scratch/agent" <<EOF
#!/bin/sh
host=\$1
shift
exec ip netns exec "$tag-\$host" unshare --uts sh -c 'hostname "\$0" && eval "\$*"' "\$host" "\$@"
EOF
chmod +x "$scratch/agent"

# A host that stops answering is given up after 2 + 3 x 1 s of silence.
keepalive=(--mca oob_tcp_keepalive_time 2 --mca oob_tcp_keepalive_intvl 1
  --mca oob_tcp_keepalive_probes 3)
# Runs mpirun on h1 in folder $1, over the six slots of the three hosts, as a cluster's user does;
# as the hosts share this machine's CPUs, a waiting process gives its CPU up, and what the jobs
# ended by force leave of Open MPI's own files stays in the scratch folder.
cluster() {
  local dir=$1
  shift
  cd "$dir" && exec ip netns exec "$tag-h1" unshare --uts sh -c 'hostname h1 && exec "$@"' sh \
    "$mpirun" --hostfile "$scratch/hosts" --mca plm_rsh_agent "$scratch/agent" "${keepalive[@]}" \
    --mca mpi_yield_when_idle 1 --mca orte_tmpdir_base "$scratch" \
    --mca btl_vader_backing_directory "$scratch" -n 6 "$@"
}
# A folder holding the demo corpus (its unlabeled file ending in $2 when given) and the model.
folder() {
  mkdir "$1" && cp "$examples"/demo.pos "$examples"/demo.test "$examples"/demo.unlabel "$1"/ &&
    printf '%s' "${2-}" >>"$1/demo.unlabel" && cp "$scratch/m.model" "$1/" || exit 1
}
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }
# The processes in the hosts' namespaces, and punb-mpi's among them on host $1.
leftovers() { for ns in "${namespaces[@]}"; do ip netns pids "$ns"; done; }
ranks_on() {
  local pid
  for pid in $(ip netns pids "$tag-$1"); do
    [ "$(readlink "/proc/$pid/exe")" = "$punb_mpi" ] && echo "$pid"
  done
}
all_ranks() { for h in h1 h2 h3; do ranks_on $h; done; }

mkdir "$scratch/train" && cp "$examples"/demo.* "$scratch/train/" &&
  (cd "$scratch/train" && "$punb" -nb -f demo --model ../m.model -j 1 >/dev/null) || exit 1

# Each case: a name, the unlabeled file's extra lines, then the arguments after the program, the
# same for one process and for the job.
cases=(
  "nb||punb|-nb -f demo --model m.model -j 1"
  "kov||punb|-kov -f demo --model m.model -j 1"
  "bad_line_in_last_share|12:1 500000:1|punb|-kov -f demo --model m.model -j 1"
  "classify||classify|m.model --labeled demo.test --explain 3 --rank -j 1"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name extra tool args <<<"$c"
  extra=${extra:+$extra$'\n'}
  if [ "$tool" = punb ]; then one=$punb many=$punb_mpi; else one=$classify many=$classify_mpi; fi
  folder "$scratch/$name.one" "$extra"
  folder "$scratch/$name.job" "$extra"
  # shellcheck disable=SC2086
  (cd "$scratch/$name.one" && exec "$one" $args) >"$scratch/$name.one.out" 2>"$scratch/$name.one.err"
  one_status=$?
  # shellcheck disable=SC2086
  (cluster "$scratch/$name.job" "$many" $args) >"$scratch/$name.job.out" 2>"$scratch/$name.job.err"
  job_status=$?
  [ "$job_status" = "$one_status" ] || fail "$name: status $job_status, one process $one_status"
  cmp -s "$scratch/$name.one.out" "$scratch/$name.job.out" || fail "$name: standard output differs"
  [ "$(grep '^punb' "$scratch/$name.one.err")" = "$(grep '^punb' "$scratch/$name.job.err")" ] ||
    fail "$name: messages differ: $(cat "$scratch/$name.job.err")"
  diff -r "$scratch/$name.one" "$scratch/$name.job" >/dev/null || fail "$name: files differ"
done
grep -q '^punb: .*demo.unlabel:' "$scratch/bad_line_in_last_share.one.err" ||
  fail "the bad line was not reported"

# Runs "$@" every tenth of a second until it succeeds, for at most $1 seconds.
within() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}
launcher_ended() { ! kill -0 "$job" 2>/dev/null; }
no_ranks() { [ -z "$(all_ranks)" ]; }
nothing_left() { [ -z "$(leftovers)" ]; }
under_way() { [ -s "$1/demo.log" ] && [ "$(all_ranks | wc -l)" = 6 ]; }

# A long run, started on the cluster in folder $1 with a model file to keep; returns when every
# process is under way, with the launcher's pid in $job.
start_long_run() {
  folder "$1"
  echo "earlier model" >"$1/m.model"
  (cluster "$1" "$punb_mpi" -kov -f demo -i 1000000 -j 1 --model m.model) >"$1.out" 2>&1 &
  job=$!
  within 60 under_way "$1" && return
  fail "$1: the run did not get under way: $(cat "$1.out")"
  exit 1
}
# Expects the launcher to end with a failure within $2 seconds, then every process on the hosts,
# and the model file as it was.
expect_end() {
  local name=$1 bound=$2 started=$EPOCHREALTIME status
  within "$bound" launcher_ended || fail "$name: the launcher still ran $bound s later"
  kill -KILL "$job" 2>/dev/null
  wait "$job"
  status=$?
  echo "$name: the launcher ended in $(since "$started") s with status $status"
  [ "$status" != 0 ] || fail "$name: the job ended with status 0"
  within "$bound" nothing_left || fail "$name: still running: $(leftovers | xargs ps -o comm= -p | tr "\n" " ")"
  [ "$(cat "$scratch/$name/m.model")" = "earlier model" ] || fail "$name: the model file changed"
}

start_long_run "$scratch/killed_on_h2"
kill -KILL "$(ranks_on h2 | head -1)"
expect_end killed_on_h2 10

# The run goes on past the keepalive's bound while every host answers; then the third host's link
# goes down.
start_long_run "$scratch/h3_lost"
sleep 6
[ "$(all_ranks | wc -l)" = 6 ] || fail "h3_lost: the run ended while every host answered"
ip -n "$tag-net" link set port3 down
expect_end h3_lost 20
ip -n "$tag-net" link set port3 up

# The launcher told to stop while a host is silent ends every process it reaches at once, and the
# silent host's end when its daemon gives up on the launcher; the launcher itself waits for the
# silent host until TCP gives up on it (many minutes) unless told twice within 5 seconds.
start_long_run "$scratch/stopped"
ip -n "$tag-net" link set port3 down
kill -TERM "$job"
started=$EPOCHREALTIME
within 20 no_ranks || fail "stopped: processes still ran 20 s after SIGTERM"
echo "stopped: every process ended $(since "$started") s after SIGTERM"
kill -TERM "$job" 2>/dev/null
sleep 0.5
kill -TERM "$job" 2>/dev/null
expect_end stopped 5

[ "$failed" = 0 ] || exit 1
echo "cluster_test: all passed"
