# Sourced by the scripts that start processes of their own: a temporary folder `work`, and the
# array `pids` of the processes started, which are ended, and the folder removed, when the
# script exits. The caller may set `work_template`, a template for mktemp.
work=$(mktemp -d ${work_template:+"$work_template"})
pids=()
end_processes() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
}
end_processes_and_remove_work() {
    end_processes
    rm -rf "$work"
}
trap end_processes_and_remove_work EXIT
