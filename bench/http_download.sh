#!/usr/bin/env bash
# Download benchmark over loopback: our server (bench/serve_file: the
# program's listener and request handler) against nginx (sendfile on) and
# lighttpd, each serving the same 1 GiB file,
# fetched by 1 client and by 32 clients at once with curl. Prints throughput,
# server CPU seconds per GiB served, and ratios to the best peer.
# Informational only: nothing here gates CI.
#
# A single download over loopback on two cores varies by up to a fifth from
# one run to the next (where the scheduler puts server and client), so every
# figure is the median of several rounds, the servers taking turns in each.
# Server CPU is utime + stime from /proc; where the kernel accounts softirq
# time apart (the loopback receive path runs in the sender's context), that
# part is left out for every server alike.
#
#   bench/http_download.sh [BUILD_DIR]      (default build/linux; builds serve_file)
#   VH_BENCH_SIZE_MB=256 bench/http_download.sh   (smaller file for a quick look)
#   VH_BENCH_ROUNDS=5                       (rounds; default 5)
#   VH_BENCH_BASE=other/bench/serve_file    (a second build of ours, e.g. of the
#                                            main branch, measured as "base")
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
size_mb=${VH_BENCH_SIZE_MB:-1024}
many=${VH_BENCH_CLIENTS:-32}
max_time=${VH_BENCH_MAX_TIME:-600}   # bound for every single curl
rounds=${VH_BENCH_ROUNDS:-5}

