#!/usr/bin/env bash
# Sourced by the tools that fetch from Debian: the mirror this machine's own apt sources name, so no host is
# named anywhere else.

# The first URI the machine's own apt uses for a suite, from one-line and deb822 source files alike.
apt_uri() {
    local suite="$1" f
    {
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            awk -v s="$suite" '$1 == "deb" {
                i = 2
                if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                for (j = i + 1; j <= NF; j++) if ($j == s) print $i
            }' "$f"
        done
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            awk -v s="$suite" 'BEGIN { RS = "" } {
                types = uris = suites = ""; on = 1
                n = split($0, line, "\n")
                for (k = 1; k <= n; k++) {
                    if (line[k] ~ /^#/) continue
                    if (line[k] ~ /^Types:/) types = line[k]
                    if (line[k] ~ /^URIs:/) { uris = line[k]; sub(/^URIs:[ \t]*/, "", uris) }
                    if (line[k] ~ /^Suites:/) suites = line[k]
                    if (line[k] ~ /^Enabled:[ \t]*no/) on = 0
                }
                if (on && types ~ /[ \t]deb([ \t]|$)/ && (suites " ") ~ ("[ \t]" s "[ \t]")) { split(uris, u, /[ \t]+/); print u[1] }
            }' "$f"
        done
    } | head -n1
}
