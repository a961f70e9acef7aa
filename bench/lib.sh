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
