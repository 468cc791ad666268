#!/bin/bash
# Self-test of the local services: starts the binary on free ports and checks
# the main endpoints and the fault injection with curl.
# Usage: services/selftest.sh [path/to/local-services]
set -u

BIN=${1:-$(dirname "$0")/../build/native-services/local-services}
[ -x "$BIN" ] || { echo "local-services binary not found: $BIN" >&2; exit 2; }

WORK=$(mktemp -d)
SVC_PID=
cleanup() {
    [ -n "$SVC_PID" ] && kill "$SVC_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

PASS=0
FAIL=0
check() {  # name expected actual
    if [ "$2" == "$3" ]; then
        PASS=$((PASS + 1))
    else
        FAIL=$((FAIL + 1))
        echo "FAIL: $1: expected [$2], got [$3]"
    fi
}
check_true() {  # name command...
    local name=$1
    shift
    if "$@"; then PASS=$((PASS + 1)); else FAIL=$((FAIL + 1)); echo "FAIL: $name"; fi
}

# A package of 3 MiB + 7 bytes, so sizes are not round numbers.
mkdir -p "$WORK/root"
PKG=$WORK/root/pkg.exe
head -c $((3 * 1048576 + 7)) /dev/urandom >"$PKG"
SIZE=$(stat -c %s "$PKG")
PKG_MD5=$(md5sum <"$PKG" | cut -d' ' -f1)

start_services() {  # output-file extra-args...
    local out=$1
    shift
    "$BIN" --http-port 0 --https-port 0 --root "$WORK/root" --cert-dir "$WORK/cert" "$@" >"$out" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
        grep -q '^https ' "$out" 2>/dev/null && break
        sleep 0.05
    done
    echo $pid
}

# One banner picture of a folder (the demo serves the skin's pictures this way); the others drawn.
mkdir -p "$WORK/banners"
head -c 4096 /dev/urandom >"$WORK/banners/7.png"
SVC_PID=$(start_services "$WORK/out.txt" --record "$WORK/record.jsonl" --parent-pid $$ --banner-dir "$WORK/banners")
H=$(awk '$1 == "http" {print $2}' "$WORK/out.txt")
S=$(awk '$1 == "https" {print $2}' "$WORK/out.txt")
[ -n "$H" ] && [ -n "$S" ] || { echo "services did not start:"; cat "$WORK/out.txt"; exit 1; }
HTTPS_HOSTPORT=${S#https://}
C=(curl -s -k --max-time 10)

# --- Listeners bind to loopback only ---------------------------------------------
for url in "$H" "$S"; do
    port=$(printf '%04X' "${url##*:}")
    check "listener of $url is on 127.0.0.1 only" "0100007F" \
        "$(awk -v p=":$port" '$2 ~ p"$" && $4 == "0A" {split($2, a, ":"); print a[1]}' /proc/net/tcp | sort -u)"
done

# --- Package files -------------------------------------------------------------------
hdr() { "${C[@]}" -o /dev/null -D - "$@" | tr -d '\r'; }
check "HEAD status and length" "200 $SIZE" \
    "$("${C[@]}" -I -o /dev/null -w '%{http_code} ' "$H/download/pkg.exe")$(hdr -I "$H/download/pkg.exe" | awk -F': ' '$1 == "Content-Length" {print $2}')"
check "whole file over HTTP" "$PKG_MD5" "$("${C[@]}" "$H/download/pkg.exe" | md5sum | cut -d' ' -f1)"
check "whole file over HTTPS" "$PKG_MD5" "$("${C[@]}" "$S/download/pkg.exe" | md5sum | cut -d' ' -f1)"

# Ranges: request, expected status, expected Content-Range, expected bytes (offset length).
while read -r range status crange off len; do
    crange=${crange//_/ }  # the table writes the blank inside the header value as "_"
    got=$("${C[@]}" -r "$range" -o "$WORK/part" -D "$WORK/part.h" -w '%{http_code}' "$H/download/pkg.exe")
    check "range $range status" "$status" "$got"
    check "range $range Content-Range" "$crange" "$(tr -d '\r' <"$WORK/part.h" | awk -F': ' '$1 == "Content-Range" {print $2}')"
    if [ "$len" != "-" ]; then
        check "range $range bytes" "$(tail -c +$((off + 1)) "$PKG" | head -c "$len" | md5sum)" "$(md5sum <"$WORK/part")"
    fi
done <<EOF
0-99 206 bytes_0-99/$SIZE 0 100
100-4194303 206 bytes_100-$((SIZE - 1))/$SIZE 100 $((SIZE - 100))
$((SIZE - 1))-$SIZE 206 bytes_$((SIZE - 1))-$((SIZE - 1))/$SIZE $((SIZE - 1)) 1
-5 206 bytes_$((SIZE - 5))-$((SIZE - 1))/$SIZE $((SIZE - 5)) 5
$SIZE- 416 bytes_*/$SIZE - -
10-5 416 bytes_*/$SIZE - -
EOF

# Segments fetched in parallel add up to the file.
SEG=$((SIZE / 4))
for i in 0 1 2 3; do
    a=$((i * SEG))
    b=$(((i + 1) * SEG - 1))
    [ $i -eq 3 ] && b=$SIZE
    "${C[@]}" -r "$a-$b" -o "$WORK/seg$i" "$S/download/pkg.exe" &
done
wait_jobs() { for j in $(jobs -p); do [ "$j" != "$SVC_PID" ] && wait "$j"; done; }
wait_jobs
check "parallel segments" "$PKG_MD5" "$(cat "$WORK"/seg0 "$WORK"/seg1 "$WORK"/seg2 "$WORK"/seg3 | md5sum | cut -d' ' -f1)"

check "two redirects then the file" "302 2 $PKG_MD5" \
    "$("${C[@]}" -o /dev/null -w '%{http_code} ' "$H/redirect/2/download/pkg.exe")$("${C[@]}" -L -o "$WORK/r" -w '%{num_redirects}' "$H/redirect/2/download/pkg.exe") $(md5sum <"$WORK/r" | cut -d' ' -f1)"
check "redirect loop gives up" "47" "$("${C[@]}" -L --max-redirs 5 -o /dev/null "$H/loop/download/pkg.exe"; echo $?)"
check "banner from the banner folder" "$(md5sum <"$WORK/banners/7.png")" "$("${C[@]}" "$H/banners/7.png" | md5sum)"
check "banner drawn where the folder has none" "PNG" "$("${C[@]}" "$H/banners/2.png" | head -c 4 | tail -c 3)"
check "banner path reaches no other file" "$(md5sum <"$WORK/banners/7.png")" \
    "$("${C[@]}" --path-as-is "$H/banners/7/../../root/pkg.exe" | md5sum)"
check "missing file" "404" "$("${C[@]}" -o /dev/null -w '%{http_code}' "$H/download/none.exe")"

# --- Configuration query ----------------------------------------------------------------
Q="queryDownloaderV2?LanguageId=0&SoftWareID=4321&SiteID=7&package_type=5"
for url in "$S/$Q" "http://$HTTPS_HOSTPORT/$Q"; do
    xml=$("${C[@]}" "$url")
    field() { sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" <<<"$xml"; }
    check "config $url Md5" "$PKG_MD5" "$(field Md5)"
    check "config $url Filesize" "$SIZE" "$(field Filesize)"
    check "config $url Download_url" "$H/download/pkg.exe" "$(field Download_url)"
    check "config $url Downloader_id" "4321" "$(field Downloader_id)"
done
# A package replaced by another of the same size and the same modification time (a copy that
# keeps the source's time, within one second of the first) is hashed again.
cp -p "$PKG" "$WORK/pkg.orig"
head -c "$SIZE" /dev/urandom >"$WORK/other"
touch -r "$PKG" "$WORK/other"
cp -p "$WORK/other" "$PKG"
check "config Md5 of a replaced package with the same size and time" "$(md5sum <"$PKG" | cut -d' ' -f1)" \
    "$("${C[@]}" "$S/$Q" | sed -n 's:.*<Md5>\(.*\)</Md5>.*:\1:p')"
cp -p "$WORK/pkg.orig" "$PKG"
check "config Md5 once the package is back" "$PKG_MD5" "$("${C[@]}" "$S/$Q" | sed -n 's:.*<Md5>\(.*\)</Md5>.*:\1:p')"
check "config override" '{"ok":true}' "$("${C[@]}" -d '{"Slice_num":3,"TimeoutCfg":"5,30"}' "$H/__control/config")"
xml=$("${C[@]}" "$S/$Q")
check "config override fields" "3 5,30" "$(sed -n 's:.*<Slice_num>\(.*\)</Slice_num>.*:\1:p' <<<"$xml") $(sed -n 's:.*<TimeoutCfg>\(.*\)</TimeoutCfg>.*:\1:p' <<<"$xml")"

# --- Data service: signed queries ---------------------------------------------------------
SALT=pvdkwTN38mgo5QX7
sign() { printf '%s' "$1$SALT" | md5sum | cut -d' ' -f1; }
QB="lang_code=en&parent_pid=12&timestamp=$(date +%s)&type=1"
QP="parent_pid=12&timestamp=$(date +%s)"
while read -r path query verify status; do
    [ "$verify" == "good" ] && verify=$(sign "$query")
    check "data $path $verify" "$status" "$("${C[@]}" -o "$WORK/data" -w '%{http_code}' "$S$path?$query&verify=$verify")"
done <<EOF
/api/v1/banners $QB good 200
/api/v1/banners $QB 0123456789abcdef0123456789abcdef 403
/api/v1/user_privacy_info $QP good 200
/api/v1/user_privacy_info timestamp=1&parent_pid=12 good 403
EOF
"${C[@]}" -o "$WORK/data" "$S/api/v1/banners?$QB&verify=$(sign "$QB")"
banner=$(grep -o '"banner_url":"[^"]*"' "$WORK/data" | head -1 | cut -d'"' -f4)
check "banner image is a PNG" "89504e47" "$("${C[@]}" "$banner" | head -c 4 | od -An -tx1 | tr -d ' \n')"

# --- Report endpoints ------------------------------------------------------------------------
echo "log line" >"$WORK/Setup_1.log"
while read -r expect args; do
    check "endpoint $args" "$expect" "$(eval "\"\${C[@]}\" -o /dev/null -w '%{http_code}' $args")"
done <<EOF
200 -d '{"event":"x"}' "$S/collect"
200 -d '{"event":"x"}' "$S/collector"
204 -d '' "$S/g/collect?v=2&cid=ABC&tid=G-1"
405 "$S/g/collect"
200 -d 'pid=1&type=2&exception_code=MD5_Check_Fail_Cfg1&other=a,b' "$S/api/exception/send"
200 -F "file=@$WORK/Setup_1.log;filename=Setup_20250101.zip" -F product_id=P -F catalogue=CrashDmp "$S/v1/productLogUpload"
400 -F product_id=P "$S/v1/productLogUpload"
EOF

# --- Records -------------------------------------------------------------------------------
REC=$("${C[@]}" "$H/__control/requests?path=/api/exception/send")
check_true "record holds the exception report body" grep -q '"body":"pid=1&type=2&exception_code=MD5_Check_Fail_Cfg1&other=a,b"' <<<"$REC"
check_true "record file holds the upload form" grep -q '"name":"file","filename":"Setup_20250101.zip"' "$WORK/record.jsonl"
check_true "record notes plain HTTP on the HTTPS port" grep -q '"listener":"https-plain","method":"GET","path":"/queryDownloaderV2"' "$WORK/record.jsonl"
check "control requests are not recorded" "0" "$(grep -c '"path":"/__control' "$WORK/record.jsonl")"
check "one JSON line per request" "$(wc -l <"$WORK/record.jsonl")" "$(grep -c '^{.*"seq":[0-9]*}$' "$WORK/record.jsonl")"

# --- Faults --------------------------------------------------------------------------------
fault() { "${C[@]}" -o /dev/null -d "$1" "$H/__control/faults"; }
reset() { "${C[@]}" -o /dev/null -d '' "$H/__control/reset"; }
# rule | curl arguments | expected "status exit bytes" (bytes "-" = not checked)
while IFS='|' read -r rule args expect; do
    reset
    fault "$rule"
    got=$(eval "\"\${C[@]}\" -o /dev/null -w '%{http_code} %{size_download}' $args"; echo " $?")
    read -r gstatus gsize gexit <<<"$got"
    read -r estatus eexit ebytes <<<"$expect"
    [ "$ebytes" == "-" ] && gsize=-
    check "fault $rule" "$estatus $eexit $ebytes" "$gstatus $gexit $gsize"
done <<EOF
{"path":"/download/","status":404}|"$H/download/pkg.exe"|404 0 -
{"path":"/download/","status":503}|-r 0-9 "$S/download/pkg.exe"|503 0 -
{"path":"/download/","drop_after":1000}|"$H/download/pkg.exe"|200 18 1000
{"path":"/download/","reset_after":1000}|"$H/download/pkg.exe"|200 56 -
{"path":"/download/","reset_after":1000}|"$S/download/pkg.exe"|200 56 -
{"path":"/download/","ignore_range":true}|-r 0-99 "$H/download/pkg.exe"|200 0 $SIZE
{"path":"/download/","endless":true}|-m 1 "$H/download/pkg.exe"|200 28 -
{"path":"/download/","garbage_headers":true}|"$H/download/pkg.exe"|200 8 -
{"path":"/download/","redirect_loop":true}|-L --max-redirs 3 "$H/download/pkg.exe"|302 47 -
{"path":"/download/other.exe","status":500}|-r 0-9 "$H/download/pkg.exe"|206 0 10
{"path":"/download/","method":"HEAD","status":500}|-r 0-9 "$H/download/pkg.exe"|206 0 10
EOF

reset
fault '{"path":"/download/","range_total":999,"cdn":"FRA"}'
H1=$(hdr -r 0-9 "$H/download/pkg.exe")
check "wrong Content-Range total" "bytes 0-9/999" "$(awk -F': ' '$1 == "Content-Range" {print $2}' <<<"$H1")"
check "CDN headers" "FRA HIT" "$(awk -F': ' '$1 == "CF-RAY" {sub(/.*-/, "", $2); print $2}' <<<"$H1") $(awk -F': ' '$1 == "CF-Cache-Status" {print $2}' <<<"$H1")"

reset
fault '{"path":"/download/","skip":1,"times":1,"status":503}'
check "skip and times pick the second request only" "200 503 200" \
    "$(for _ in 1 2 3; do "${C[@]}" -I -o /dev/null -w '%{http_code} ' "$H/download/pkg.exe"; done | sed 's/ $//')"

reset
fault '{"path":"/download/","change_content":true}'
m1=$("${C[@]}" "$H/download/pkg.exe" | md5sum | cut -d' ' -f1)
m2=$("${C[@]}" "$H/download/pkg.exe" | md5sum | cut -d' ' -f1)
check "changing file: first attempt is the real file" "$PKG_MD5" "$m1"
check_true "changing file: second attempt differs" [ "$m2" != "$m1" ]

reset
fault '{"path":"/download/","size_delta":-7}'
check "size_delta shrinks the file" "$((SIZE - 7))" "$("${C[@]}" -o /dev/null -w '%{size_download}' "$H/download/pkg.exe")"

reset
fault '[{"path":"/download/","throttle":100000},{"path":"/queryDownloaderV2","delay_ms":400},{"path":"/collect","stall_ms":400}]'
t=$("${C[@]}" -o /dev/null -w '%{time_total}' -r 0-49999 "$H/download/pkg.exe")
check_true "throttle 100000 B/s holds 50000 bytes for >= 0.4 s (took $t)" awk -v t="$t" 'BEGIN {exit !(t >= 0.4 && t < 3)}'
t=$("${C[@]}" -o /dev/null -w '%{time_starttransfer}' "$S/$Q")
check_true "delay before answering (took $t)" awk -v t="$t" 'BEGIN {exit !(t >= 0.4)}'
t=$("${C[@]}" -o /dev/null -w '%{time_starttransfer} %{time_total}' -d x "$S/collect")
check_true "stall after the headers ($t)" awk -v t="$t" 'BEGIN {split(t, a, " "); exit !(a[1] < 0.3 && a[2] >= 0.4)}'

reset
fault '{"path":"/api/v1/banners","body":[]}'
check "fixed reply body" "[]" "$("${C[@]}" "$S/api/v1/banners?$QB&verify=$(sign "$QB")")"
check "reset clears records" "[]" "$("${C[@]}" -d '' -o /dev/null "$H/__control/reset"; "${C[@]}" "$H/__control/requests")"
check "bad control JSON" "400" "$("${C[@]}" -o /dev/null -w '%{http_code}' -d '{bad' "$H/__control/faults")"

# --- Lifetime: the services end with the process they watch ---------------------------------
sleep 30 &
WATCHED=$!
P2=$(start_services "$WORK/out2.txt" --parent-pid $WATCHED)
kill $WATCHED
wait $WATCHED 2>/dev/null
for _ in $(seq 40); do kill -0 "$P2" 2>/dev/null || break; sleep 0.05; done
check_true "exits when the watched process ends" bash -c "! kill -0 $P2 2>/dev/null"
kill "$P2" 2>/dev/null

echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
