#!/usr/bin/env bash
# README.md's recipes for many machines (keep the two in step), each OBJ byte for byte a local
# conversion's. tiles: a tile set cut from one terrain joins as the whole terrain's mesh. ssh: GNU Parallel ships the grids to an sshd of this test on 127.0.0.1 (throwaway
# keys), converts, returns, cleans up, and reruns the failed tile with --resume-failed. slurm: a job
# array, one --slice per task, on a one-node Slurm of this test in a network namespace that has
# only the loopback device. A part whose daemons cannot start prints "skipped: ..." and passes.
#   cluster_test.sh DUNMOOR_CONVERT [tiles] [ssh] [slurm]
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

# 3 x 3 tiles of 40 x 30 cut from one terrain, with no data across the corner of four tiles and along a
# tile border, converted as a set: what they write together is what the whole terrain writes.
tiles_part() {
    local t=$work/set case method geometry cell check rest ext
    mkdir -p "$t/tiles"
    python3 - "$t" 40 30 <<'CUT'
import math, sys
out, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def z(r, c):
    if (r - h) ** 2 + (c - w) ** 2 < 64 or (r == h + 2 and 25 <= c < 55): return "-9999"
    return "%g" % round(100 + 30 * math.sin(r / 7.0) * math.cos(c / 9.0) + (r * 7919 + c * 104729) % 1000 / 100.0, 2)
for cell, x0, y0 in ((1, 1000, 2000), (2.5, 500000.5, 6000000)):
    def write(name, r0, c0, rows, cols):
        with open("%s/%s_%g.asc" % (out, name, cell), "w") as f:
            f.write("ncols %d\nnrows %d\nxllcorner %r\nyllcorner %r\ncellsize %g\nNODATA_value -9999\n"
                    % (cols, rows, x0 + c0 * cell, y0 + (3 * h - r0 - rows) * cell, cell))
            for r in range(r0, r0 + rows): f.write(" ".join(z(r, c) for c in range(c0, c0 + cols)) + "\n")
    write("whole", 0, 0, 3 * h, 3 * w)
    for i in range(3):
        for j in range(3): write("tiles/t%d%d" % (i, j), i * h, j * w, h, w)
CUT
    # What the tiles write together, beside what the whole terrain writes: the same vertices
    # (as written; a PLY's positions and normals as float bits) and the same faces, each face of one tile.
    union() {  # WHOLE.obj|ply TILE.obj|ply...
        PYTHONPATH=$(dirname "$0") python3 - "$@" <<'SAME'
import mesh_read, struct, sys
def read(path):
    v, faces = [], []
    if path.endswith(".ply"):
        p, f, n = mesh_read.read_ply(path)
        v = [struct.pack("<6f", *a, *b) for a, b in zip(p, n)]
        return set(v), [tuple(v[i] for i in c) for c in f]
    for line in open(path, newline=""):
        w = line.split()
        if w and w[0] == "v": v.append(" ".join(w[1:4]))
        elif w and w[0] == "f": faces.append(tuple(v[int(c.split("/")[0]) - 1] for c in w[1:]))
    return set(v), faces
whole, faces = read(sys.argv[1])
tiles = [read(p) for p in sys.argv[2:]]
union = set().union(*(v for v, _ in tiles))
tiled = sorted(f for _, fs in tiles for f in fs)
if union != whole or tiled != sorted(faces):
    sys.exit("%d vertices only in tiles, %d only in the whole; %d faces, not %d" %
             (len(union - whole), len(whole - union), len(tiled), len(faces)))
SAME
    }
    # Simplified: along each border both tiles have the same edges (no crack, no T-junction) and
    # the same normals.
    seams() {  # TILE.obj... (tIJ)
        python3 - "$@" <<'SEAMS'
import collections, os, sys
tiles, normals = {}, {}
for path in sys.argv[1:]:
    v, count = [], collections.Counter()
    for line in open(path, newline=""):
        w = line.split()
        if w and w[0] == "v": v.append(tuple(w[1:4]))
        elif w and w[0] == "vn" and normals.setdefault(v[-1], w[1:]) != w[1:]: sys.exit("%s: normal at %s" % (path, v[-1]))
        elif w and w[0] == "f":
            c = [v[int(x.split("/")[0]) - 1] for x in w[1:]]
            count.update(frozenset(e) for e in zip(c, c[1:] + c[:1]))
    tiles[os.path.basename(path)[1:3]] = {e for e, n in count.items() if n == 1}
for name, edges in tiles.items():
    for other, axis, at in ((name[0] + str(int(name[1]) + 1), 0, (int(name[1]) + 1) * 100.0),
                            (str(int(name[0]) + 1) + name[1], 1, (2 - int(name[0])) * 75.0)):
        if other in tiles:
            a, b = ({e for e in t if all(float(p[axis]) == at for p in e)} for t in (edges, tiles[other]))
            if a != b or not a: sys.exit("t%s, t%s: %d and %d edges along their border, %d alike" % (name, other, len(a), len(b), len(a & b)))
SEAMS
    }
    # method geometry cell size, check, options
    for case in "simplified true 2.5 seams --normals" "interpolated classic 1 union" \
        "interpolated true 2.5 union --format ply --normals" "interpolated true 2.5 union"; do
        read -r method geometry cell check rest <<<"$case"
        [[ $rest == *ply* ]] && ext=ply || ext=obj
        rm -rf "$t/out" && mkdir "$t/out"
        "$convert" "$t/whole_$cell.asc" --method $method --geometry $geometry $rest --outdir "$t/out" >/dev/null &&
            "$convert" "$t"/tiles/*_$cell.asc --tile-set --method $method --geometry $geometry $rest --outdir "$t/out" \
                --timestamp "$stamp" >/dev/null || fail "$case: not converted"
        [[ $check == union ]] && set -- "$t/out/whole_${cell}__$method.$ext" || set --
        why=$($check "$@" "$t"/out/t??_${cell}__$method.$ext 2>&1) || fail "$case: $why"
    done
    # A neighbour cut short is taken as not there, with a warning (exit 3): t11 as in a set without t01.
    rm -rf "$t/cut" && mkdir -p "$t/cut/tiles" && cp "$t"/tiles/t*_1.asc "$t/cut/tiles/" && sed -i '$d' "$t/cut/tiles/t01_1.asc"
    "$convert" "$t"/cut/tiles/*.asc --tile-set --outdir "$t/cut/out" --timestamp "$stamp" >"$t/cut/said" 2>&1
    [[ $? == 3 ]] && grep -q "^.*t11_1.asc: its neighbour t01_1.asc holds 29 rows, not the 30" "$t/cut/said" ||
        fail "a neighbour cut short: $(cat "$t/cut/said")"
    rm "$t/cut/tiles/t01_1.asc" && "$convert" "$t"/cut/tiles/*.asc --tile-set --outdir "$t/cut/without" \
        --timestamp "$stamp" >/dev/null && cmp -s "$t"/cut/{out,without}/t11_1__interpolated.obj ||
        fail "a neighbour cut short: t11 is not as without it"
    # Two slices write what one run writes (with the set's origin, not each tile's).
    (cd "$t/tiles" && ls *_2.5.asc >list)
    for k in 1 2; do
        (cd "$t/tiles" && "$convert" --from list --slice $k/2 --tile-set --geometry true --outdir "$t/sliced" \
            --timestamp "$stamp" >/dev/null) || fail "slice $k/2"
    done
    for f in "$t"/out/t??_2.5__interpolated.obj; do cmp -s "$f" "$t/sliced/${f##*/}" || fail "${f##*/}: not as one run writes it"; done
    # A GLB keeps its positions from its own corner; its node's translation places it where the OBJ has it.
    "$convert" "$t"/tiles/*_2.5.asc --tile-set --format glb --outdir "$t/out" >/dev/null || fail "GLB: not converted"
    why=$(PYTHONPATH=$(dirname "$0") python3 - "$t/out" <<'GLB' 2>&1
import glob, json, mesh_read, os, struct, sys
for glb in sorted(glob.glob(sys.argv[1] + "/t??_2.5__interpolated.glb")):
    data = open(glb, "rb").read()
    node = json.loads(data[20:20 + struct.unpack_from("<I", data, 12)[0]])["nodes"][0]
    i, j = int(os.path.basename(glb)[1]), int(os.path.basename(glb)[2])
    if node["translation"] != [j * 40 * 2.5, 0, -(2 - i) * 30 * 2.5]: sys.exit("%s: translation %s" % (glb, node["translation"]))
    placed = mesh_read.read_glb(glb)[0]
    written = mesh_read.read_obj(glb[:-3] + "obj")[0]
    if len(placed) != len(written) or max(max(abs(a - b) for a, b in zip((p[0], -p[2], p[1]), q))
                                           for p, q in zip(placed, written)) > 2e-3:
        sys.exit("%s: not where the OBJ has its vertices" % glb)
GLB
    ) || fail "GLB: $why"
    node_path=${XDG_CACHE_HOME:-$HOME/.cache}/dunmoor/node_modules
    if [[ -d $node_path/gltf-validator ]] && command -v node >/dev/null; then
        NODE_PATH=$node_path node "$(dirname "$0")/gltf_validate.js" "$t"/out/*.glb >"$t/validated" || fail "GLB: $(cat "$t/validated")"
    fi
    # The height bitmaps map heights alike: by the set's range (the whole terrain's), or the range given.
    ranges() {  # PNG...: each one's HeightMin and HeightMax
        python3 -c 'import struct, sys
for p in sys.argv[1:]:
    d, i, t = open(p, "rb").read(), 8, {}
    while i < len(d):
        n, kind = struct.unpack_from(">I4s", d, i)
        if kind == b"tEXt": k, v = d[i + 8:i + 8 + n].split(b"\0"); t[k] = v.decode()
        i += 12 + n
    print(t[b"HeightMin"], t[b"HeightMax"])' "$@" | sort -u | tr '\n' ' '
    }
    for given in "" "-10 500.5"; do
        rm -rf "$t/png" && "$convert" "$t"/tiles/*_1.asc --tile-set --heightmap-only ${given:+--height-range $given} \
            --outdir "$t/png" >/dev/null && "$convert" "$t/whole_1.asc" --heightmap-only --outdir "$t/png" >/dev/null || fail "bitmaps"
        want=${given:-$(ranges "$t/png/whole_1__heightmap.png")} && want=${want% }
        [[ $(ranges "$t"/png/t??_1__heightmap.png) == "$want " ]] || fail "bitmaps ${given:-of the set}: $(ranges "$t"/png/t*.png)"
    done
    ((failures)) || echo "tiles: the set's meshes join as the whole terrain's, normals too, sliced or not; a neighbour cut short is left out; the GLBs placed by their nodes; the bitmaps map alike"
}

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
    # A tile set: each job a slice of the whole list, in a folder the host sees as it is.
    mkdir "$s/set" && cp "$work/tiles/"tile?[1-4].asc "$s/set/" && (cd "$s/set" && ls *.asc >tiles.txt)
    (cd "$s/set" && parallel --will-cite --ssh "ssh -F $s/ssh_config" -S 2/tilehost --workdir "$s/set" --joblog jobs.log \
        "$convert" --from tiles.txt --slice {}/3 --tile-set --skip-existing --log slice-{}.tsv --workers 1 \
        --timestamp "'$stamp'" ::: 1 2 3 >"$s/out" 2>&1) || fail "the tile set's slices: $(cat "$s/out")"
    local_same "$s/set" 4
    ((failures)) || echo "ssh: 4 tiles converted on the host and returned, the failed one resumed, nothing left there; a set in slices"
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
"$convert" --from tiles.txt --slice "\$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT" --tile-set --skip-existing \\
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
for part in ${@:-tiles ssh slurm}; do
    start=$SECONDS && "${part}_part" && echo "$part: $((SECONDS - start)) s"
done
((failures == 0)) || { echo "$failures cluster check(s) failed"; exit 1; }
echo "all cluster checks passed"
