#!/usr/bin/env bash
# Runs the PHP stand-in of the web application (GET_KAVCMD.php and
# WRT_KAVCMD.php beside this script) on Apache with PHP from Debian's
# packages, on a loopback port, in the foreground. The system's own Apache
# configuration is never read or touched: the configuration, php.ini, pid
# and log files are written under a work folder of their own.
#
#   kav-webphp.sh [--port N] [--docroot DIR] [--queue DIR] [--workdir DIR]
#                 [--no-display-errors]
#
#   --port N       8080; 0 picks a free port
#   --docroot DIR  the folder that stands for C:\xampp\htdocs\Comandas
#                  (default $KAVCOMANDA_ROOT/xampp/htdocs/Comandas, else
#                  ~/KavComanda/xampp/htdocs/Comandas)
#   --queue DIR    the queue folder (default DOCROOT/queue)
#   --workdir DIR  configuration and logs (default a new temporary folder)
#   --no-display-errors
#                  PHP's errors go only to the error log; by default they are
#                  also shown in the page, as HTML, as on a development install
#
# The first line on standard output is the port, once Apache answers on it.
# SIGTERM or SIGINT stops Apache and ends the script. Apache will not serve
# as root: started by root, its workers run as www-data, which then needs to
# reach the folders (the queue and the tables folder are handed to it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
port=8080
root=${KAVCOMANDA_ROOT:-$HOME/KavComanda}
docroot=$root/xampp/htdocs/Comandas
queue=""
work=""
display_errors=On

while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --docroot) docroot=$2; shift 2 ;;
    --queue) queue=$2; shift 2 ;;
    --workdir) work=$2; shift 2 ;;
    --no-display-errors) display_errors=Off; shift ;;
    *) echo "kav-webphp: unknown option $1" >&2; exit 2 ;;
  esac
done

fail() { echo "kav-webphp: $*" >&2; exit 1; }

apache=${KAV_APACHE:-$(command -v apache2 || true)}
[ -n "$apache" ] || apache=/usr/sbin/apache2
[ -x "$apache" ] || fail "apache2 is not installed (apt-get install apache2 libapache2-mod-php)"
modules=/usr/lib/apache2/modules
php_module=$(ls "$modules"/libphp*.so 2>/dev/null | head -1 || true)
[ -n "$php_module" ] || fail "PHP's Apache module is not installed (apt-get install libapache2-mod-php)"

mkdir -p "$docroot"
docroot=$(cd "$docroot" && pwd)
[ -n "$queue" ] || queue=$docroot/queue
[ -n "$work" ] || work=$(mktemp -d "${TMPDIR:-/tmp}/kav-webphp-XXXXXX")
mkdir -p "$queue"/{CMD_IMP,CAN_ITE,CMD_FEC} "$docroot/tabelas" "$work"/{htdocs/Comandas,logs,run}
queue=$(cd "$queue" && pwd)
work=$(cd "$work" && pwd)
cp "$here"/GET_KAVCMD.php "$here"/WRT_KAVCMD.php "$here"/comum.php "$work/htdocs/Comandas/"
: > "$work/mime.types"

user_lines=""
if [ "$(id -u)" -eq 0 ]; then
  id www-data >/dev/null 2>&1 || fail "Apache will not serve as root, and there is no user www-data"
  user_lines=$'User www-data\nGroup www-data'
  chmod 755 "$work" "$work"/htdocs "$work"/htdocs/Comandas
  chmod 644 "$work"/htdocs/Comandas/*.php
  chown -R www-data:www-data "$queue" "$docroot/tabelas"
  for dir in "$work/htdocs/Comandas" "$queue" "$docroot"; do
    runuser -u www-data -- test -x "$dir" ||
      fail "www-data cannot reach $dir: make the folders on its path searchable (chmod o+x)"
  done
  runuser -u www-data -- test -w "$queue/CMD_IMP" || fail "www-data cannot write in $queue"
fi

cat > "$work/php.ini" <<INI
; The PHP stand-in's own settings, in place of the system's php.ini.
display_errors = $display_errors
html_errors = On
default_charset = UTF-8
error_reporting = E_ALL
log_errors = On
output_buffering = 0
expose_php = On
INI

pick_port() {
  local p
  for _ in $(seq 1 50); do
    p=$(( 20000 + RANDOM % 40000 ))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  return 1
}

write_config() {
  cat > "$work/httpd.conf" <<CONF
# The PHP stand-in of the web application; nothing of /etc/apache2 is used.
ServerRoot "$work"
ServerName 127.0.0.1
Listen 127.0.0.1:$1
PidFile "$work/run/apache2.pid"
DefaultRuntimeDir "$work/run"
ErrorLog "$work/logs/error.log"
LogLevel warn
LogFormat "%h %t \"%r\" %>s %b" common
CustomLog "$work/logs/access.log" common
$user_lines

LoadModule mpm_prefork_module $modules/mod_mpm_prefork.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule dir_module $modules/mod_dir.so
LoadModule mime_module $modules/mod_mime.so
LoadModule env_module $modules/mod_env.so
LoadModule php_module $php_module

StartServers 2
MinSpareServers 1
MaxSpareServers 4
MaxRequestWorkers 8
TypesConfig "$work/mime.types"
PHPIniDir "$work"

DocumentRoot "$work/htdocs"
DirectoryIndex index.php
<Directory />
  AllowOverride None
  Require all denied
</Directory>
<Directory "$work/htdocs">
  Require all granted
</Directory>
<FilesMatch "\.php$">
  SetHandler application/x-httpd-php
</FilesMatch>
SetEnv KAV_DOCROOT "$docroot"
SetEnv KAV_QUEUE "$queue"
CONF
}

apache_pid=""
stop() {
  if [ -n "$apache_pid" ]; then
    kill -TERM "$apache_pid" 2>/dev/null || true
    wait "$apache_pid" 2>/dev/null || true
  fi
  exit 0
}
trap stop TERM INT

# Apache's parent stops its workers by signalling its whole process group:
# with job control on, it runs in a group of its own, not in its caller's.
set -m
tries=1
[ "$port" = 0 ] && tries=5
for _ in $(seq 1 "$tries"); do
  use=$port
  if [ "$port" = 0 ]; then use=$(pick_port) || fail "no free loopback port found"; fi
  write_config "$use"
  "$apache" -f "$work/httpd.conf" -DFOREGROUND </dev/null >>"$work/logs/stdout.log" 2>&1 &
  apache_pid=$!
  for _ in $(seq 1 100); do
    if [ -s "$work/run/apache2.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$use") 2>/dev/null; then
      echo "$use"
      echo "kav-webphp: serving http://127.0.0.1:$use/Comandas/ from $work (queue $queue)" >&2
      wait "$apache_pid" || true
      exit 0
    fi
    kill -0 "$apache_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM "$apache_pid" 2>/dev/null || true
  wait "$apache_pid" 2>/dev/null || true
  apache_pid=""
done
tail -5 "$work/logs/error.log" "$work/logs/stdout.log" >&2 2>/dev/null || true
fail "Apache did not start"
