#!/usr/bin/env bash
# README.md's recipes for many machines (keep the two in step), each OBJ byte for byte a local
# conversion's. ssh: GNU Parallel ships the grids to an sshd of this test on 127.0.0.1 (throwaway
# keys), converts, returns, cleans up, and reruns the failed tile with --resume-failed. slurm: a job
# array, one --slice per task, on a one-node Slurm of this test in a network namespace that has
# only the loopback device. A part whose daemons cannot start prints "skipped: ..." and passes.
#   cluster_test.sh DUNMOOR_CONVERT [ssh] [slurm]
set -uo pipefail
export LC_ALL=C
[[ ${1:-} == --inside ]] && inside=1 && shift || inside=0
convert=$(realpath "${1:?usage: cluster_test.sh DUNMOOR_CONVERT [ssh] [slurm]}") && shift
stamp="2026-12-07, 14:03" failures=0 pids=()
fail() { echo "FAIL: $part: $*"; failures=$((failures + 1)); }
trap 'for p in "${pids[@]}"; do kill $p; done 2>/dev/null; wait; ((inside)) || rm -rf "$work"' EXIT
missing() { for t in "$@"; do command -v "$t" >/dev/null || { echo "skipped: $part: $t not found"; return 0; }; done; return 1; }
local_same() {  # DIR COUNT: COUNT OBJ files in DIR, each the local conversion's
    [[ $(compgen -G "$1/*.obj" | wc -l) == "$2" ]] || fail "$(compgen -G "$1/*.obj" | wc -l) OBJ files, not $2"
    for f in "$1"/*.obj; do cmp -s "$f" "$work/local/${f##*/}" || fail "${f##*/} is not the local one"; done
}
await() { for ((i = 0; i < ${2:-100}; i++)); do eval "$1" && return 0; sleep 0.2; done; return 1; }  # COMMAND [TRIES]

ssh_part() {
    local s=$work/ssh me port
    missing /usr/sbin/sshd ssh-keygen parallel rsync && return
    me=$(id -un) port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$s/remote" "$s/tiles" && cp "$work/tiles/"tile?[1-4].asc "$s/tiles/" && (cd "$s" && ls tiles/*.asc >tiles.txt)
    ssh-keygen -q -t ed25519 -N '' -f "$s/host" && ssh-keygen -q -t ed25519 -N '' -f "$s/user"
    echo "[127.0.0.1]:$port $(cat "$s/host.pub")" >"$s/known_hosts"
    printf '%s\n' "Port $port" "ListenAddress 127.0.0.1" "HostKey $s/host" "AuthorizedKeysFile $s/user.pub" "UsePAM no" \
        "StrictModes no" "PasswordAuthentication no" "PermitRootLogin prohibit-password" "AllowUsers $me" >"$s/sshd_config"
    printf '%s\n' "Host tilehost" "HostName 127.0.0.1" "Port $port" "User $me" "IdentityFile $s/user" "BatchMode yes" \
        "UserKnownHostsFile $s/known_hosts" "StrictHostKeyChecking yes" >"$s/ssh_config"
    [[ $(id -u) != 0 ]] || mkdir -p /run/sshd  # its privilege separation folder
    /usr/sbin/sshd -D -e -f "$s/sshd_config" 2>"$s/sshd.log" &
    pids+=($!)
    await "ssh -F '$s/ssh_config' tilehost true 2>/dev/null" || { echo "skipped: ssh: no sshd: $(tail -n 2 "$s/sshd.log")"; return; }
    mv "$s/tiles/tile 4.asc" "$s/good" && echo "ncols 2" >"$s/tiles/tile 4.asc"  # fails, until it is put right
    recipe() {
        (cd "$s" && RSYNC_OLD_ARGS=1 parallel --will-cite --ssh "ssh -F $s/ssh_config" -S 2/tilehost --workdir "$s/remote" \
            --trc {.}__interpolated.obj --joblog jobs.log "$@" "$convert" {} --workers 1 --timestamp "'$stamp'" :::: tiles.txt)
    }
    recipe >"$s/out" 2>&1 && fail "the first run did not fail: $(cat "$s/out")"
    mv "$s/good" "$s/tiles/tile 4.asc" && recipe --resume-failed >"$s/out" 2>&1 || fail "resumed: $(cat "$s/out")"
    [[ $(cut -f7 "$s/jobs.log" | sort | tr '\n' ' ') == "0 0 0 0 1 Exitval " && $(tail -n 1 "$s/jobs.log") == *"tile 4.asc"* ]] ||
        fail "not resumed as it should: $(cat "$s/jobs.log")"
    local_same "$s/tiles" 4
    [[ -z $(ls -A "$s/remote" 2>/dev/null) ]] || fail "left on the host: $(find "$s/remote")"
    ((failures)) || echo "ssh: 4 tiles converted on the host and returned, the failed one resumed, nothing left there"
}

