#!/bin/sh
# Starts a private CUPS scheduler for the tests: start-cupsd.sh DIR PORT [empty]
# Queue "twtest" keeps each document it receives as DIR/out/job-<id>.pdf, and
# the copies and options it was given in job-<id>.pdf.args;
# with "empty" the scheduler starts without queues.
# Prints the scheduler's pid; stop it with kill.
set -eu
dir=$1
port=$2
queues=${3:-twtest}
mkdir -p "$dir/bin/backend" "$dir/etc/ppd" "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/out"
chmod 0755 "$dir" "$dir/etc" "$dir/bin" "$dir/bin/backend"
chmod 0777 "$dir/out"
chmod 1777 "$dir/spool/tmp"
for d in daemon filter cgi-bin monitor notifier; do
  if [ -e "/usr/lib/cups/$d" ]; then ln -sfn "/usr/lib/cups/$d" "$dir/bin/$d"; fi
done
{
  echo '#!/bin/sh'
  echo 'if [ $# -eq 0 ]; then echo "direct twfile \"Unknown\" \"twprinter test output\""; exit 0; fi'
  echo "out=\"$dir/out/job-\$1.pdf\""
  echo 'printf "copies=%s %s\n" "$4" "$5" >"$out.args"'
  echo 'cat "${6:--}" >"$out.part" && mv "$out.part" "$out"'
} >"$dir/bin/backend/twfile"
chmod 0755 "$dir/bin/backend/twfile"
user=$(id -un)
group=$(id -gn)
if [ "$(id -u)" = 0 ]; then user=lp; group=lp; fi
cat >"$dir/etc/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
MaxJobs 0
MaxClients ${TW_CUPS_MAXCLIENTS:-100}
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
ServerBin $dir/bin
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/state/printcap
User $user
Group $group
SystemGroup root
FileDevice Yes
EOF
if [ "$queues" != empty ]; then
cat >"$dir/etc/printers.conf" <<EOF
<DefaultPrinter twtest>
Info twprinter test queue
DeviceURI twfile:/out
State Idle
StateTime 0
Type 4
Accepting Yes
Shared No
JobSheets none none
QuotaPeriod 0
PageLimit 0
KLimit 0
OpPolicy default
ErrorPolicy abort-job
</Printer>
EOF
fi
/usr/sbin/cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" </dev/null >"$dir/log/stdout" 2>&1 &
echo $!
