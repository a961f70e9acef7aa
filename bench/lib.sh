# shellcheck shell=bash
# Shared by the benchmark scripts. Sourced, not run.
# shellcheck disable=SC2034  # CLI and FUSE_PID are for the scripts that source this

# require_tools HINT TOOL...: stops with a message naming the first missing tool.
require_tools() {
    local hint=$1 tool
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$tool is not installed ($hint)" >&2; exit 1; }
    done
}

# build_cli BUILD_DIR: builds brenvale-cli there and sets CLI to it.
build_cli() {
    cmake --build "$1" --target brenvale-cli >/dev/null
    CLI="$1/brenvale-cli"
}

# mount_ntfs LOOP MOUNTPOINT LOG [OPTIONS]: ntfs-3g in the foreground as a child (FUSE_PID), so
# that waiting for it after umount means everything was written back; returns once mounted.
mount_ntfs() {
    local loop=$1 mnt=$2 log=$3 opts=${4:-no_detach} i
    ntfs-3g -o "$opts" "$loop" "$mnt" >"$log" 2>&1 &
    FUSE_PID=$!
    for ((i = 0; i < 100; ++i)); do mountpoint -q "$mnt" && return 0; sleep 0.1; done
    cat "$log" >&2
    echo "ntfs-3g did not mount $loop" >&2
    exit 1
}

# begin_image_work TAG PART...: a scratch folder ($WORK) and a trap that, however the script
# ends, unmounts $MNT, waits for ntfs-3g ($FUSE_PID), detaches $LOOP, and removes the scratch
# folder and the unfinished images PART...
begin_image_work() {
    local tag=$1
    shift
    UNFINISHED=("$@")
    WORK=$(mktemp -d --tmpdir "brenvale-$tag-XXXXXX")
    MNT=""
    LOOP=""
    FUSE_PID=""
    trap end_image_work EXIT
    trap 'exit 130' INT TERM
}

end_image_work() {
    if [[ -n $MNT ]] && mountpoint -q "$MNT"; then umount "$MNT" || umount -l "$MNT" || true; fi
    if [[ -n $FUSE_PID ]]; then wait "$FUSE_PID" || true; fi
    if [[ -n $LOOP ]]; then losetup -d "$LOOP" || true; fi
    rm -rf "$WORK"
    rm -f "${UNFINISHED[@]}"
}

# finish_ntfs_fill: unmounts $MNT, waits until ntfs-3g has written everything back (the image
# is complete only once it has ended) and detaches $LOOP.
finish_ntfs_fill() {
    umount "$MNT"
    wait "$FUSE_PID"
    FUSE_PID=""
    MNT=""
    losetup -d "$LOOP"
    LOOP=""
}

# Names are set with printf -v: a command substitution per file would fork 100,000 times.
top_name() { printf -v "$1" 'Top folder %02d' "$2"; }
mid_name() {
    if (( $3 % 2 )); then printf -v "$1" 'SUB%d_%02d' "$2" "$3"; else printf -v "$1" 'Project archive %d-%02d (copy)' "$2" "$3"; fi
}
leaf_name() { printf -v "$1" 'leaf%02d' "$2"; }
file_name() {
    case $(($2 % 5)) in
        0) printf -v "$1" 'f%05d.txt' "$2" ;;
        1) printf -v "$1" 'F%05d.BIN' "$2" ;;
        2) printf -v "$1" 'Meeting notes from the quarterly review number %05d.txt' "$2" ;;
        3) printf -v "$1" 'photo_%05d.jpeg' "$2" ;;
        *) printf -v "$1" 'Mixed Case %05d.Dat' "$2" ;;
    esac
}

# make_scan_tree TREE TAG LEAVES FILES: the tree the scan benchmarks copy into their volumes,
# built on the local file system with builtins only (a process per file would take minutes):
# 10 top folders x 10 folders x LEAVES leaf folders x FILES files of 1 to 4000 bytes, cut from
# one fixed block that names TAG. Sets deleted_files (every tenth file of the first top
# folder) and deleted_dir (one leaf folder of the second), which the scripts delete.
make_scan_tree() {
    local tree=$1 tag=$2 leaves=$3 files=$4
    mkdir "$tree"
    local blob="" i
    for ((i = 0; i < 80; ++i)); do blob+="brenvale $tag scan benchmark line $(printf '%05d' "$i") 0123456789abcdef\n"; done
    blob=$(printf '%b' "$blob")
    local n=0 a b c f ta="" tb="" tc="" name="" dir
    deleted_files=()
    for ((a = 0; a < 10; ++a)); do
        top_name ta "$a"
        for ((b = 0; b < 10; ++b)); do
            mid_name tb "$a" "$b"
            for ((c = 0; c < leaves; ++c)); do
                leaf_name tc "$c"
                dir="$ta/$tb/$tc"
                mkdir -p "$tree/$dir"
                for ((f = 0; f < files; ++f)); do
                    file_name name "$n"
                    printf '%s' "${blob:0:$((n * 37 % 4000 + 1))}" >"$tree/$dir/$name"
                    if (( a == 0 && f % 10 == 3 )); then deleted_files+=("$dir/$name"); fi
                    n=$((n + 1))
                done
            done
        done
    done
    top_name ta 1
    mid_name tb 1 2
    leaf_name tc 4
    deleted_dir="$ta/$tb/$tc"
}