need=()
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx)
command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ] || need+=(lighttpd)
command -v curl >/dev/null || need+=(curl)
if [ ${#need[@]} -gt 0 ]; then
  # Installing must not start the packages' own services.
  made_policy=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    made_policy=1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  [ $made_policy = 1 ] && rm -f /usr/sbin/policy-rc.d
fi
export PATH="$PATH:/usr/sbin"

if [ ! -d "$build" ]; then cmake --preset linux -B "$build" >/dev/null; fi
cmake --build "$build" --target serve_file >/dev/null

tmp=$(mktemp -d /tmp/vh-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_port() {  # PORT: up to 10 s
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "server on port $1 did not start" >&2
  return 1
}

# utime + stime in clock ticks of PID and its direct children (nginx workers).
cpu_ticks() {
  local total=0 p f stat
  for f in /proc/[0-9]*/stat; do
    stat=$(cat "$f" 2>/dev/null) || continue
    stat=${stat##*) }   # fields after the command name
    # shellcheck disable=SC2206
    local a=($stat)
    p=${f#/proc/}; p=${p%/stat}
    if [ "$p" = "$1" ] || [ "${a[1]}" = "$1" ]; then
      total=$((total + a[11] + a[12]))
    fi
  done
  echo "$total"
}

mkdir -p "$tmp/www" "$tmp/nginx"
chmod 755 "$tmp" "$tmp/www"   # nginx workers run as an unprivileged user
echo "creating a ${size_mb} MiB file..."
head -c "$((size_mb * 1048576))" /dev/urandom > "$tmp/www/file.bin"
# Written back before any measurement: the kernel's write-back of a fresh
# gigabyte would otherwise run during the first rounds.
sync "$tmp/www/file.bin"
bytes=$((size_mb * 1048576))

# Ours.
"$build/bench/serve_file" "$tmp/www/file.bin" > "$tmp/ours.out" 2>&1 &
pids+=($!); ours_pid=$!
for _ in $(seq 100); do grep -q '^port ' "$tmp/ours.out" && break; sleep 0.1; done
ours_port=$(awk '/^port /{print $2}' "$tmp/ours.out")

base=${VH_BENCH_BASE:-}
if [ -n "$base" ]; then
  "$base" "$tmp/www/file.bin" > "$tmp/base.out" 2>&1 &
  pids+=($!); base_pid=$!
  for _ in $(seq 100); do grep -qs '^port ' "$tmp/base.out" && break; sleep 0.1; done
  base_port=$(awk '/^port /{print $2}' "$tmp/base.out")
fi

# nginx, sendfile on, one worker per core.
nginx_port=$(free_port)
cat > "$tmp/nginx/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes auto;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$nginx_port; root $tmp/www; }
}
CONF
nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -e "$tmp/nginx/error.log" &
pids+=($!); nginx_pid=$!

# lighttpd (single process, its default network backend).
light_port=$(free_port)
cat > "$tmp/lighttpd.conf" <<CONF
server.document-root = "$tmp/www"
server.bind = "127.0.0.1"
server.port = $light_port
server.errorlog = "$tmp/lighttpd-error.log"
mimetype.assign = ( "" => "application/octet-stream" )
CONF
lighttpd -D -f "$tmp/lighttpd.conf" &
pids+=($!); light_pid=$!

wait_port "$ours_port"; wait_port "$nginx_port"; wait_port "$light_port"
[ -z "$base" ] || wait_port "$base_port"

# run NAME PID URL CLIENTS -> "throughput_MiB/s cpu_s_per_GiB"
run() {
  local name=$1 pid=$2 url=$3 n=$4 i ok=1
  local c0 t0 t1 c1
  c0=$(cpu_ticks "$pid"); t0=$(date +%s.%N)
  local cpids=()
  for i in $(seq "$n"); do
    curl -s -o /dev/null --max-time "$max_time" -w '%{size_download}\n' "$url" > "$tmp/curl.$name.$i" &
    cpids+=($!)
  done
  for p in "${cpids[@]}"; do wait "$p" || ok=0; done
  t1=$(date +%s.%N); c1=$(cpu_ticks "$pid")
  for i in $(seq "$n"); do
    [ "$(cat "$tmp/curl.$name.$i")" = "$bytes" ] || ok=0
  done
  [ $ok = 1 ] || echo "warning: $name with $n clients: incomplete downloads" >&2
  local hz; hz=$(getconf CLK_TCK)
  awk -v b="$bytes" -v n="$n" -v t0="$t0" -v t1="$t1" -v c0="$c0" -v c1="$c1" -v hz="$hz" \
    'BEGIN { gib = b * n / 1073741824; printf "%.1f %.3f\n", b * n / 1048576 / (t1 - t0), (c1 - c0) / hz / gib }'
}

declare -A url pid
url[ours]="http://127.0.0.1:$ours_port/bench?dl=1"; pid[ours]=$ours_pid
url[nginx]="http://127.0.0.1:$nginx_port/file.bin"; pid[nginx]=$nginx_pid
url[lighttpd]="http://127.0.0.1:$light_port/file.bin"; pid[lighttpd]=$light_pid
servers=(ours nginx lighttpd)
if [ -n "$base" ]; then
  url[base]="http://127.0.0.1:$base_port/bench?dl=1"; pid[base]=$base_pid
  servers+=(base)
fi

# Warm the page cache and every server once.
for name in "${servers[@]}"; do curl -s -o /dev/null --max-time "$max_time" "${url[$name]}"; done

# median of the numbers on standard input
median() { sort -g | awk '{v[NR] = $1} END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A tput cpu samples
for r in $(seq "$rounds"); do
  k=$((r % ${#servers[@]}))   # who goes first changes every round
  order=("${servers[@]:k}" "${servers[@]:0:k}")
  for n in 1 "$many"; do
    for name in "${order[@]}"; do
      samples[$name.$n]+="$(run "$name" "${pid[$name]}" "${url[$name]}" "$n")"$'\n'
    done
  done
  echo "round $r of $rounds done"
done
for key in "${!samples[@]}"; do
  echo "samples $key (MiB/s / CPU s/GiB): $(printf '%s' "${samples[$key]}" | awk 'NF {printf "%s/%s ", $1, $2}')"
  tput[$key]=$(printf '%s' "${samples[$key]}" | awk 'NF {print $1}' | median)
  cpu[$key]=$(printf '%s' "${samples[$key]}" | awk 'NF {print $2}' | median)
done

printf '\nmedians of %s rounds\n%-9s %-8s %14s %12s\n' "$rounds" clients server "MiB/s" "CPU s/GiB"
for n in 1 "$many"; do
  for name in "${servers[@]}"; do
    printf '%-9s %-8s %14s %12s\n' "$n" "$name" "${tput[$name.$n]}" "${cpu[$name.$n]}"
  done
done
echo
for n in 1 "$many"; do
  awk -v o="${tput[ours.$n]}" -v a="${tput[nginx.$n]}" -v b="${tput[lighttpd.$n]}" \
      -v oc="${cpu[ours.$n]}" -v nc="${cpu[nginx.$n]}" -v n="$n" \
    'BEGIN { best = a > b ? a : b;
             printf "%s clients: throughput ours/best peer %.2f (target >= 0.95); CPU/GiB ours/nginx %.2f (target <= 1.00)\n",
                    n, o / best, (nc > 0 ? oc / nc : 0) }'
  [ -z "$base" ] || awk -v o="${tput[ours.$n]}" -v b="${tput[base.$n]}" -v oc="${cpu[ours.$n]}" \
      -v bc="${cpu[base.$n]}" -v n="$n" \
    'BEGIN { printf "%s clients: ours/base throughput %.2f, CPU/GiB %.2f\n", n, o / b, (bc > 0 ? oc / bc : 0) }'
done
