#!/usr/bin/env bash
# Times `tertulia-tool render` against `cat` on the same 8 MiB transcript fed through a pipe,
# taking turns (best of 7 each), and prints the time ratio (wall and CPU) and the peak resident
# memory of both. Usage: bench/render_vs_cat.sh [path/to/tertulia-tool]
set -euo pipefail

tool=${1:-build/tools/tertulia-tool}
[ -x "$tool" ] || { echo "no executable tertulia-tool at $tool" >&2; exit 2; }
here=$(dirname "$0")
work=$(mktemp -d -p "$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)")
trap 'rm -rf "$work"' EXIT

# A transcript as the service writes it: a bold speaker and time, Spanish text with its accents
# as entities, now and then quotes, ampersands, "<" and an encoded entity, "<br>" at the end of
# every line.
python3 - "$work/transcript" <<'PY'
import random, sys
speakers = ["<b>Operador (10:32:15)</b>: ", "<b>Visitante (10:32:40)</b>: "]
phrases = [
    "Hola, &iquest;en qu&eacute; puedo ayudarle? ",
    "Quer&iacute;a saber el estado de mi pedido n&uacute;mero 4711. ",
    "El env&iacute;o sali&oacute; ayer &amp; llegar&aacute; ma&ntilde;ana. ",
    "&iexcl;Muchas gracias! ",
    "La factura dice &quot;pendiente&quot;, &iquest;es correcto? ",
    "S&iacute;, el importe es 25&nbsp;&euro; &lt; 30 &euro;. ",
    "Escriba a soporte@example.com para la devoluci&oacute;n. ",
    "Un momento, por favor... ",
    "El c&oacute;digo &amp;lt;ABC&amp;gt; no aparece. ",
    "Perfecto, que tenga un buen d&iacute;a. ",
]
size = 8 * 1024 * 1024
rng = random.Random(42)
parts, total, line = [], 0, 0
while total < size:
    text = speakers[line % 2] + "".join(rng.choice(phrases) for _ in range(rng.randint(1, 3))) + "<br>"
    parts.append(text)
    total += len(text)
    line += 1
with open(sys.argv[1], "wb") as out:
    out.write("".join(parts)[:size].encode("latin-1"))
PY

# The rendering must not depend on how the pipe cuts the reply: odd-sized writes against
# reading the whole file.
dd if="$work/transcript" bs=4093 status=none | "$tool" render > "$work/piped"
"$tool" render < "$work/transcript" > "$work/whole"
cmp -s "$work/piped" "$work/whole" || { echo "FAIL: piped rendering differs" >&2; exit 1; }

cat "$work/transcript" > /dev/null
python3 "$here/timed_runs.py" 7 pipe "$work/transcript" \
    render "$tool render" cat "cat" > "$work/times"

# Peak resident memory, through a pipe as above (best of 3; /usr/bin/time is the Debian
# package "time").
peak_rss_kib() {
    local best="" rss
    for _ in 1 2 3; do
        cat "$work/transcript" | /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null
        rss=$(cat "$work/rss")
        if [ -z "$best" ] || [ "$rss" -lt "$best" ]; then best=$rss; fi
    done
    echo "$best"
}
if [ -x /usr/bin/time ]; then
    echo "render_rss $(peak_rss_kib "$tool" render)" >> "$work/times"
    echo "cat_rss $(peak_rss_kib cat)" >> "$work/times"
else
    echo "no /usr/bin/time (Debian package \"time\"): peak memory not measured" >&2
fi

awk '
    { first[$1] = $2; second[$1] = $3 }
    END {
        printf "tertulia-tool render:  %6.1f ms wall  %6.1f ms CPU\n", \
            first["render"] * 1000, second["render"] * 1000
        printf "cat:                   %6.1f ms wall  %6.1f ms CPU\n", \
            first["cat"] * 1000, second["cat"] * 1000
        printf "8 MiB through a pipe, time ratio (render / cat): %.2f wall, %.2f CPU\n", \
            first["render"] / first["cat"], second["render"] / second["cat"]
        if ("render_rss" in first)
            printf "peak RSS on 8 MiB: render %.2f MiB, cat %.2f MiB\n", \
                first["render_rss"] / 1024, first["cat_rss"] / 1024
    }' "$work/times"