slurm_part() {
    missing munged slurmctld slurmd sbatch squeue sinfo ip unshare && return
    [[ $(id -u) == 0 ]] && unshare -n true 2>/dev/null || { echo "skipped: slurm: needs root and a network namespace"; return; }
    unshare -n "$0" --inside "$convert" "$work"
    failures=$((failures + $?))
}

# 127.0.0.2 beside 127.0.0.1: the resolver answers for IPv4 only where some other address than 127.0.0.1 is up.
slurm_inside() {
    local d=$work/slurm
    mkdir -p "$d/munge" "$d/state" && chmod 700 "$d/munge" && cp -r "$work/tiles" "$d/" && ls "$d"/tiles/*.asc >"$d/tiles.txt"
    ip link set lo up && ip addr add 127.0.0.2/8 dev lo || { echo "skipped: slurm: no loopback device"; return 0; }
    head -c 1024 /dev/urandom >"$d/munge/key" && chmod 600 "$d/munge/key"
    munged -F -f --key-file="$d/munge/key" --socket="$d/munge/socket" --log-file="$d/munge/log" \
        --pid-file="$d/munge/pid" --seed-file="$d/munge/seed" 2>/dev/null &
    pids+=($!)
    printf '%s\n' ClusterName=dunmoor "SlurmctldHost=$(hostname -s)(127.0.0.1)" AuthType=auth/munge CredType=cred/munge \
        "AuthInfo=socket=$d/munge/socket" SlurmUser=root "StateSaveLocation=$d/state" "SlurmdSpoolDir=$d/state" \
        "SlurmctldPidFile=$d/ctld.pid" "SlurmdPidFile=$d/d.pid" "SlurmctldLogFile=$d/ctld.log" "SlurmdLogFile=$d/d.log" \
        ProctrackType=proctrack/linuxproc TaskPlugin=task/none JobAcctGatherType=jobacct_gather/none MpiDefault=none \
        AccountingStorageType=accounting_storage/none SelectType=select/cons_tres SelectTypeParameters=CR_CPU \
        "NodeName=tilenode NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN" "PartitionName=tiles Nodes=tilenode Default=YES" \
        >"$d/slurm.conf"
    export SLURM_CONF=$d/slurm.conf
    await "[[ -S '$d/munge/socket' ]]" && { slurmctld -D -i & pids+=($!); slurmd -D -N tilenode & pids+=($!); } 2>/dev/null &&
        await '[[ $(timeout 5 sinfo -h -o %t 2>/dev/null) == idle ]]' ||
        { echo "skipped: slurm: no node: $(tail -qn 1 "$d"/*.log "$d/munge/log")"; return 0; }
    cat >"$d/slices.sbatch" <<JOB
#!/bin/bash
#SBATCH --array=1-3
#SBATCH --cpus-per-task=1
#SBATCH --output=slice-%a.out
"$convert" --from tiles.txt --slice "\$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT" --skip-existing \\
  --log "slice-\$SLURM_ARRAY_TASK_ID.tsv" --jobs 1 --workers "\$SLURM_CPUS_PER_TASK" --timestamp "$stamp"
JOB
    (cd "$d" && timeout 10 sbatch -Q slices.sbatch) && await 'q=$(timeout 5 squeue -h 2>/dev/null) && [[ -z $q ]]' 300 ||
        fail "the array did not run"
    sed 's/$/\tconverted/' "$d/tiles.txt" | sort | cmp -s - <(cut -f1,2 "$d"/slice-?.tsv | grep -v ^path | sort) ||
        fail "the slices do not convert each tile once: $(cat "$d"/slice-?.*)"
    local_same "$d/tiles" 5
    ((failures)) || echo "slurm: 3 array tasks converted the 5 tiles once each"
    return $failures
}

if ((inside)); then
    part=slurm work=$1
    slurm_inside
    exit
fi
work=$(mktemp -d) && mkdir "$work/tiles" "$work/local" && n=0
for grid in corners_square header_standard planes_cellsize2 planes_xll1000 corners_single_nodata; do  # two names with a space
    n=$((n + 1)) && name="tile_$n" && ((n % 3 != 1)) || name="tile $n"
    cp "$(dirname "$0")/data/golden/$grid.asc" "$work/tiles/$name.asc"
done
"$convert" "$work"/tiles/*.asc --outdir "$work/local" --timestamp "$stamp" >/dev/null || echo "FAIL: local conversion"
for part in ${@:-ssh slurm}; do
    start=$SECONDS && "${part}_part" && echo "$part: $((SECONDS - start)) s"
done
((failures == 0)) || { echo "$failures cluster check(s) failed"; exit 1; }
echo "all cluster checks passed"
