# The demo's service and proxies, for scripts that source this file
# (scripts/run, scripts/test-windows-app): the reference web service on
# loopback with real forward proxies (tinyproxy) tagged with different
# countries, each proxy on a loopback address of its own (port 8888):
#   127.0.0.2  United States      127.0.0.3  United States
#   127.0.0.4  Germany            127.0.0.5  Japan
#   127.0.0.6  United States, a super proxy (kept alive by the touch call)
# demo_start FOLDER PORT SERVICE_EXE FLAGS_FOLDER starts them (the pool in
# FOLDER/pool.db, each proxy's log in FOLDER/tinyproxy-<address>.log) and
# adds their process ids to the array demo_pids; demo_stop ends them.

demo_pids=()
demo_proxies=(
  "127.0.0.2|United States|US|-97|38"
  "127.0.0.3|United States|US|-90|35"
  "127.0.0.4|Germany|DE|9|51"
  "127.0.0.5|Japan|JP|138|36"
)
demo_super_proxies=("127.0.0.6|United States|US|-77|39")

# Waits until a TCP port accepts connections (bash's /dev/tcp).
demo_wait_port() {
  local host=$1 p=$2
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$host/$p") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "nothing answers on $host:$p" >&2
  return 1
}

# The pool's records of the given proxies.
demo_records() {
  for p in "$@"; do
    IFS='|' read -r address name code lon lat <<<"$p"
    echo "$address:8888|$name|$code|$lon|$lat"
  done
}

demo_start() {
  local demo=$1 port=$2 service=$3 flags=$4
  mkdir -p "$demo"
  demo="$(cd "$demo" && pwd)"
  local tinyproxy_bin
  tinyproxy_bin="$(command -v tinyproxy || true)"
  [ -z "$tinyproxy_bin" ] && [ -x /usr/bin/tinyproxy ] && tinyproxy_bin=/usr/bin/tinyproxy
  if [ -z "$tinyproxy_bin" ]; then
    echo "tinyproxy is not installed (scripts/deps installs it)" >&2
    return 1
  fi
  local p address conf
  for p in "${demo_proxies[@]}" "${demo_super_proxies[@]}"; do
    address="${p%%|*}"
    conf="$demo/tinyproxy-$address.conf"
    {
      [ "$(id -u)" -eq 0 ] && printf 'User nobody\nGroup nogroup\n'
      # Bind: the proxy leaves through its own address, which the checker
      # expects to see in the service's answer.
      printf 'Port 8888\nListen %s\nBind %s\nTimeout 60\nLogLevel Info\nMaxClients 50\nAllow 127.0.0.0/8\n' \
        "$address" "$address"
    } >"$conf"
    "$tinyproxy_bin" -d -c "$conf" >"$demo/tinyproxy-$address.log" 2>&1 &
    demo_pids+=($!)
  done

  # The service: the demo configuration with its pool and the shipped flags.
  cat >"$demo/service.conf" <<CONF
; The reference service of the demo.
[service]
listen = 127.0.0.1
port = $port
magicword = VG-DEMO
check_magicword = 1
flags = $flags
log = $demo/service.log
touches = $demo/touches.log
database = $demo/pool.db

[checker]
interval = 20
failures = 3
timeout = 5

[update]
Result = 0
info = Veilgate is up to date.
page = http://{service}/page/download

[settings]
SUPER_TOUCH = http://{service}/touch?ip={1}
URL.CheckIP = http://{service}/checkip
URL.FlagPath = http://{service}/flags/

[localinfo]
ip =
country_short = US
country_long = United States
city = Dallas
region = Texas
latitude = 32.78
longitude = -96.80
CONF
  rm -f "$demo/pool.db" "$demo/pool.db-wal" "$demo/pool.db-shm"
  demo_records "${demo_proxies[@]}" >"$demo/normal.txt"
  demo_records "${demo_super_proxies[@]}" >"$demo/super.txt"
  "$service" --config "$demo/service.conf" pool import "$demo/normal.txt" >/dev/null
  "$service" --config "$demo/service.conf" pool import "$demo/super.txt" --super >/dev/null
  "$service" --config "$demo/service.conf" >"$demo/service.out" 2>&1 &
  demo_pids+=($!)
  demo_wait_port 127.0.0.1 "$port"
  for p in "${demo_proxies[@]}" "${demo_super_proxies[@]}"; do demo_wait_port "${p%%|*}" 8888; done
}

demo_stop() {
  local pid
  for pid in "${demo_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${demo_pids[@]}" 2>/dev/null || true
  demo_pids=()
}
