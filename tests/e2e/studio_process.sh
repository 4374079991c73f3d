# Shared by the end-to-end scripts: waits until a studio started in the background has printed
# its pairing link into its log; false after ten seconds.
#   wait_for_pairing_link <log>
wait_for_pairing_link() {
    for _ in $(seq 100); do
        grep -q '^pairing link: ' "$1" && return 0
        sleep 0.1
    done
    return 1
}
