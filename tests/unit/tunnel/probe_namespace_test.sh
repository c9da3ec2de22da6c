#!/bin/sh
# The probe's success path in private network and mount namespaces: the host is 127.0.0.1, where
# `openssl s_server` answers with a test CA's certificate; that CA replaces the system bundle.
# Usage: probe_namespace_test.sh <tunnel test binary> [runner, e.g. wine]; 77 = skipped.
set -eu
bundle=/etc/ssl/certs/ca-certificates.crt
unshare -n -m true 2>/dev/null && [ -f "$bundle" ] || { echo "SKIP: no unshare -n -m or no $bundle"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
host=foo-bar.trycloudflare.com
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj "/CN=VH test CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout srv.key -out srv.csr -subj "/CN=$host" 2>/dev/null
printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$host" > ext.cnf
openssl x509 -req -in srv.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out srv.crt -days 2 -extfile ext.cnf 2>/dev/null
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$host" > hosts
mkdir www && printf 'ok' > www/__vhhealth
# Under Wine a prefix of its own: its wineserver starts inside the namespace.
[ -z "${2:-}" ] || export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
export VH_PROBE_BIN="$1" VH_PROBE_RUNNER="${2:-}" VH_PROBE_HOST="$host" VH_PROBE_BUNDLE="$bundle"
exec unshare -n -m sh -c '
  set -eu
  ip link set lo up
  mount --bind hosts /etc/hosts
  mount --bind ca.crt "$VH_PROBE_BUNDLE"
  (cd www && exec openssl s_server -quiet -accept 443 -cert ../srv.crt -key ../srv.key -WWW) &
  srv=$!
  for i in $(seq 1 50); do
    curl -s -o /dev/null --max-time 2 --cacert ca.crt "https://$VH_PROBE_HOST/__vhhealth" && break
    [ $i -lt 50 ] || { echo "FAIL: test TLS server did not come up"; kill $srv; exit 1; }
    sleep 0.1
  done
  rc=0
  VH_PROBE_NAMESPACE=1 $VH_PROBE_RUNNER "$VH_PROBE_BIN" --gtest_filter=ProbeNamespace.* || rc=$?
  kill $srv 2>/dev/null || true
  [ -z "$VH_PROBE_RUNNER" ] || wineserver -k 2>/dev/null || true
  exit $rc
'
