#!/bin/sh
# The probe's success path in private network and mount namespaces: the host is 127.0.0.1, where
# `openssl s_server` answers with a test CA's certificate; that CA replaces the system bundle.
# Usage: probe_namespace_test.sh <tunnel test binary> [runner, e.g. wine]; 77 = skipped.
set -eu
bin=$1
runner=${2:-}
bundle=/etc/ssl/certs/ca-certificates.crt
unshare -n -m true 2>/dev/null || { echo "SKIP: unshare -n -m is not permitted here"; exit 77; }
[ -f "$bundle" ] || { echo "SKIP: no system CA bundle at $bundle"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
host=foo-bar.trycloudflare.com
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj "/CN=VH test CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout srv.key -out srv.csr -subj "/CN=$host" 2>/dev/null
printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$host" > ext.cnf
openssl x509 -req -in srv.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out srv.crt -days 2 \
  -extfile ext.cnf 2>/dev/null
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$host" > hosts
mkdir www
printf 'ok' > www/__vhhealth

# Under Wine a prefix of its own: its wineserver starts inside the namespace.
[ -z "$runner" ] || export WINEPREFIX="$work/wineprefix"
export VH_PROBE_BIN="$bin" VH_PROBE_RUNNER="$runner" VH_PROBE_HOST="$host" VH_PROBE_BUNDLE="$bundle"
exec unshare -n -m sh -c '
  set -eu
  ip link set lo up
  mount --bind hosts /etc/hosts
  mount --bind ca.crt "$VH_PROBE_BUNDLE"
  (cd www && exec openssl s_server -quiet -accept 443 -cert ../srv.crt -key ../srv.key -WWW) &
  srv=$!
  ok=0
  for i in $(seq 1 50); do
    curl -s -o /dev/null --max-time 2 --cacert ca.crt "https://$VH_PROBE_HOST/__vhhealth" && { ok=1; break; }
    sleep 0.1
  done
  [ $ok = 1 ] || { echo "FAIL: test TLS server did not come up"; kill $srv; exit 1; }
  rc=0
  VH_PROBE_NAMESPACE=1 $VH_PROBE_RUNNER "$VH_PROBE_BIN" --gtest_filter=*ReachableAddressIsPublishedAsProbed || rc=$?
  kill $srv 2>/dev/null || true
  wait $srv 2>/dev/null || true
  [ -z "$VH_PROBE_RUNNER" ] || wineserver -k 2>/dev/null || true
  exit $rc
'
